// How many message datagrams a peer in chat-room mode takes in, against a plain recvfrom loop
// receiving the same datagrams on the same address. The peer is complete (main window shown,
// settings window, chat-room view open, the sender a friend in its contact store): each
// datagram goes through its endpoint and dispatcher, which looks the sender up in myinfo.ini
// and appends an entry to the transcript. Receiver and sender are processes of their own.
//
// Two designs, both against each receiver with the same default socket buffer:
//   flood: the sender sends --count datagrams as fast as it can; the receiver's intake is the
//          datagrams it took in divided by the time from its first to its last one, i.e. its
//          capacity while its queue is never empty, and the rest were lost;
//   paced: the sender spreads one second of datagrams evenly at each rate of --rates; the
//          share lost at each rate shows the highest rate the receiver keeps up with.
// A receiver ends when nothing has arrived for 300 ms after its first datagram. The peer runs
// twice: with its chat-room view shown, and with it minimised (entries are then kept but not
// laid out). The targets are printed with the figures: intake with the view shown at least
// 0.15 of the plain loop's, none lost at 20000 per second paced, and with the view minimised
// at least 0.5 of the plain loop's.
//
//   dispatch_bench [--count 200000] [--rates 5000,10000,...] [--ip 127.0.0.2] [--from 127.0.0.3]
//
// lan_bench runs the roles one by one over a veth link: --role plain|send (with --sealed on the
// sender announces a key of its own by presence, learns the peer's from its answer and sends
// every message sealed), and --role peer with
// --view shown|minimised, --save-log on|off ("保存聊天记录" ticked in the settings window or
// not), --platform and --a11y (see WindowSession.h).
#include "bench/BenchOptions.h"
#include "bench/BenchPeer.h"
#include "bench/ChildProcess.h"
#include "bench/WindowSession.h"
#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/PeerSecurity.h"
#include "core/PresenceDatagram.h"
#include "net/TZnUDP.h"
#include "secure/IdentityKey.h"
#include "secure/SealedChannel.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm5.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QTimer>

#include <arpa/inet.h>
#include <cstdio>
#include <ctime>
#include <netinet/in.h>
#include <optional>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int Port = 2928;
constexpr int IdleMs = 300;

sockaddr_in address(const std::string &ip)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(Port);
    inet_pton(AF_INET, ip.c_str(), &a.sin_addr);
    return a;
}

int boundSocket(const std::string &ip)
{
    const int s = socket(AF_INET, SOCK_DGRAM, 0);
    const sockaddr_in a = address(ip);
    if (s < 0 || bind(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        fail("bind");
    return s;
}

// What a receiver prints at its end: datagrams taken in, entries appended (the plain loop has
// none), and the seconds from its first to its last datagram.
void report(long count, long entries, double first, double last)
{
    std::printf("%ld %ld %.9f\n", count, entries, last - first);
}

int plainReceiver(const BenchOptions &o)
{
    const int s = boundSocket(o.ip);
    ready();
    QElapsedTimer clock;
    clock.start();
    char buffer[2048];
    long count = 0;
    double first = 0, last = 0;
    pollfd p{s, POLLIN, 0};
    while (poll(&p, 1, count == 0 ? 30000 : IdleMs) > 0) {
        if (recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr) < 0)
            continue;
        last = double(clock.nsecsElapsed()) / 1e9;
        if (count++ == 0)
            first = last;
    }
    report(count, 0, first, last);
    return 0;
}

// The user ticks "保存聊天记录" in the settings window: every message is then also written to
// the chat log.
void tickSaveChatLog(BenchPeer &peer)
{
    peer.form2->buildPages();
    if (!peer.form2->bcf->isChecked())
        peer.form2->bcf->click();
    if (!peer.form2->saveChatLog()) {
        std::fprintf(stderr, "dispatch_bench: the chat log is not saved\n");
        std::exit(1);
    }
}

int peerReceiver(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(QString::fromStdString(o.ip));
    peer.prompts.echo = false;
    if (!peer.form1->receiving())
        fail("bind the datagram port");
    if (o.saveLog == "on")
        tickSaveChatLog(peer);
    peer.storeNickname(u"接收者"_s);
    peer.start();
    peer.form1->store().adduser(Gbk::encode(u"发送者"_s), QString::fromStdString(o.from), 1);
    peer.form1->buddyListChanged(peer.form1->store().buddyEntries());
    peer.enterChatRoom();
    if (o.view == "minimised")
        peer.form2->chatRoomView()->showMinimized();

    QElapsedTimer clock;
    clock.start();
    long count = 0;
    double first = 0, last = 0;
    const auto dispatch = peer.form1->lwudp->OnDataReceived;
    peer.form1->lwudp->OnDataReceived = [&](TZnUDP *sender, int bytes, const QString &from, int port) {
        dispatch(sender, bytes, from, port);
        // Presence (a sealing sender's hello) is no message: it neither counts nor starts the clock.
        char type = 0;
        int length = 0;
        sender->ReadDatagram(&type, 1, length);
        if (length == 1 && type == '8')
            return;
        last = double(clock.nsecsElapsed()) / 1e9;
        if (count++ == 0)
            first = last;
    };
    // Ends once nothing arrived for IdleMs after the first datagram (or for 30 s before it).
    QTimer idle;
    long seen = 0, entries = 0;
    QObject::connect(&idle, &QTimer::timeout, &app, [&] {
        const double now = double(clock.nsecsElapsed()) / 1e9;
        if ((count > 0 && count == seen && now - last >= IdleMs / 1000.0) || (count == 0 && now > 30)) {
            entries = peer.chatRoomEntries(); // before quitting, which closes every window
            app.quit();
        }
        seen = count;
    });
    idle.start(IdleMs / 3);
    ready();
    app.exec();
    report(count, entries, first, last);
    return peer.prompts.errors == 0 && accessibilityAsAsked(o) ? 0 : 1;
}

// A capable peer's side of presence: a hello with key to the peer at to, and the key in its
// answer (the first one within 10 s), or nothing.
QByteArray exchangeKeys(int s, const sockaddr_in &to, const IdentityKey &key)
{
    PresenceDatagram hello;
    hello.id = QByteArray(PresenceDatagram::IdSize, 'S');
    hello.statusMode = 1;
    hello.capabilities = PresenceDatagram::CapabilitySealed;
    hello.nickname = Gbk::encode(u"发送者"_s);
    hello.publicKey = key.publicKey();
    const QByteArray bytes = hello.build();
    sendto(s, bytes.constData(), size_t(bytes.size()), 0, reinterpret_cast<const sockaddr *>(&to), sizeof to);
    pollfd p{s, POLLIN, 0};
    char buffer[2048];
    while (poll(&p, 1, 10000) > 0) {
        const ssize_t n = recvfrom(s, buffer, sizeof buffer, 0, nullptr, nullptr);
        const auto answer = PresenceDatagram::parse(QByteArray(buffer, int(std::max<ssize_t>(n, 0))));
        if (answer && answer->kind == PresenceDatagram::Kind::Answer && answer->supportsSealing())
            return answer->publicKey;
    }
    return {};
}

// Sends --count message datagrams from --from to --ip, at --rate per second (0: as fast as it
// can), and prints the seconds it took. With --sealed on they are sealed beforehand for the
// peer, which has learnt the sender's key by then.
int sender(const BenchOptions &o)
{
    const int s = boundSocket(o.from);
    const sockaddr_in to = address(o.ip);
    std::vector<QByteArray> packets;
    for (long i = 0; i < o.count; ++i)
        packets.push_back('1' + Gbk::encode(u"你好，这是第%1条消息"_s.arg(i)));
    if (o.sealed == "on") {
        const IdentityKey key = IdentityKey::generate();
        const QByteArray peerKey = exchangeKeys(s, to, key);
        if (peerKey.isEmpty()) {
            std::fprintf(stderr, "dispatch_bench: the peer did not answer with its key\n");
            return 1;
        }
        SealedChannel channel(key, QString(), QString());
        for (QByteArray &packet : packets)
            packet = channel.seal(peerKey, PeerSecurity::BaseDatagram, packet);
    }
    timespec start{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    for (long i = 0; i < o.count; ++i) {
        if (o.rate > 0) {
            const long long due = start.tv_nsec + i * 1000000000LL / o.rate;
            const timespec at{start.tv_sec + time_t(due / 1000000000LL), long(due % 1000000000LL)};
            clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr);
        }
        const QByteArray &packet = packets[size_t(i)];
        sendto(s, packet.constData(), size_t(packet.size()), 0, reinterpret_cast<const sockaddr *>(&to),
               sizeof to);
    }
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    std::printf("%.9f\n", double(end.tv_sec - start.tv_sec) + double(end.tv_nsec - start.tv_nsec) / 1e9);
    return 0;
}

struct Run {
    long sent = 0;
    double sendSeconds = 0;
    long received = 0;
    long entries = 0;
    double receiveSeconds = 0;

    double lostShare() const { return 1.0 - double(received) / double(sent); }
    double intake() const { return receiveSeconds > 0 ? double(received - 1) / receiveSeconds : 0; }
    double offered() const { return double(sent) / sendSeconds; }
};

// receiverRole: "plain", or "shown" or "minimised" for the peer with its view so.
Run run(const std::string &self, const BenchOptions &o, const std::string &receiverRole, long count,
        long rate)
{
    const std::vector<std::string> common{self, "--ip", o.ip, "--from", o.from};
    std::vector<std::string> receiverArgs = common;
    if (receiverRole == "plain")
        receiverArgs.insert(receiverArgs.end(), {"--role", "plain"});
    else
        receiverArgs.insert(receiverArgs.end(), {"--role", "peer", "--view", receiverRole});
    ChildProcess receiver(receiverArgs);
    if (receiver.line() != "ready\n")
        fail("receiver did not start");
    std::vector<std::string> senderArgs = common;
    senderArgs.insert(senderArgs.end(),
                      {"--role", "send", "--count", std::to_string(count), "--rate", std::to_string(rate)});
    ChildProcess sending(senderArgs);
    Run r;
    r.sent = count;
    r.sendSeconds = std::atof(sending.line().c_str());
    sending.finish();
    const std::string summary = receiver.line();
    if (!receiver.finish()
        || std::sscanf(summary.c_str(), "%ld %ld %lf", &r.received, &r.entries, &r.receiveSeconds) != 3)
        fail("receiver failed");
    return r;
}

void printFlood(const char *name, const Run &r, const Run &plain)
{
    std::printf("| %s | %.0f | %.0f | %.1f %% | %.3f |\n", name, r.offered(), r.intake(), 100 * r.lostShare(),
                r.intake() / plain.intake());
    if (&r != &plain && r.entries != r.received)
        std::printf("\nWARNING: %s: %ld datagrams dispatched but %ld entries appended\n\n", name, r.received,
                    r.entries);
}

const char *verdict(bool met) { return met ? "met" : "**missed**"; }

// The targets, each with its figure of this run.
void printTargets(const Run &plain, const Run &shown, const Run &minimised, const Run *pacedShown20000)
{
    const double shownRatio = shown.intake() / plain.intake();
    const double minimisedRatio = minimised.intake() / plain.intake();
    std::printf("Targets:\n\n| target | this run | |\n|---|---|---|\n");
    std::printf("| flood intake, view shown, >= 0.15 x plain | %.3f | %s |\n", shownRatio,
                verdict(shownRatio >= 0.15));
    if (pacedShown20000)
        std::printf("| none lost at 20000/s paced, view shown | %ld of %ld lost | %s |\n",
                    pacedShown20000->sent - pacedShown20000->received, pacedShown20000->sent,
                    verdict(pacedShown20000->received == pacedShown20000->sent));
    else
        std::printf("| none lost at 20000/s paced, view shown | not run (--rates lacks 20000) | |\n");
    std::printf("| flood intake, view minimised, >= 0.5 x plain | %.3f | %s |\n\n", minimisedRatio,
                verdict(minimisedRatio >= 0.5));
}

} // namespace

int main(int argc, char **argv)
{
    const BenchOptions o = BenchOptions::parse(argc, argv);
    if (o.role == "plain")
        return plainReceiver(o);
    if (o.role == "peer")
        return peerReceiver(argc, argv, o);
    if (o.role == "send")
        return sender(o);

    std::printf("### Dispatch\n\nMessage datagrams from %s to %s:%d over loopback. \"plain\" is a poll and "
                "recvfrom loop; \"chat-room peer\" is a complete peer in chat-room mode whose dispatcher "
                "appends each message to the open chat-room view (the sender is its friend), shown or "
                "minimised.\n\n",
                o.from.c_str(), o.ip.c_str(), Port);
    const Run plainFlood = run(argv[0], o, "plain", o.count, 0);
    const Run shownFlood = run(argv[0], o, "shown", o.count, 0);
    const Run minimisedFlood = run(argv[0], o, "minimised", o.count, 0);
    std::printf("Flood: %ld datagrams sent as fast as the sender can.\n\n", o.count);
    std::printf("| receiver | sent per s | taken in per s | lost | intake ratio |\n|---|---|---|---|---|\n");
    printFlood("plain recvfrom", plainFlood, plainFlood);
    printFlood("chat-room peer, view shown", shownFlood, plainFlood);
    printFlood("chat-room peer, view minimised", minimisedFlood, plainFlood);

    std::printf("\nPaced: one second of datagrams spread evenly at each rate.\n\n");
    std::printf("| offered per s | plain lost | peer lost, view shown | peer lost, view minimised |\n"
                "|---|---|---|---|\n");
    std::optional<Run> shownAt20000;
    for (const long long rate : o.rates) {
        const Run plain = run(argv[0], o, "plain", long(rate), long(rate));
        const Run shown = run(argv[0], o, "shown", long(rate), long(rate));
        const Run minimised = run(argv[0], o, "minimised", long(rate), long(rate));
        std::printf("| %.0f | %.2f %% | %.2f %% | %.2f %% |\n", shown.offered(), 100 * plain.lostShare(),
                    100 * shown.lostShare(), 100 * minimised.lostShare());
        std::fflush(stdout);
        if (rate == 20000)
            shownAt20000 = shown;
    }
    std::printf("\n");
    printTargets(plainFlood, shownFlood, minimisedFlood, shownAt20000 ? &*shownAt20000 : nullptr);
    return 0;
}
