// File sets (docs/file-sets.md) over loopback, both ends in this process (each receiving
// connection on a thread of its own), against baselines of the same run:
// - many small files: a tree of --files files of 4 KiB in nested folders, offered as one set and
//   sent inside TLS into the real receiver (SetReceiver: a temporary file renamed when whole,
//   the journal), against `tar -c | socat` to `socat | tar -x` over a loopback TCP connection,
//   each into a fresh folder of the same file system; from the start until every file is on
//   disk (the set acknowledged, tar -x ended);
// - one large file of --size bytes: a set of that one file against the single-file post
//   (TZnStrm to TZnStrmServ), both inside TLS, and both plain for reference;
// - resume: the large set paused by the receiver once it holds 60 % of the file (its server
//   stops, as the receive window's pause does), then asked for again as the receive window
//   does (the bytes its temporary file holds and their resume hash in a send answer) and
//   planned as the send window does; the bytes sent after the pause, and the file's hash.
// Each set goes as the windows make it: the receiver's send answer through its wire bytes, the
// sender's records from planRecords, one PostSet. The kinds take turns in each of --repeats
// repeats, the disk synced before each; the data under --dir is removed afterwards. Prints
// markdown tables and whether each target was met.
//
//   set_bench [--dir FOLDER] [--repeats 5] [--size 1073741824] [--files 10000]
//             [--ip 127.0.0.2] [--port 2921] [--only small|large|resume]
// The tar baseline listens on --port + 1.
#include "bench/BenchOptions.h"
#include "bench/ChildProcess.h"
#include "bench/SetFiles.h"
#include "bench/TarCopy.h"
#include "bench/TransferFiles.h"
#include "fileset/SetDatagrams.h"
#include "fileset/SetPlacement.h"
#include "fileset/SetPlan.h"
#include "fileset/SetReceiver.h"
#include "fileset/SetStores.h"
#include "fileset/SetWalk.h"
#include "net/Exceptions.h"
#include "net/SetStrm.h"
#include "net/SetStrmServ.h"
#include "net/TZnStrm.h"
#include "net/TZnStrmServ.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using namespace Qt::Literals::StringLiterals;

const QByteArray Acknowledgement = QByteArray("OK") + QByteArray(14, ' ');
constexpr double TargetSmallFiles = 1.5; // the set's time at most this many times tar's
constexpr double TargetLargeFile = 0.9;  // the set's throughput at least this share of the single-file post's
constexpr double PauseShare = 0.6;       // the resumed set is paused once the receiver holds this share
constexpr qint64 ResumeSlack = 1 << 20;  // what the resume may send beyond the rest of the file
constexpr int PausePollMs = 1;           // how often the pausing receiver looks at its figures
constexpr int StallMs = 60000;           // a socket wait that moves nothing this long fails the run
constexpr int EndWaitMs = 10000;         // for the receiver's end of a set after the sender's

// One target of the run and what the run gave.
struct Verdict {
    std::string target;
    std::string figure;
    bool met = false;
};

std::string format(const char *pattern, auto... values)
{
    char text[256];
    std::snprintf(text, sizeof text, pattern, values...);
    return text;
}

// An Ed25519 key pair from libsodium.
struct KeyPair {
    QByteArray seed = QByteArray(crypto_sign_SEEDBYTES, '\0');
    QByteArray publicKey = QByteArray(crypto_sign_PUBLICKEYBYTES, '\0');

    KeyPair()
    {
        unsigned char secret[crypto_sign_SECRETKEYBYTES];
        if (sodium_init() < 0
            || crypto_sign_keypair(reinterpret_cast<unsigned char *>(publicKey.data()), secret) != 0)
            fail("keys");
        std::memcpy(seed.data(), secret, crypto_sign_SEEDBYTES); // the secret key is seed + public key
    }
};

// The keys of the two ends inside TLS, each pinning the other's; none for plain runs.
struct EndKeys {
    std::optional<TlsKeys> sender, receiver;

    static EndKeys tls()
    {
        const KeyPair s, r;
        return {TlsKeys{s.seed, s.publicKey, r.publicKey}, TlsKeys{r.seed, r.publicKey, s.publicKey}};
    }
    static EndKeys plain() { return {}; }
};

// Wall-clock seconds and CPU seconds of one run: all of it, and the receiving side's.
struct Run {
    double seconds = 0;
    double cpu = 0;
    double receiverCpu = 0;
};

// The CPU seconds the calling thread has used so far.
double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// Times a run of this process (both ends' threads).
class Stopwatch {
public:
    Stopwatch() : cpu_(cpuSecondsSoFar()) { clock_.start(); }
    Run stop() const { return {double(clock_.nsecsElapsed()) / 1e9, cpuSecondsSoFar() - cpu_}; }

private:
    QElapsedTimer clock_;
    double cpu_;
};

// Runs this thread's events until done() or ms have passed; done() then.
bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) {
        QCoreApplication::processEvents();
        QThread::msleep(1);
    }
    return done();
}

// Fresh folders under one base, a new name for each run (a just-emptied folder is slow to fill
// again on ext4); what a run did not drop is removed at the end.
class Scratch {
public:
    explicit Scratch(QString base) : base_(std::move(base)) {}
    ~Scratch() { QDir(base_).removeRecursively(); }

    QString fresh()
    {
        const QString folder = base_ + u"/run-"_s + QString::number(++runs_);
        if (!QDir().mkpath(folder))
            fail("make a run's folder");
        return folder;
    }
    static void drop(const QString &folder) { QDir(folder).removeRecursively(); }

private:
    QString base_;
    int runs_ = 0;
};

// What the sender offers when the person chooses these paths, under a new set id.
OutgoingSet offerOf(const LocalSet &local)
{
    OutgoingSet set;
    set.setId = newSetId();
    set.peerIp = u"127.0.0.2"_s;
    set.createdMs = QDateTime::currentMSecsSinceEpoch();
    set.manifest = local.manifest;
    set.localPaths = local.localPaths;
    return set;
}

// One offered set on the receiving side as the receive window keeps it: accepted into root,
// its state in a store of its own, each stream into a fresh SetReceiver.
class IncomingEnd {
public:
    IncomingEnd(const QString &folder, const OutgoingSet &offered)
        : offer(SetOffer::describe(offered.setId, offered.manifest, QString())), root(folder + u"/in"_s),
          store_(folder + u"/store"_s)
    {
        IncomingSet set;
        set.setId = offer.setId;
        set.peerIp = u"127.0.0.1"_s;
        set.createdMs = QDateTime::currentMSecsSinceEpoch();
        set.offer = offer.encode();
        set.root = root;
        QString error;
        if (!QDir().mkpath(root) || !store_.saveIncoming(set, &error))
            fail("keep the incoming set");
    }

    // The send answer of the receive window: every file not yet in place (all entries while the
    // manifest has not come), the first one held in part from where its temporary file ends,
    // with the resume hash of the bytes before.
    SetAnswer answer() const
    {
        const IncomingSet set = *store_.incoming(offer.setId);
        const QSet<quint32> finished = store_.finished(offer.setId);
        const std::optional<Manifest> manifest = Manifest::parse(set.manifest, nullptr);
        QList<quint32> wanted;
        for (quint32 i = 0; i < offer.entryCount; ++i)
            if ((!manifest || !manifest->entries[int(i)].isFolder()) && !finished.contains(i))
                wanted.append(i);
        SetAnswer answer;
        answer.setId = offer.setId;
        answer.ranges = SetAnswer::rangesOf(wanted);
        if (manifest) {
            const SetPlacement placement = placementOf(set, *manifest);
            for (const quint32 index : std::as_const(wanted))
                if (const qint64 held = placement.heldBytes(int(index)); held > 0) {
                    answer.resumeIndex = index;
                    answer.resumeOffset = std::min(held, manifest->entries[int(index)].size);
                    answer.resumeHash = resumeHash(placement.tempPath(int(index)), answer.resumeOffset);
                    break;
                }
        }
        return answer;
    }

    // A receiver for the next stream: the set as the store keeps it, with what is in place.
    std::shared_ptr<SetReceiver> nextReceiver() const
    {
        return std::make_shared<SetReceiver>(store_, *store_.incoming(offer.setId), offer,
                                             store_.finished(offer.setId));
    }

    // The bytes the temporary file of an entry holds; 0 before the manifest came.
    qint64 heldBytes(int index) const
    {
        const IncomingSet set = *store_.incoming(offer.setId);
        const std::optional<Manifest> manifest = Manifest::parse(set.manifest, nullptr);
        return manifest ? placementOf(set, *manifest).heldBytes(index) : 0;
    }

    const SetOffer offer;
    const QString root; // where the set's top names go

private:
    static SetPlacement placementOf(const IncomingSet &set, const Manifest &manifest)
    {
        SetPlacement placement(set.root, set.setId, manifest);
        placement.setTopNames(set.topNames);
        return placement;
    }

    SetStore store_;
};

// Hands a stream to the real receiver and takes the CPU time of the connection's thread (its
// own, from the accept) just before the end: the receiving side's share of a run.
class CpuTakingSink : public SetSink {
public:
    explicit CpuTakingSink(std::shared_ptr<SetReceiver> receiver) : receiver_(std::move(receiver)) {}

    double cpuSeconds() const { return cpu_.load(); }

    bool acceptHeader(const QByteArray &setId, const QByteArray &manifest, QString *refusal) override
    {
        return receiver_->acceptHeader(setId, manifest, refusal);
    }
    int openFile(quint32 index, qint64 start, qint64 length) override
    {
        return receiver_->openFile(index, start, length);
    }
    void fileDone(quint32 index) override { receiver_->fileDone(index); }
    void fileSkipped(quint32 index, const QByteArray &reason) override
    {
        receiver_->fileSkipped(index, reason);
    }
    void progress(qint64 bodyBytes) override { receiver_->progress(bodyBytes); }
    void finished() override { receiver_->finished(); }
    void ended(bool acknowledged, const QString &reason) override
    {
        cpu_ = threadCpuSeconds(); // before the receiver's figures say it ended
        receiver_->ended(acknowledged, reason);
    }

private:
    const std::shared_ptr<SetReceiver> receiver_;
    std::atomic<double> cpu_{0};
};

// The receiving server of sets on --ip:--port: each connection goes into the sink given last.
class SetServer {
public:
    SetServer(const BenchOptions &o, const std::optional<TlsKeys> &tls)
    {
        server.Port = o.port;
        server.BindAddress = QString::fromStdString(o.ip);
        server.StallTimeOut = StallMs;
        server.SinkFor = [this](const QString &) { return sink_; };
        if (tls)
            server.TlsFor = [tls](const QString &) { return tls; };
        listen();
    }
    void listen()
    {
        if (!server.Listening())
            server.Loaded();
        if (!server.Listening())
            fail("listen for sets");
    }
    void expect(std::shared_ptr<SetSink> sink) { sink_ = std::move(sink); }

    SetStrmServ server;

private:
    std::shared_ptr<SetSink> sink_;
};

// One stream of a set and what came of it.
struct SetPost {
    Run run;
    qint64 bodyBytes = 0; // of the files, as the sender counted them
    qint64 startedAt = 0; // the offset the first record started from
    int filesDone = 0;    // in place at the receiver, the earlier streams' too
    bool acknowledged = false;
    QString error;
};

// One stream of a set as the windows make it, timed from the receiver's send answer to the
// acknowledgement: the answer through its wire bytes, the sender's records from planRecords,
// one PostSet. pauseAt > 0: the receiver stops its server once it holds that many bytes of the
// set, as its window's pause does.
SetPost streamSet(const BenchOptions &o, const OutgoingSet &out, const IncomingEnd &in, SetServer &server,
                  const std::optional<TlsKeys> &tls, qint64 pauseAt = 0)
{
    const std::shared_ptr<SetReceiver> receiver = in.nextReceiver();
    const auto sink = std::make_shared<CpuTakingSink>(receiver);
    server.listen();
    server.expect(sink);
    SetStrm strm;
    strm.Host = QString::fromStdString(o.ip);
    strm.Port = o.port;
    strm.StallTimeOut = StallMs;
    strm.Tls = tls;
    QTimer pause;
    if (pauseAt > 0) {
        pause.setInterval(PausePollMs);
        QObject::connect(&pause, &QTimer::timeout, [&] {
            if (receiver->figures().bytesDone >= pauseAt) {
                server.server.StopListening();
                pause.stop();
            }
        });
        pause.start();
    }
    SetPost post;
    QByteArray reply;
    const Stopwatch watch;
    const std::optional<SetAnswer> answer = SetAnswer::parse(in.answer().encode());
    if (!answer)
        fail("the send answer does not parse");
    const QList<SetStrm::Record> records = planRecords(out, *answer);
    try {
        strm.PostSet(out.setId, out.manifest.encode(), records, reply);
    } catch (const Exception &e) {
        post.error = e.message();
    }
    post.run = watch.stop();
    pause.stop();
    if (!waitFor([&] { return receiver->figures().ended; }, EndWaitMs))
        fail("the receiver did not end");
    server.expect(nullptr);
    post.run.receiverCpu = sink->cpuSeconds();
    const SetReceiver::Figures figures = receiver->figures();
    post.bodyBytes = strm.BytesSent();
    post.startedAt = records.isEmpty() ? 0 : records.first().start;
    post.filesDone = figures.filesDone;
    post.acknowledged = reply == Acknowledgement && figures.acknowledged;
    if (post.error.isEmpty())
        post.error = figures.refusal + figures.error;
    return post;
}

// The single-file post of source into folder (the receiver's temporary file renamed there).
Run postSingleFile(const BenchOptions &o, const QString &source, const QString &folder, const EndKeys &keys)
{
    TZnStrmServ server;
    server.Port = o.port;
    server.BindAddress = QString::fromStdString(o.ip);
    server.StallTimeOut = StallMs;
    server.TempFolder = folder;
    const QString target = folder + u"/source.bin"_s;
    std::atomic<double> receiverCpu{0};
    server.OnMSG = [target, &receiverCpu](TZnStrmServ *, const QByteArray &, QFile *strm) {
        receiverCpu = threadCpuSeconds(); // the connection's own thread, from the accept
        if (!strm->rename(target))
            throw Exception(u"cannot move the body"_s);
    };
    if (keys.receiver)
        server.TlsFor = [tls = keys.receiver](const QString &) { return tls; };
    server.Loaded();
    if (!server.Listening())
        fail("listen for the post");
    QFile file(source);
    if (!file.open(QIODevice::ReadOnly))
        fail("open the source");
    TZnStrm strm;
    strm.Host = QString::fromStdString(o.ip);
    strm.Port = o.port;
    strm.StallTimeOut = StallMs;
    strm.Tls = keys.sender;
    QByteArray reply;
    const Stopwatch watch;
    try {
        strm.PostStream(file, reply);
    } catch (const Exception &e) {
        std::fprintf(stderr, "set_bench: the single-file post: %s\n", e.what());
    }
    Run run = watch.stop();
    if (reply != Acknowledgement)
        fail("the single-file post was not acknowledged");
    run.receiverCpu = receiverCpu;
    return run;
}

// tar -c of the tree in source through socat over a loopback TCP connection to socat and
// tar -x in folder: from the sender's start to the end of tar -x. CPU: both pipelines, whole.
Run tarCopy(const BenchOptions &o, const QString &source, const QString &folder)
{
    const auto here = [](const std::vector<std::string> &command) { return command; };
    const std::optional<TarCopy> tar = ::tarCopy(o.ip, o.port + 1, source.toStdString(), "tree",
                                                 folder.toStdString(), here, here, EndWaitMs);
    if (!tar)
        fail("the tar copy failed");
    return {tar->seconds, tar->senderCpu + tar->receiverCpu, tar->receiverCpu};
}

double medianOf(const std::vector<Run> &runs, double Run::*field)
{
    std::vector<double> values;
    for (const Run &run : runs)
        values.push_back(run.*field);
    return median(values);
}

std::string listOf(const std::vector<double> &values)
{
    std::string text;
    for (const double value : values)
        text += format(text.empty() ? "%.2f" : ", %.2f", value);
    return text;
}

// The tree of small files, sent as one set inside TLS and copied by tar over a TCP pipe. The
// copies stay until the end: ext4 makes a file slowly while many inodes of its group were freed
// in the last seconds (it skips them), so removing one run's copy would slow the next run down.
void smallFiles(const BenchOptions &o, int files, std::vector<Verdict> &verdicts)
{
    Scratch scratch(QString::fromStdString(o.dir) + u"/set-small"_s);
    const QString source = scratch.fresh();
    SetFiles::makeTree(source, files);
    QElapsedTimer walkClock;
    walkClock.start();
    const LocalSet local = SetFiles::walk({source + u"/tree"_s});
    const double walkSeconds = double(walkClock.nsecsElapsed()) / 1e9;
    const EndKeys keys = EndKeys::tls();
    SetServer server(o, keys.receiver);
    std::vector<Run> tars, sets;
    std::vector<double> ratios;
    const auto copyByTar = [&] {
        const QString folder = scratch.fresh();
        ::sync();
        tars.push_back(tarCopy(o, source, folder));
        if (SetFiles::differences(local, folder) != 0)
            fail("tar's copy differs");
    };
    const auto sendSet = [&] {
        const OutgoingSet out = offerOf(local);
        const IncomingEnd in(scratch.fresh(), out);
        ::sync();
        const SetPost post = streamSet(o, out, in, server, keys.sender);
        if (!post.acknowledged || post.filesDone != files || SetFiles::differences(local, in.root) != 0) {
            std::fprintf(stderr, "set_bench: the set of small files failed: %s\n", qPrintable(post.error));
            std::exit(1);
        }
        sets.push_back(post.run);
    };
    // Each goes first in every other repeat: the file system fills up as the copies stay.
    for (long repeat = 0; repeat < o.repeats; ++repeat) {
        if (repeat % 2 == 0) {
            copyByTar();
            sendSet();
        } else {
            sendSet();
            copyByTar();
        }
        ratios.push_back(sets.back().seconds / tars.back().seconds);
    }
    const int fileFolders = (files + SetFiles::FilesPerFolder - 1) / SetFiles::FilesPerFolder;
    const int folders = int(local.manifest.entries.size()) - files;
    const double mib = double(files) * double(SetFiles::SmallFileBytes) / (1 << 20);
    std::printf(
        "#### File sets: many small files\n\n%d files of %lld bytes, %d to a folder, %d of the %d folders "
        "with their files %d folders further down (%d folders in all), from one folder to a fresh one on "
        "the same disk over loopback %s. The copies stay until the end (ext4 makes files slowly while "
        "many inodes were freed in the last minutes). *set*: one offer sent inside TLS 1.3 into the real "
        "receiver (each file through a temporary file renamed when whole, the journal), from the "
        "receiver's send answer to its acknowledgement; the sender's listing of the tree (walkSet, at the "
        "offer) took %.3f s. *tar*: `tar -c | socat` to `socat | tar -x` over TCP port %d, from the "
        "sender's start to the end of tar -x. CPU: this process for the set (both ends), both pipelines "
        "whole for tar; the receiving side's: the receiving connection's thread, and socat and tar -x. "
        "%ld repeats, the two taking turns (each first in every other repeat); medians.\n\n",
        files, SetFiles::SmallFileBytes, SetFiles::FilesPerFolder, fileFolders / SetFiles::DeepEvery,
        fileFolders, SetFiles::DeepLevels, folders, o.ip.c_str(), walkSeconds, o.port + 1, o.repeats);
    std::printf("| copy | s | files/s | MiB/s | CPU s | receiving side's CPU s | time against tar |\n"
                "|---|---|---|---|---|---|---|\n");
    const auto row = [&](const char *name, const std::vector<Run> &runs, double ratio) {
        const double seconds = medianOf(runs, &Run::seconds);
        std::printf("| %s | %.3f | %.0f | %.1f | %.3f | %.3f | %.2f |\n", name, seconds, files / seconds,
                    mib / seconds, medianOf(runs, &Run::cpu), medianOf(runs, &Run::receiverCpu), ratio);
    };
    row("tar over a loopback TCP pipe", tars, 1.0);
    row("set inside TLS", sets, median(ratios));
    std::printf("\nTime of the set against tar in each repeat: %s (seconds, set / tar:",
                listOf(ratios).c_str());
    for (std::size_t i = 0; i < sets.size(); ++i)
        std::printf("%s %.3f / %.3f", i == 0 ? "" : ",", sets[i].seconds, tars[i].seconds);
    std::printf(").\n\n");
    verdicts.push_back({format("%d files of %lld bytes: set inside TLS <= %.1f x tar over a TCP pipe", files,
                               SetFiles::SmallFileBytes, TargetSmallFiles),
                        format("%.2f x", median(ratios)), median(ratios) <= TargetSmallFiles});
}

// One large file as a set and as a single-file post, inside TLS and plain.
void largeFile(const BenchOptions &o, const QString &source, std::vector<Verdict> &verdicts)
{
    Scratch scratch(QString::fromStdString(o.dir) + u"/set-large"_s);
    const LocalSet local = SetFiles::walk({source});
    const EndKeys tls = EndKeys::tls(), plain = EndKeys::plain();
    struct Kind {
        const char *name;
        const EndKeys &keys;
        bool set;
        std::vector<Run> runs;
    };
    std::vector<Kind> kinds{{"set inside TLS", tls, true, {}},
                            {"single-file post inside TLS", tls, false, {}},
                            {"set, plain", plain, true, {}},
                            {"single-file post, plain", plain, false, {}}};
    std::vector<double> tlsRatios, plainRatios;
    // Round -1 warms up (the disk's first gigabyte after the source was made is slower for
    // whichever kind comes first) and is not counted.
    for (long repeat = -1; repeat < o.repeats; ++repeat) {
        for (Kind &kind : kinds) {
            const QString folder = scratch.fresh();
            ::sync();
            QString received = folder + u"/source.bin"_s;
            if (kind.set) {
                SetServer server(o, kind.keys.receiver);
                const OutgoingSet out = offerOf(local);
                const IncomingEnd in(folder, out);
                const SetPost post = streamSet(o, out, in, server, kind.keys.sender);
                if (!post.acknowledged) {
                    std::fprintf(stderr, "set_bench: the large set failed: %s\n", qPrintable(post.error));
                    std::exit(1);
                }
                kind.runs.push_back(post.run);
                received = in.root + u"/source.bin"_s;
            } else {
                kind.runs.push_back(postSingleFile(o, source, folder, kind.keys));
            }
            if (!sameContent(source.toStdString(), received.toStdString()))
                fail("the large file arrived changed");
            Scratch::drop(folder);
        }
        if (repeat < 0) {
            for (Kind &kind : kinds)
                kind.runs.clear();
            continue;
        }
        tlsRatios.push_back(kinds[1].runs.back().seconds / kinds[0].runs.back().seconds);
        plainRatios.push_back(kinds[3].runs.back().seconds / kinds[2].runs.back().seconds);
    }
    std::printf(
        "#### File sets: one large file\n\nOne file of %s from a file to a fresh folder on the same "
        "disk over loopback %s:%d: as a set (the real receiver) and as a single-file post (TZnStrm to "
        "TZnStrmServ, its temporary file renamed into the folder), inside TLS 1.3 and plain; from the "
        "send answer (the set) or the connect (the post) to the acknowledgement. CPU: this process, "
        "both ends; the receiving side's: the receiving connection's thread. %ld repeats after a warm-up round, the kinds taking "
        "turns; medians, ratios the medians of each repeat's "
        "(throughput: set / single-file post of the same kind).\n\n",
        sizeText(o.size).c_str(), o.ip.c_str(), o.port, o.repeats);
    std::printf(
        "| copy | s | MiB/s | CPU s | receiving side's CPU s | throughput against the single-file post |\n"
        "|---|---|---|---|---|---|\n");
    for (const Kind &kind : kinds) {
        const double seconds = medianOf(kind.runs, &Run::seconds);
        const std::vector<double> &ratios = kind.keys.sender ? tlsRatios : plainRatios;
        std::printf("| %s | %.3f | %.0f | %.3f | %.3f | %s |\n", kind.name, seconds,
                    double(o.size) / seconds / (1 << 20), medianOf(kind.runs, &Run::cpu),
                    medianOf(kind.runs, &Run::receiverCpu),
                    kind.set ? format("%.2f", median(ratios)).c_str() : "1.00");
    }
    std::printf("\nThroughput of the set against the single-file post inside TLS in each repeat: %s.\n\n",
                listOf(tlsRatios).c_str());
    verdicts.push_back({format("%s: set inside TLS >= %.1f x the single-file post inside TLS",
                               sizeText(o.size).c_str(), TargetLargeFile),
                        format("%.2f x", median(tlsRatios)), median(tlsRatios) >= TargetLargeFile});
}

// The large set paused at 60 % by the receiver and resumed from what it holds.
void resume(const BenchOptions &o, const QString &source, std::vector<Verdict> &verdicts)
{
    Scratch scratch(QString::fromStdString(o.dir) + u"/set-resume"_s);
    const QString folder = scratch.fresh();
    const EndKeys keys = EndKeys::tls();
    SetServer server(o, keys.receiver);
    const OutgoingSet out = offerOf(SetFiles::walk({source}));
    const IncomingEnd in(folder, out);
    ::sync();
    const qint64 pauseAt = qint64(double(o.size) * PauseShare);
    const SetPost first = streamSet(o, out, in, server, keys.sender, pauseAt);
    if (first.acknowledged)
        fail("the set was whole before the pause");
    const qint64 held = in.heldBytes(0);
    const SetAnswer answer = in.answer();
    const SetPost second = streamSet(o, out, in, server, keys.sender);
    if (!second.acknowledged) {
        std::fprintf(stderr, "set_bench: the resumed set failed: %s\n", qPrintable(second.error));
        std::exit(1);
    }
    const QByteArray sourceHash = SetFiles::fileHash(source);
    const QByteArray receivedHash = SetFiles::fileHash(in.root + u"/source.bin"_s);
    const bool identical = !sourceHash.isEmpty() && sourceHash == receivedHash;
    const double size = double(o.size);
    std::printf(
        "#### File sets: resume\n\nA set of one file of %s inside TLS, paused by the receiver once it "
        "held %.0f %% of the file (its server stops, as the receive window's pause does; the sender's "
        "post then fails), then asked for again as the receive window does: the bytes its temporary "
        "file holds, their resume hash (the last MiB before them) in a send answer; the sender plans "
        "its records from that answer (planRecords) and posts them. Bytes: the files' bodies as the "
        "sender counted them (headers and TLS records not).\n\n",
        sizeText(o.size).c_str(), PauseShare * 100);
    std::printf("| | bytes | share of the file |\n|---|---|---|\n");
    const auto row = [&](const char *what, qint64 bytes) {
        std::printf("| %s | %lld | %.1f %% |\n", what, static_cast<long long>(bytes),
                    double(bytes) / size * 100);
    };
    row("sent before the pause", first.bodyBytes);
    row("held by the receiver (its temporary file)", held);
    row("resume offset in the send answer", answer.resumeOffset);
    row("the sender resumed from", second.startedAt);
    row("sent after the resume", second.bodyBytes);
    std::printf("\nThe resumed stream took %.3f s; BLAKE2b-256 of the source %.16s..., of the received file "
                "%.16s... (%s).\n\n",
                second.run.seconds, sourceHash.constData(), receivedHash.constData(),
                identical ? "identical" : "different");
    const double limit = size * (1 - PauseShare) + double(ResumeSlack);
    verdicts.push_back(
        {format("resume after a pause at %.0f %%: bytes sent after it <= %.0f %% of the file + 1 MiB",
                PauseShare * 100, (1 - PauseShare) * 100),
         format("%.1f %% of the file (%lld bytes)", double(second.bodyBytes) / size * 100,
                static_cast<long long>(second.bodyBytes)),
         double(second.bodyBytes) <= limit});
    verdicts.push_back({"resumed file identical to the source (BLAKE2b-256)",
                        identical ? "identical" : "different", identical});
}

std::string loadAverage()
{
    std::ifstream file("/proc/loadavg");
    std::string one, five, fifteen;
    file >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    std::atexit(ChildProcess::terminateAll); // a failed run leaves no tar or socat behind
    BenchOptions o = BenchOptions::parse(argc, argv);
    o.dir = QDir(QString::fromStdString(o.dir)).absolutePath().toStdString(); // the walk takes absolute paths
    const int files = int(o.files);
    const bool all = o.only.empty();
    std::printf(
        "### File sets\n\nBoth ends in one process over loopback, each receiving connection on a thread "
        "of its own; data under %s, removed afterwards. Load average before: %s.\n\n",
        o.dir.c_str(), loadAverage().c_str());
    std::fflush(stdout);
    std::vector<Verdict> verdicts;
    if (all || o.only == "small")
        smallFiles(o, files, verdicts);
    std::fflush(stdout);
    if (all || o.only == "large" || o.only == "resume") {
        const QString sourceFolder = QString::fromStdString(o.dir) + u"/set-source"_s;
        const QString source = sourceFolder + u"/source.bin"_s;
        if (!QDir().mkpath(sourceFolder))
            fail("make the source's folder");
        makeSource(source.toStdString(), o.size);
        if (all || o.only == "large")
            largeFile(o, source, verdicts);
        std::fflush(stdout);
        if (all || o.only == "resume")
            resume(o, source, verdicts);
        QDir(sourceFolder).removeRecursively();
    }
    std::printf("Load average after: %s.\n\nTargets:\n\n| target | this run | |\n|---|---|---|\n",
                loadAverage().c_str());
    for (const Verdict &v : verdicts)
        std::printf("| %s | %s | %s |\n", v.target.c_str(), v.figure.c_str(), v.met ? "met" : "missed");
    std::printf("\n");
    return 0;
}
