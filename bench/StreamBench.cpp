// Posts a large body from a TZnStrm to a TZnStrmServ over loopback and copies the same bytes
// over a plain TCP connection of two blocking sockets (64 KiB reads and writes on both ends,
// file to file, as our components do), and posts it once more inside TLS (fixed test keys; the
// sender names the negotiated cipher suite on its error output). Every side runs in a process of its own, so that the
// CPU time and the peak memory the kernel reports for each process (wait4) belong to that
// side alone. Then sends the same file from one peer's send-file window to another peer's
// receive-file window (two processes of window_bench, each with its main window and file
// windows on the offscreen platform; the windows always use port 2921). Does so for each size
// and prints a markdown table of throughput, CPU time (the whole processes' and the transfer's,
// without what each side used to start) and the receiver's peak resident memory,
// then whether the file windows met their targets against the plain copy at the largest size.
// Smaller sizes and fewer repeats make a quick run; the targets are set for 1 GiB and five.
//
//   stream_bench [--sizes BYTES,BYTES...] [--repeats 5] [--dir FOLDER] [--ip 127.0.0.2]
//                [--from 127.0.0.3] [--port 2921]
#include "bench/BenchOptions.h"
#include "bench/CopyEnds.h"
#include "bench/ChildProcess.h"
#include "bench/TransferFiles.h"
#include "net/Exceptions.h"
#include "net/TZnStrm.h"
#include "net/TZnStrmServ.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <sodium.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <optional>
#include <string>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr size_t Chunk = 65536;
// The targets of the file windows against the plain copy of the same run.
constexpr double TargetThroughput = 1.5; // at least this many times the plain copy's
constexpr double TargetCpu = 0.7;        // at most this share of the plain copy's CPU time
constexpr double TargetPeakMiB = 40;     // the receiver's peak resident memory

int plainReceiver(const BenchOptions &o)
{
    const int s = acceptOneCopy(o);
    const int out = open((o.dir + "/received-plain.bin").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (s < 0 || out < 0)
        fail("accept or create");
    std::vector<char> buffer(Chunk);
    for (;;) {
        const ssize_t n = recv(s, buffer.data(), Chunk, 0);
        if (n <= 0)
            break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer.data() + done, size_t(n - done));
            if (w <= 0)
                fail("write");
            done += w;
        }
    }
    close(out);
    close(s);
    return 0;
}

int plainSender(const BenchOptions &o)
{
    reportStartCpu();
    const int in = open(o.file.c_str(), O_RDONLY);
    if (in < 0)
        fail("open");
    QElapsedTimer clock;
    clock.start();
    const int s = connectToReceiver(o);
    std::vector<char> buffer(Chunk);
    for (;;) {
        const ssize_t k = read(in, buffer.data(), Chunk);
        if (k <= 0)
            break;
        for (ssize_t done = 0; done < k;) {
            const ssize_t n = send(s, buffer.data() + done, size_t(k - done), MSG_NOSIGNAL);
            if (n <= 0)
                fail("send");
            done += n;
        }
    }
    endSending(s, clock);
    close(in);
    return 0;
}

// Keys of the TLS post made from fixed seeds: the same in the sender's and the receiver's process.
TlsKeys benchKeys(bool sender)
{
    const auto pair = [](char fill) {
        QByteArray seed(crypto_sign_SEEDBYTES, fill), publicKey(crypto_sign_PUBLICKEYBYTES, '\0');
        unsigned char secret[crypto_sign_SECRETKEYBYTES];
        if (sodium_init() < 0
            || crypto_sign_seed_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), secret,
                                        reinterpret_cast<const unsigned char *>(seed.constData()))
                != 0)
            fail("keys");
        return std::pair{seed, publicKey};
    };
    const auto own = pair(sender ? 's' : 'r'), peer = pair(sender ? 'r' : 's');
    return {own.first, own.second, peer.second};
}

int oursReceiver(int argc, char **argv, const BenchOptions &o, bool tls)
{
    QCoreApplication app(argc, argv);
    TZnStrmServ server;
    server.Port = o.port;
    server.BindAddress = QString::fromStdString(o.ip);
    server.TempFolder = QString::fromStdString(o.dir);
    const QString target = QString::fromStdString(o.dir + (tls ? "/received-tls.bin" : "/received-ours.bin"));
    server.OnMSG = [target](TZnStrmServ *, const QByteArray &, QFile *strm) {
        QFile::remove(target);
        if (!strm->rename(target))
            throw Exception(QStringLiteral("cannot move the body"));
    };
    if (tls)
        server.TlsFor = [](const QString &) -> std::optional<TlsKeys> { return benchKeys(false); };
    server.OnDisconnect = [&app](RIzarorozi *) { app.quit(); };
    server.Loaded();
    if (!server.Listening())
        fail("listen");
    ready();
    reportStartCpu();
    return app.exec();
}

int oursSender(int argc, char **argv, const BenchOptions &o, bool tls)
{
    QCoreApplication app(argc, argv);
    QFile file(QString::fromStdString(o.file));
    if (!file.open(QIODevice::ReadOnly))
        fail("open");
    TZnStrm strm;
    strm.Host = QString::fromStdString(o.ip);
    strm.Port = o.port;
    if (tls)
        strm.Tls = benchKeys(true);
    QByteArray reply;
    reportStartCpu();
    QElapsedTimer clock;
    clock.start();
    try {
        strm.PostStream(file, reply);
    } catch (const Exception &e) {
        std::fprintf(stderr, "stream_bench: %s\n", e.what());
        return 1;
    }
    if (reply != QByteArray("OK") + QByteArray(14, ' ')) {
        std::fprintf(stderr, "stream_bench: no acknowledgement\n");
        return 1;
    }
    std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
    if (tls)
        std::fprintf(stderr, "stream_bench: inside TLS with %s\n", qPrintable(strm.TlsCipherSuite()));
    return 0;
}

struct Result {
    double elapsed = 0;
    double senderCpu = 0;   // the whole process's
    double receiverCpu = 0; // the whole process's
    double startCpu = 0;    // what both processes used to get ready for the transfer
    long receiverPeakKiB = 0;

    double wholeCpu() const { return senderCpu + receiverCpu; }
    // From each side being ready to its end: the CPU time the transfer itself cost.
    double transferCpu() const { return wholeCpu() - startCpu; }
};

// The roles of the file windows live in window_bench beside this program, so that this one
// stays free of the window libraries and its own roles' memory figures are theirs alone.
Result run(const std::string &self, const BenchOptions &o, const std::string &kind)
{
    const std::string program = kind == "windows" ? self.substr(0, self.rfind('/') + 1) + "window_bench"
                                                  : self;
    const auto args = [&](const std::string &role) {
        return std::vector<std::string>{program,
                                        "--role",
                                        kind + role,
                                        "--dir",
                                        o.dir,
                                        "--ip",
                                        o.ip,
                                        "--from",
                                        o.from,
                                        "--port",
                                        std::to_string(o.port),
                                        "--file",
                                        o.dir + "/source.bin"};
    };
    ::sync(); // the previous run's writes go to disk now, not during this run
    ChildProcess receiver(args("-recv"));
    if (receiver.line() != "ready\n")
        fail("receiver did not start");
    const double receiverStartCpu = std::atof(receiver.line().c_str());
    ChildProcess sender(args("-send"));
    const double senderStartCpu = std::atof(sender.line().c_str());
    const std::string elapsed = sender.line();
    const bool sent = sender.finish();
    const bool received = receiver.finish();
    const std::string copy = o.dir + "/received-" + kind + ".bin";
    if (!sent || !received || elapsed.empty() || !sameContent(o.dir + "/source.bin", copy)) {
        std::fprintf(stderr, "stream_bench: the %s transfer failed\n", kind.c_str());
        std::exit(1);
    }
    std::remove(copy.c_str());
    return {std::atof(elapsed.c_str()), sender.cpuSeconds(), receiver.cpuSeconds(),
            senderStartCpu + receiverStartCpu, receiver.peakKiB()};
}

Result medianRun(std::vector<Result> runs)
{
    std::sort(runs.begin(), runs.end(),
              [](const Result &a, const Result &b) { return a.elapsed < b.elapsed; });
    return runs[runs.size() / 2];
}

// One row of the table: our figures beside the plain copy of the same run.
void row(const char *name, long long size, const Result &r, const Result &plain)
{
    std::printf("| %s | %s | %.0f | %.2f | %.3f | %.3f | %.3f | %.2f | %.2f | %.1f |\n",
                sizeText(size).c_str(), name, double(size) / r.elapsed / (1 << 20), plain.elapsed / r.elapsed,
                r.senderCpu, r.receiverCpu, r.startCpu, r.transferCpu() / plain.transferCpu(),
                r.wholeCpu() / plain.wholeCpu(), double(r.receiverPeakKiB) / 1024);
    std::fflush(stdout);
}

const char *verdict(bool met) { return met ? "met" : "not met"; }

// Whether the file windows met their targets at this size (the largest of the run). The plain
// copy and the file windows of one repeat ran back to back, so each repeat gives one pair of
// ratios; the targets are judged on the medians of the pairs' ratios (and of the peaks), which
// a disturbance of one run moves less than the figures of any single run. The CPU target is
// judged on the transfer's CPU time, over the same span as the throughput (the two peers' start
// is not part of moving a file); the whole processes' ratio is printed beside it.
void targets(long long size, const std::vector<Result> &windows, const std::vector<Result> &plains)
{
    std::vector<double> throughputs, cpus, wholeCpus, peaks;
    for (std::size_t i = 0; i < windows.size(); ++i) {
        throughputs.push_back(plains[i].elapsed / windows[i].elapsed);
        cpus.push_back(windows[i].transferCpu() / plains[i].transferCpu());
        wholeCpus.push_back(windows[i].wholeCpu() / plains[i].wholeCpu());
        peaks.push_back(double(windows[i].receiverPeakKiB) / 1024);
    }
    const double throughput = median(throughputs), cpu = median(cpus), peak = median(peaks);
    const auto list = [](const char *what, const std::vector<double> &ratios) {
        std::printf("%s", what);
        for (const double ratio : ratios)
            std::printf(" %.2f", ratio);
        std::printf(".\n");
    };
    std::printf("CPU ratios of the file windows at %s in each repeat:\n\n", sizeText(size).c_str());
    list("- the transfer:", cpus);
    list("- the whole processes, their start included:", wholeCpus);
    std::printf("\nTargets of the file windows at %s against the plain copy, medians of the %zu repeats' "
                "ratios: throughput %.2f x (at least %.1f x): %s; transfer CPU %.2f x (at most %.1f x): %s "
                "(whole processes %.2f x); receiver peak %.1f MiB (at most %.0f MiB): %s.\n\n",
                sizeText(size).c_str(), windows.size(), throughput, TargetThroughput,
                verdict(throughput >= TargetThroughput), cpu, TargetCpu, verdict(cpu <= TargetCpu),
                median(wholeCpus), peak, TargetPeakMiB, verdict(peak <= TargetPeakMiB));
}

} // namespace

int main(int argc, char **argv)
{
    BenchOptions o = BenchOptions::parse(argc, argv);
    if (o.role == "plain-recv")
        return plainReceiver(o);
    if (o.role == "plain-send")
        return plainSender(o);
    if (o.role == "ours-recv" || o.role == "tls-recv")
        return oursReceiver(argc, argv, o, o.role == "tls-recv");
    if (o.role == "ours-send" || o.role == "tls-send")
        return oursSender(argc, argv, o, o.role == "tls-send");

    std::printf("### File transfer\n\nLoopback %s:%d, file to file, each side a process of its own; "
                "ratios are against the plain TCP copy of the same size in the same run "
                "(throughput: ours / plain; CPU: ours / plain). The sender's and receiver's CPU seconds "
                "are the whole processes', their start included; start is what both used until they were "
                "ready for the transfer (the receiver listening, the sender about to connect), and the "
                "transfer's CPU is the rest. Each copy ran %d times, the kinds taking turns; the run of "
                "median time is shown.\n\n",
                o.ip.c_str(), o.port, int(o.repeats));
    std::printf("| size | copy | MiB/s | throughput ratio | sender CPU s | receiver CPU s | start CPU s | "
                "CPU ratio, transfer | CPU ratio, whole processes | receiver peak MiB |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::vector<Result> largestWindows, largestPlains;
    for (const long long size : o.sizes) {
        o.size = size;
        makeSource(o.dir + "/source.bin", size);
        // Each copy runs several times, the four kinds taking turns, so that a disturbance of
        // the shared disk or CPU falls on one run of one kind; the run of median time counts.
        std::vector<Result> plains, ourses, tlses, windowses;
        for (long repeat = 0; repeat < o.repeats; ++repeat) {
            plains.push_back(run(argv[0], o, "plain"));
            ourses.push_back(run(argv[0], o, "ours"));
            tlses.push_back(run(argv[0], o, "tls"));
            windowses.push_back(run(argv[0], o, "windows"));
        }
        const Result plain = medianRun(plains), ours = medianRun(ourses), tls = medianRun(tlses),
                     windows = medianRun(windowses);
        std::remove((o.dir + "/source.bin").c_str());
        row("plain TCP", size, plain, plain);
        row("stream post", size, ours, plain);
        row("stream post inside TLS", size, tls, plain);
        row("file windows", size, windows, plain);
        largestWindows = windowses;
        largestPlains = plains;
    }
    std::printf("\n");
    if (!o.sizes.empty())
        targets(o.sizes.back(), largestWindows, largestPlains);
    return 0;
}
