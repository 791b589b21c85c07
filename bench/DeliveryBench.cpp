// Messages that arrive, between two complete peers (presence_peer processes) in two network
// namespaces on one bridge: N messages over a clean link and over one whose namespaces each
// drop a share of the datagrams they receive (the firewall's random match), and a batch sent
// to a peer that is down, delivered when it starts. Run as root under scripts/isolated.sh.
//
//   delivery_bench [--messages 1000] [--loss 0.3] [--waiting 200] [--pace 50]
#include "bench/BridgeNetwork.h"
#include "bench/PeerProcess.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QHash>
#include <QProcess>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int StartMs = 20'000;
constexpr int TargetOutboxMs = 5000; // every waiting message shown within this of the start

struct Options {
    int messages = 1000;
    double loss = 0.3;
    int waiting = 200;
    int pace = 50; // messages per second the sender is given (each through a message window)
};

Options parse(const QStringList &arguments)
{
    Options o;
    for (qsizetype i = 1; i + 1 < arguments.size(); i += 2) {
        const QString &key = arguments[i];
        const QString &value = arguments[i + 1];
        if (key == u"--messages"_s)
            o.messages = std::max(1, value.toInt());
        else if (key == u"--loss"_s)
            o.loss = value.toDouble();
        else if (key == u"--waiting"_s)
            o.waiting = std::max(1, value.toInt());
        else if (key == u"--pace"_s)
            o.pace = std::max(1, value.toInt());
    }
    return o;
}

// The two peers: A sends, B shows (in its chat-room view); B's folder outlives its process.
class Link {
public:
    explicit Link(BridgeNetwork &net) : net_(net)
    {
        nsA_ = net_.addNamespace();
        nsB_ = net_.addNamespace();
        ok_ = nsA_ >= 0 && nsB_ >= 0 && !net_.addInterface(nsA_, {u"10.89.0.1/24"_s}).isEmpty()
            && !net_.addInterface(nsB_, {u"10.89.0.2/24"_s}).isEmpty();
    }

    bool start()
    {
        a = std::make_unique<PeerProcess>(command(nsA_, u"发"_s, dirA_.path()));
        return startB() && a->waitReady(StartMs) && a->waitForLine(u"found "_s, StartMs).size() > 0;
    }
    bool startB()
    {
        b = std::make_unique<PeerProcess>(command(nsB_, u"收"_s, dirB_.path()));
        return b->waitReady(StartMs);
    }
    // B's share of datagrams to port 2928 dropped in both namespaces (0 takes the rule away).
    bool setLoss(double probability)
    {
        bool ok = true;
        for (const int ns : {nsA_, nsB_}) {
            QStringList rule{u"INPUT"_s, u"-p"_s, u"udp"_s, u"--dport"_s, u"2928"_s, u"-m"_s, u"statistic"_s,
                             u"--mode"_s, u"random"_s, u"--probability"_s, QString::number(loss_), u"-j"_s, u"DROP"_s};
            if (loss_ > 0)
                ok = iptables(ns, QStringList{u"-D"_s} + rule) && ok;
            rule[10] = QString::number(probability);
            if (probability > 0)
                ok = iptables(ns, QStringList{u"-A"_s} + rule) && ok;
        }
        loss_ = probability;
        return ok;
    }
    bool ok() const { return ok_; }

    std::unique_ptr<PeerProcess> a, b;

private:
    QStringList command(int ns, const QString &nick, const QString &dir) const
    {
        return net_.command(ns, QCoreApplication::applicationDirPath() + u"/presence_peer"_s,
                            {u"--nick"_s, nick, u"--dir"_s, dir, u"--chat-room"_s, u"on"_s, u"--answer-delay-ms"_s,
                             u"100"_s});
    }
    bool iptables(int ns, const QStringList &arguments) const
    {
        QProcess run;
        run.start(u"ip"_s, QStringList{u"netns"_s, u"exec"_s, net_.namespaceName(ns), u"iptables"_s} + arguments);
        return run.waitForFinished(10'000) && run.exitCode() == 0;
    }

    BridgeNetwork &net_;
    QTemporaryDir dirA_, dirB_;
    int nsA_ = -1, nsB_ = -1;
    double loss_ = 0;
    bool ok_ = false;
};

struct Result {
    int sent = 0;
    int delivered = 0;   // marked delivered at the sender
    int shown = 0;       // message lines at the receiver
    bool inOrder = false; // shown exactly once each, in the order sent
    double medianMs = 0; // send to receipt
    double p99Ms = 0;
    double lastMs = 0;   // from the first send to the last receipt
};

double percentile(QList<qint64> values, double share)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return double(values[std::min<qsizetype>(values.size() - 1, qsizetype(share * double(values.size())))]);
}

// What B showed from A since line mark, in order.
QStringList shownTexts(const PeerProcess &b, qsizetype mark)
{
    QStringList texts;
    for (const QString &line : b.linesStartingWith(u"message 10.89.0.1 "_s, mark))
        texts << line.section(u' ', 2);
    return texts;
}

// Sends count messages from A at the pace and waits for every receipt (or the time-out).
Result exchange(Link &link, const QString &prefix, int count, int pace, int timeoutMs)
{
    PeerProcess &a = *link.a;
    const qsizetype aMark = a.lines().size(), bMark = link.b->lines().size();
    QStringList texts;
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < count; ++i) {
        texts << prefix + QString::number(i);
        a.send(u"send 10.89.0.2 "_s + texts.last());
        const qint64 due = qint64(i + 1) * 1000 / pace;
        if (due > clock.elapsed())
            runEventsUntil([] { return false; }, int(due - clock.elapsed()));
    }
    // Counted as lines come (scanning every line again on each wake-up would take the
    // peers' CPU).
    qsizetype scanned = aMark;
    int delivered = 0;
    const auto deliveredNow = [&] {
        for (; scanned < a.lines().size(); ++scanned) {
            const QString &line = a.lines()[scanned];
            if (line.startsWith(u"delivery 10.89.0.2 "_s) && line.section(u' ', 3, 3) == u"delivered"_s)
                ++delivered;
        }
        return delivered;
    };
    runEventsUntil([&] { return deliveredNow() >= count; }, timeoutMs);
    qsizetype shownScanned = bMark;
    int shownCount = 0;
    runEventsUntil(
        [&] {
            for (; shownScanned < link.b->lines().size(); ++shownScanned)
                shownCount += link.b->lines()[shownScanned].startsWith(u"message 10.89.0.1 "_s) ? 1 : 0;
            return shownCount >= count;
        },
        2000);
    Result r;
    r.sent = count;
    r.delivered = deliveredNow();
    const QStringList shown = shownTexts(*link.b, bMark);
    r.shown = int(shown.size());
    r.inOrder = shown == texts;
    for (qsizetype i = 0; !r.inOrder && i < std::min(shown.size(), texts.size()); ++i)
        if (shown[i] != texts[i]) {
            std::fprintf(stderr, "delivery_bench: shown %lld is %s, sent as %s\n", static_cast<long long>(i),
                         qPrintable(shown[i]), qPrintable(texts[i]));
            break;
        }
    QHash<QString, qint64> sentAt;
    QList<qint64> waits;
    qint64 first = -1, last = -1;
    for (const QString &line : a.linesStartingWith(u"delivery 10.89.0.2 "_s, aMark)) {
        const QStringList f = line.split(u' ');
        const qint64 at = f.value(4).toLongLong();
        if (f.value(3) == u"sending"_s && !sentAt.contains(f.value(2))) {
            sentAt.insert(f.value(2), at);
            first = first < 0 ? at : std::min(first, at);
        } else if (f.value(3) == u"delivered"_s && sentAt.contains(f.value(2))) {
            waits << at - sentAt.value(f.value(2));
            last = std::max(last, at);
        }
    }
    r.medianMs = percentile(waits, 0.5);
    r.p99Ms = percentile(waits, 0.99);
    r.lastMs = first >= 0 && last >= 0 ? double(last - first) : 0;
    return r;
}

void printRow(const char *link, const Result &r)
{
    std::printf("| %s | %d | %d | %d | %s | %.0f | %.0f | %.1f |\n", link, r.sent, r.delivered, r.shown,
                r.inOrder ? "yes" : "**no**", r.medianMs, r.p99Ms, r.lastMs / 1000);
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const Options o = parse(QCoreApplication::arguments());
    std::printf("### Messages that arrive\n\n");
    BridgeNetwork net;
    if (!net.unavailable().isEmpty()) {
        std::printf("Not run: %s\n\n", qPrintable(net.unavailable()));
        return 0;
    }
    Link link(net);
    if (!link.ok() || !link.start()) {
        std::printf("Not run: the two peers did not start or find each other\n\n");
        return 1;
    }
    // The first message pins the keys both ways while nothing is lost.
    exchange(link, u"起"_s, 1, o.pace, 10'000);

    std::printf("Two complete peers (presence_peer, offscreen; the receiver in its chat-room view) in two network "
                "namespaces on one bridge. %d messages sent at %d a second through the message window; "
                "the lossy link drops %.0f %% of the datagrams each namespace receives (iptables' random "
                "match), messages and receipts alike. Times from the send to the receipt, as the sender "
                "saw them.\n\n",
                o.messages, o.pace, o.loss * 100);
    std::printf("| link | sent | marked 已送达 | shown | once each, in order | median ms | p99 ms | last receipt s |\n"
                "|---|---|---|---|---|---|---|---|\n");
    const Result clean = exchange(link, u"c"_s, o.messages, o.pace, 120'000);
    printRow("no loss", clean);
    if (!link.setLoss(o.loss)) {
        std::printf("\nThe lossy link was not run: iptables refused the rule.\n\n");
        return 1;
    }
    const Result lossy = exchange(link, u"l"_s, o.messages, o.pace, 300'000);
    printRow(qPrintable(u"%1 % loss each way"_s.arg(o.loss * 100)), lossy);
    link.setLoss(0);

    // B goes (with its goodbye), A sends to it, B starts again.
    link.b->quit(StartMs);
    const qsizetype aMark = link.a->lines().size();
    QStringList texts;
    for (int i = 0; i < o.waiting; ++i) {
        texts << u"w"_s + QString::number(i);
        link.a->send(u"send 10.89.0.2 "_s + texts.last());
    }
    runEventsUntil([&] { return link.a->linesStartingWith(u"delivery 10.89.0.2 "_s, aMark).filter(u" waiting "_s).size() >= o.waiting; },
                   60'000);
    const int waitingSeen = int(link.a->linesStartingWith(u"delivery 10.89.0.2 "_s, aMark).filter(u" waiting "_s).size());
    const bool restarted = link.startB();
    // B says it is ready once its start-up has sent its first presence datagram.
    qint64 startedAt = -1;
    for (qsizetype i = 0; restarted && i < link.b->lines().size() && startedAt < 0; ++i)
        if (link.b->lines()[i].startsWith(u"ready "_s))
            startedAt = link.b->lineTimeMs(i);
    runEventsUntil([&] { return shownTexts(*link.b, 0).size() >= o.waiting; }, 60'000);
    const QStringList shown = shownTexts(*link.b, 0);
    qint64 lastShownAt = -1;
    for (qsizetype i = 0; i < link.b->lines().size(); ++i)
        if (link.b->lines()[i].startsWith(u"message 10.89.0.1 "_s))
            lastShownAt = link.b->lineTimeMs(i);
    const double outboxMs = startedAt >= 0 && lastShownAt >= 0 ? double(lastShownAt - startedAt) : -1;
    std::printf("\n%d messages sent to the receiver while it was down (%d marked 待发送), then it started again: %lld shown, "
                "%s; the last %.0f ms after its first presence datagram (the hello it sends as it starts, before "
                "it says it is ready).\n\n",
                o.waiting, waitingSeen, static_cast<long long>(shown.size()),
                shown == texts ? "once each, in order" : "**not once each in order**", outboxMs);

    std::printf("Targets:\n\n| target | this run | |\n|---|---|---|\n");
    const bool lossyMet = lossy.delivered == o.messages && lossy.inOrder;
    std::printf("| %d messages at %.0f %% loss: all shown once, in order, all 已送达 | %d shown, %d marked | %s |\n",
                o.messages, o.loss * 100, lossy.shown, lossy.delivered, lossyMet ? "met" : "**missed**");
    const bool outboxMet = shown == texts && outboxMs >= 0 && outboxMs <= TargetOutboxMs;
    std::printf("| %d waiting messages delivered in order within %d ms of the start | %.0f ms | %s |\n\n", o.waiting,
                TargetOutboxMs, outboxMs, outboxMet ? "met" : "**missed**");
    link.a->quit(StartMs);
    link.b->quit(StartMs);
    return 0;
}
