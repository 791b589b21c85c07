// Posts a large body from a TZnStrm to a TZnStrmServ over loopback and copies the same bytes
// over a plain TCP connection of two blocking sockets (64 KiB reads and writes on both ends,
// file to file, as our components do). Every side runs in a process of its own, so that the
// CPU time and the peak memory the kernel reports for each process (wait4) belong to that
// side alone. Then sends the same file from one peer's send-file window to another peer's
// receive-file window (two processes of window_bench, each with its main window and file
// windows on the offscreen platform; the windows always use port 2921). Prints throughput, CPU time and the
// receiver's peak resident memory of each.
//
//   stream_bench [--size BYTES] [--dir FOLDER] [--ip 127.0.0.2] [--from 127.0.0.3] [--port 2921]
#include "bench/BenchOptions.h"
#include "net/Exceptions.h"
#include "net/TZnStrm.h"
#include "net/TZnStrmServ.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <netinet/in.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

constexpr size_t Chunk = 65536;

sockaddr_in address(const BenchOptions &o)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(o.port));
    inet_pton(AF_INET, o.ip.c_str(), &a.sin_addr);
    return a;
}

double seconds(const timeval &t)
{
    return double(t.tv_sec) + double(t.tv_usec) / 1e6;
}

int plainReceiver(const BenchOptions &o)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = address(o);
    if (bind(listener, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 || listen(listener, 1) != 0)
        fail("listen");
    ready();
    const int s = accept(listener, nullptr, nullptr);
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
    const int in = open(o.file.c_str(), O_RDONLY);
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = address(o);
    QElapsedTimer clock;
    clock.start();
    if (in < 0 || connect(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        fail("open or connect");
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
    shutdown(s, SHUT_WR);
    char end = 0;
    while (recv(s, &end, 1, 0) > 0) {
    }
    std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
    close(s);
    close(in);
    return 0;
}

int oursReceiver(int argc, char **argv, const BenchOptions &o)
{
    QCoreApplication app(argc, argv);
    TZnStrmServ server;
    server.Port = o.port;
    server.BindAddress = QString::fromStdString(o.ip);
    server.TempFolder = QString::fromStdString(o.dir);
    const QString target = QString::fromStdString(o.dir + "/received-ours.bin");
    server.OnMSG = [target](TZnStrmServ *, const QByteArray &, QFile *strm) {
        QFile::remove(target);
        if (!strm->rename(target))
            throw Exception(QStringLiteral("cannot move the body"));
    };
    server.OnDisconnect = [&app](RIzarorozi *) { app.quit(); };
    server.Loaded();
    if (!server.Listening())
        fail("listen");
    ready();
    return app.exec();
}

int oursSender(int argc, char **argv, const BenchOptions &o)
{
    QCoreApplication app(argc, argv);
    QFile file(QString::fromStdString(o.file));
    if (!file.open(QIODevice::ReadOnly))
        fail("open");
    TZnStrm strm;
    strm.Host = QString::fromStdString(o.ip);
    strm.Port = o.port;
    QByteArray reply;
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
    return 0;
}

// A child process of this program in one role, with its standard output on a pipe.
struct Child {
    pid_t pid = -1;
    FILE *out = nullptr;
    rusage usage{};

    Child(const std::string &program, const BenchOptions &o, const std::string &role)
    {
        int pipeFds[2];
        if (pipe(pipeFds) != 0)
            fail("pipe");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
        const std::string port = std::to_string(o.port);
        std::vector<std::string> args{program, "--role", role, "--dir", o.dir, "--ip", o.ip, "--from", o.from,
                                      "--port", port, "--file", o.dir + "/source.bin"};
        std::vector<char *> argv;
        for (std::string &a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        if (posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0)
            fail("spawn");
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        out = fdopen(pipeFds[0], "r");
    }
    std::string line()
    {
        char text[128] = {};
        return std::fgets(text, sizeof text, out) ? std::string(text) : std::string();
    }
    bool finish()
    {
        int status = 0;
        if (wait4(pid, &status, 0, &usage) != pid)
            fail("wait");
        fclose(out);
        return WIFEXITED(status) && WEXITSTATUS(status) == 0;
    }
    double cpu() const { return seconds(usage.ru_utime) + seconds(usage.ru_stime); }
};

struct Result {
    double elapsed = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
    long receiverPeakKiB = 0;
};

bool sameContent(const std::string &a, const std::string &b)
{
    FILE *fa = std::fopen(a.c_str(), "rb");
    FILE *fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(Chunk), bb(Chunk);
    while (same) {
        const size_t na = std::fread(ba.data(), 1, Chunk, fa);
        const size_t nb = std::fread(bb.data(), 1, Chunk, fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0)
            break;
    }
    if (fa) std::fclose(fa);
    if (fb) std::fclose(fb);
    return same;
}

// The roles of the file windows live in window_bench beside this program, so that this one
// stays free of the window libraries and its own roles' memory figures are theirs alone.
Result run(const std::string &self, const BenchOptions &o, const std::string &kind)
{
    const std::string program = kind == "windows" ? self.substr(0, self.rfind('/') + 1) + "window_bench" : self;
    Child receiver(program, o, kind + "-recv");
    if (receiver.line() != "ready\n")
        fail("receiver did not start");
    Child sender(program, o, kind + "-send");
    const std::string elapsed = sender.line();
    const bool sent = sender.finish();
    const bool received = receiver.finish();
    const std::string copy = o.dir + "/received-" + kind + ".bin";
    if (!sent || !received || elapsed.empty() || !sameContent(o.dir + "/source.bin", copy)) {
        std::fprintf(stderr, "stream_bench: the %s transfer failed\n", kind.c_str());
        std::exit(1);
    }
    std::remove(copy.c_str());
    return {std::atof(elapsed.c_str()), sender.cpu(), receiver.cpu(), receiver.usage.ru_maxrss};
}

void makeSource(const BenchOptions &o)
{
    const std::string path = o.dir + "/source.bin";
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        fail("create source");
    std::vector<unsigned char> block(Chunk);
    unsigned state = 12345;
    const long long chunk = Chunk;
    for (long long written = 0; written < o.size; written += chunk) {
        for (unsigned char &c : block)
            c = (state = state * 1103515245u + 12345u) >> 24;
        std::fwrite(block.data(), 1, size_t(std::min(chunk, o.size - written)), f);
    }
    std::fclose(f);
}

void print(const char *name, const Result &r, long long size)
{
    std::printf("%-10s %12.1f %11.2f %11.2f %11.2f %11.1f\n", name,
                double(size) / r.elapsed / (1 << 20), r.senderCpu, r.receiverCpu,
                r.senderCpu + r.receiverCpu, double(r.receiverPeakKiB) / 1024);
}

// The targets against the plain copy: throughput and the receiver's peak memory, and for the
// stream post its CPU time too.
void judge(const Result &plain, const Result &r, bool cpu)
{
    const double throughputRatio = plain.elapsed / r.elapsed;
    const double cpuRatio = (r.senderCpu + r.receiverCpu) / (plain.senderCpu + plain.receiverCpu);
    const double peak = double(r.receiverPeakKiB) / 1024;
    std::printf("  throughput ratio %.2f (target >= 0.80): %s\n", throughputRatio, throughputRatio >= 0.8 ? "met" : "MISSED");
    if (cpu)
        std::printf("  CPU ratio        %.2f (target <= 1.50): %s\n", cpuRatio, cpuRatio <= 1.5 ? "met" : "MISSED");
    std::printf("  receiver peak    %.1f MiB (target < 64): %s\n", peak, peak < 64 ? "met" : "MISSED");
}

} // namespace

int main(int argc, char **argv)
{
    const BenchOptions o = BenchOptions::parse(argc, argv);
    if (o.role == "plain-recv") return plainReceiver(o);
    if (o.role == "plain-send") return plainSender(o);
    if (o.role == "ours-recv") return oursReceiver(argc, argv, o);
    if (o.role == "ours-send") return oursSender(argc, argv, o);

    makeSource(o);
    const Result plain = run(argv[0], o, "plain");
    const Result ours = run(argv[0], o, "ours");
    const Result windows = run(argv[0], o, "windows");
    std::remove((o.dir + "/source.bin").c_str());

    std::printf("%lld bytes over loopback %s:%d, file to file, each side its own process\n",
                o.size, o.ip.c_str(), o.port);
    std::printf("%-10s %12s %11s %11s %11s %11s\n", "", "MiB/s", "send CPU s", "recv CPU s",
                "total CPU s", "recv peak MiB");
    print("plain TCP", plain, o.size);
    print("stream", ours, o.size);
    print("windows", windows, o.size);
    std::printf("stream post:\n");
    judge(plain, ours, true);
    std::printf("file windows (peer %s to peer %s, port 2921):\n", o.from.c_str(), o.ip.c_str());
    judge(plain, windows, false);
    return 0;
}
