// Presence at scale: fifty presence_peer processes, each in a network namespace of its own on
// one bridge. Starting fifty Qt programs takes this machine several seconds, so they start
// with presence off and, once all are running, presence comes on in all of them within a few
// milliseconds (as when fifty machines start it together). Measures the time until every peer
// shows all the others, the presence datagrams on the bridge in the first window (a minute) and in
// the next, idle one, and each peer's CPU time in the idle window (from /proc/PID/stat); then
// the same peers with presence turned off, as the baseline. Needs root in a network namespace
// of its own (scripts/isolated.sh).
//
//   presence_bench [--peers 50] [--idle-seconds 60] [--keepalive-ms 60000] [--answer-delay-ms 500]
#include "bench/BenchOptions.h"
#include "bench/BridgeNetwork.h"
#include "bench/PeerProcess.h"
#include "bench/PresenceTraffic.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFile>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <numeric>
#include <unistd.h>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int ReadyMs = 120'000; // fifty complete peers starting on two busy cores

struct Options {
    int peers = 50;
    int idleSeconds = 60;
    int keepAliveMs = 60'000;
    int answerDelayMs = 500;
};

// What one run (presence on or off) measured.
struct RunResult {
    qint64 startSpanMs = 0;        // from the first peer's start to the last one's
    qint64 readyMs = 0;            // from the first start until every peer said ready
    qint64 switchSpanMs = 0;       // from turning presence on in the first peer to the last
    qint64 allFoundMs = -1;        // from turning presence on until every peer showed all others
    int firstWindow[5] = {};       // datagrams in the first window: all, H, A, K, G
    int idleWindow[5] = {};        // and in the idle window
    std::vector<double> idleCpuMs; // per peer, in the idle window
    int drops = 0;
};

// User and system CPU time of a process so far, in milliseconds (-1 when it cannot be read).
double cpuMs(qint64 pid)
{
    QFile stat(u"/proc/%1/stat"_s.arg(pid));
    if (!stat.open(QIODevice::ReadOnly))
        return -1;
    const QByteArray text = stat.readAll();
    // The fields after the command name, which is in parentheses and may hold spaces.
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return -1;
    const double ticks = fields.at(11).toDouble() + fields.at(12).toDouble(); // utime, stime
    return ticks * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

void countInto(int (&window)[5], const PresenceTraffic &traffic)
{
    window[0] = traffic.total();
    const char kinds[] = {'H', 'A', 'K', 'G'};
    for (int i = 0; i < 4; ++i)
        window[i + 1] = traffic.total(kinds[i]);
}

double mean(const std::vector<double> &values)
{
    return values.empty() ? -1 : std::accumulate(values.begin(), values.end(), 0.0) / double(values.size());
}

// The peers of a bridge network, started together and measured.
class BridgeRun {
public:
    BridgeRun(const Options &options, BridgeNetwork &net, const QList<int> &namespaces,
              PresenceTraffic &traffic)
        : o_(options), net_(net), namespaces_(namespaces), traffic_(traffic)
    {}

    bool run(bool presence, RunResult &result);

private:
    void startPeers(RunResult &result);
    void awaitDiscovery(RunResult &result);
    void measureIdle(RunResult &result);
    int shown(const PeerProcess &peer) const;
    void waitUntilElapsed(qint64 ms) const
    {
        runEventsUntil([&] { return clock_.elapsed() >= ms; },
                       int(std::max<qint64>(1, ms - clock_.elapsed())) + 1000);
    }

    const Options &o_;
    BridgeNetwork &net_;
    const QList<int> &namespaces_;
    PresenceTraffic &traffic_;
    std::vector<std::unique_ptr<PeerProcess>> peers_;
    QElapsedTimer clock_;
};

bool BridgeRun::run(bool presence, RunResult &result)
{
    traffic_.reset();
    traffic_.drops();
    startPeers(result);
    for (const auto &peer : peers_)
        if (!peer->waitReady(ReadyMs))
            return false;
    result.readyMs = clock_.elapsed();
    clock_.start(); // the windows count from the moment presence comes on (or would)
    traffic_.reset();
    if (presence) {
        for (const auto &peer : peers_)
            peer->send(u"presence on"_s);
        result.switchSpanMs = clock_.elapsed();
        awaitDiscovery(result);
    }
    waitUntilElapsed(qint64(o_.idleSeconds) * 1000);
    countInto(result.firstWindow, traffic_);
    measureIdle(result);
    result.drops = traffic_.drops();
    for (const auto &peer : peers_)
        peer->quit(ReadyMs);
    peers_.clear();
    return true;
}

void BridgeRun::startPeers(RunResult &result)
{
    clock_.start();
    for (int i = 0; i < namespaces_.size(); ++i) {
        const QStringList arguments{u"--nick"_s,
                                    u"peer%1"_s.arg(i + 1),
                                    u"--presence"_s,
                                    u"off"_s,
                                    u"--keepalive-ms"_s,
                                    QString::number(o_.keepAliveMs),
                                    u"--answer-delay-ms"_s,
                                    QString::number(o_.answerDelayMs)};
        peers_.push_back(std::make_unique<PeerProcess>(net_.command(
            namespaces_.at(i), QCoreApplication::applicationDirPath() + u"/presence_peer"_s, arguments)));
    }
    result.startSpanMs = clock_.elapsed();
}

// Peers shown now: found and not gone since.
int BridgeRun::shown(const PeerProcess &peer) const
{
    QSet<QString> ids;
    for (const QString &line : peer.lines()) {
        const QString id = line.section(u' ', 1, 1);
        if (line.startsWith(u"found "_s))
            ids.insert(id);
        else if (line.startsWith(u"gone "_s))
            ids.remove(id);
    }
    return int(ids.size());
}

void BridgeRun::awaitDiscovery(RunResult &result)
{
    const int others = int(peers_.size()) - 1;
    std::vector<qint64> doneAt(peers_.size(), -1);
    runEventsUntil(
        [&] {
            bool all = true;
            for (size_t i = 0; i < peers_.size(); ++i) {
                if (doneAt[i] < 0 && shown(*peers_[i]) == others)
                    doneAt[i] = clock_.elapsed();
                all = all && doneAt[i] >= 0;
            }
            return all;
        },
        o_.idleSeconds * 1000 - int(clock_.elapsed()));
    if (std::find(doneAt.begin(), doneAt.end(), -1) == doneAt.end())
        result.allFoundMs = *std::max_element(doneAt.begin(), doneAt.end());
}

// The idle window begins half a window after the first one ends, so that with a window as long
// as the keep-alive period it holds each peer's keep-alive once.
void BridgeRun::measureIdle(RunResult &result)
{
    waitUntilElapsed(qint64(o_.idleSeconds) * 1500);
    traffic_.reset();
    std::vector<double> before;
    for (const auto &peer : peers_)
        before.push_back(cpuMs(peer->pid()));
    waitUntilElapsed(qint64(o_.idleSeconds) * 2500);
    countInto(result.idleWindow, traffic_);
    for (size_t i = 0; i < peers_.size(); ++i)
        result.idleCpuMs.push_back(cpuMs(peers_[i]->pid()) - before[i]);
}

Options parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i + 1 < argc; i += 2) {
        const int value = std::max(1, std::atoi(argv[i + 1]));
        if (!std::strcmp(argv[i], "--peers"))
            o.peers = std::min(value, BridgeNetwork::MaxNamespaces);
        else if (!std::strcmp(argv[i], "--idle-seconds"))
            o.idleSeconds = value;
        else if (!std::strcmp(argv[i], "--keepalive-ms"))
            o.keepAliveMs = value;
        else if (!std::strcmp(argv[i], "--answer-delay-ms"))
            o.answerDelayMs = value;
    }
    return o;
}

QString loadAverage()
{
    QFile file(u"/proc/loadavg"_s);
    return file.open(QIODevice::ReadOnly) ? QString::fromLatin1(file.readAll()).section(u' ', 0, 2) : u"?"_s;
}

void printWindow(const char *what, const int (&on)[5], const int (&off)[5])
{
    std::printf("| %s (hello/answer/keep-alive/goodbye) | %d (%d/%d/%d/%d) | %d (%d/%d/%d/%d) |\n", what,
                on[0], on[1], on[2], on[3], on[4], off[0], off[1], off[2], off[3], off[4]);
}

void printTable(const Options &o, const RunResult &on, const RunResult &off)
{
    const auto maxOf = [](const std::vector<double> &v) {
        return v.empty() ? -1 : *std::max_element(v.begin(), v.end());
    };
    std::printf("| | presence on | presence off |\n|---|---|---|\n");
    std::printf("| peers started within, ms | %lld | %lld |\n", on.startSpanMs, off.startSpanMs);
    std::printf("| every peer running (ready), ms | %lld | %lld |\n", on.readyMs, off.readyMs);
    std::printf("| presence turned on in every peer within, ms | %lld | - |\n", on.switchSpanMs);
    std::printf("| time until every peer shows all %d others, from turning presence on, ms | %lld | - |\n",
                o.peers - 1, on.allFoundMs);
    const QByteArray first = u"datagrams on the bridge in the first %1 s"_s.arg(o.idleSeconds).toLatin1();
    const QByteArray idle = u"datagrams in %1 s of idling (from %2 s to %3 s)"_s.arg(o.idleSeconds)
                                .arg(o.idleSeconds * 3 / 2)
                                .arg(o.idleSeconds * 5 / 2)
                                .toLatin1();
    printWindow(first.constData(), on.firstWindow, off.firstWindow);
    printWindow(idle.constData(), on.idleWindow, off.idleWindow);
    const double perMinute = 60.0 / o.idleSeconds / o.peers;
    std::printf("| idle datagrams per peer per minute | %.2f | %.2f |\n", on.idleWindow[0] * perMinute,
                off.idleWindow[0] * perMinute);
    std::printf(
        "| idle CPU per peer in %d s, ms: median / mean / max | %.0f / %.1f / %.0f | %.0f / %.1f / %.0f |\n",
        o.idleSeconds, median(on.idleCpuMs, -1), mean(on.idleCpuMs), maxOf(on.idleCpuMs),
        median(off.idleCpuMs, -1), mean(off.idleCpuMs), maxOf(off.idleCpuMs));
    std::printf("| frames the counter dropped | %d | %d |\n\n", on.drops, off.drops);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(argc, argv);
    BridgeNetwork net;
    QList<int> namespaces;
    QStringList ports;
    for (int i = 0; i < o.peers && net.unavailable().isEmpty(); ++i) {
        namespaces << net.addNamespace();
        ports << net.addInterface(namespaces.last(), {u"10.88.0.%1/24"_s.arg(i + 1)});
        if (namespaces.last() < 0 || ports.last().isEmpty())
            break;
    }
    PresenceTraffic traffic(ports);
    if (!net.unavailable().isEmpty() || ports.size() < o.peers || ports.contains(QString())
        || !traffic.isOpen() || !net.addStaticNeighbours()) {
        std::fprintf(stderr, "presence_bench: no bridge network of %d namespaces: %s\n", o.peers,
                     net.unavailable().toUtf8().constData());
        return 1;
    }
    BridgeRun run(o, net, namespaces, traffic);
    RunResult on, off;
    const QString loadBefore = loadAverage();
    if (!run.run(true, on) || !run.run(false, off)) {
        std::fprintf(stderr, "presence_bench: a peer did not start\n");
        return 1;
    }
    std::printf(
        "### Presence on one bridge\n\n%d complete peer processes, each in a network namespace of its own "
        "on one bridge (10.88.0.1 to 10.88.0.%d, with permanent neighbour entries: the kernel's one table of "
        "learnt ones, 1024 by default, cannot hold fifty hosts' entries), all started at once; keep-alive "
        "period %d ms, answers "
        "delayed up to %d ms. Datagrams counted on the bridge's ports, CPU from /proc/PID/stat. Load "
        "average before and after: %s, %s.\n\n",
        o.peers, o.peers, o.keepAliveMs, o.answerDelayMs, loadBefore.toLatin1().constData(),
        loadAverage().toLatin1().constData());
    printTable(o, on, off);
    return on.allFoundMs >= 0 ? 0 : 1;
}
