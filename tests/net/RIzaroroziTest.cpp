#include "net/RIzarorozi.h"
#include "RawTcp.h"
#include "net/Exceptions.h"
#include "tests/support/Waits.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <cerrno>
#include <ctime>
#include <gtest/gtest.h>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using RawTcp::Socket;

namespace {

constexpr const char *peerIp = "127.0.0.3";
constexpr quint16 peerPort = 2921;

// Exposes the error check for the error-number tests.
class CheckedSocket : public RIzarorozi {
public:
    using RIzarorozi::checkError;
};

double threadCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

// A socket connected to a raw peer on peerIp:peerPort; the peer's end is in `peer`.
struct ConnectedPair {
    RIzarorozi socket;
    Socket listener;
    Socket peer;
    explicit ConnectedPair(quint16 port = peerPort) : listener(RawTcp::listenOn(peerIp, port))
    {
        socket.Host = QString::fromLatin1(peerIp);
        socket.Port = port;
        socket.Connect();
        peer = RawTcp::acceptOne(listener);
    }
};

} // namespace

TEST(RIzaroroziErrors, TextsComeFromTheTable)
{
    EXPECT_EQ(RIzarorozi::SocketErrorText(10061), u"10061:Connection refused"_s);
    EXPECT_EQ(RIzarorozi::SocketErrorText(11004), u"11004:Valid name, no data record of requested type"_s);
    EXPECT_EQ(RIzarorozi::SocketErrorText(10099), u"Unknown Error No. 10099"_s);
    EXPECT_EQ(RIzarorozi::SocketErrorText(0), u"Unknown Error No. 0"_s);
}

TEST(RIzaroroziErrors, CheckPassesOverWouldBlockAndRaisesMappedErrors)
{
    CheckedSocket socket;
    QList<int> reported;
    socket.OnSocketError = [&](RIzarorozi *, quint16 error, const QString &) { reported << error; };

    EXPECT_NO_THROW(socket.checkError(EWOULDBLOCK));
    EXPECT_EQ(socket.LastError(), 10035);
    EXPECT_NO_THROW(socket.checkError(0));

    EXPECT_EQ(raisedBy([&] { socket.checkError(ECONNREFUSED); }), u"10061:Connection refused"_s);
    EXPECT_EQ(socket.LastError(), 10061);
    EXPECT_EQ(raisedBy([&] { socket.checkError(EPIPE); }), u"10054:Connection reset by peer"_s);
    EXPECT_EQ(reported, (QList<int>{10061, 10054}));
}

TEST(RIzaroroziConnect, NoListenerFailsAfterOnConnectionFailed)
{
    RIzarorozi socket;
    QStringList events;
    socket.OnConnectionFailed = [&](RIzarorozi *) { events << u"failed"_s; };
    socket.OnConnect = [&](RIzarorozi *) { events << u"connect"_s; };
    socket.Host = u"127.0.0.3"_s;
    socket.Port = 2999;
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Connection Failed"_s);
    EXPECT_EQ(events, QStringList{u"failed"_s});
    EXPECT_FALSE(socket.Connected());
}

TEST(RIzaroroziConnect, NullAddressAndUnresolvableNames)
{
    RIzarorozi socket;
    int failed = 0;
    socket.OnConnectionFailed = [&](RIzarorozi *) { ++failed; };
    socket.Port = peerPort;

    socket.Host = u"0.0.0.0"_s;
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Null Remote Address"_s);

    socket.Host = u"no such host"_s;
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Null Remote Address"_s);

    // A handler that leaves Handled false gets no second attempt; one that sets it gets one.
    int asked = 0;
    socket.OnInvalidHost = [&](bool &) { ++asked; };
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Null Remote Address"_s);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(failed, 0);

    Socket listener = RawTcp::listenOn(peerIp, peerPort);
    asked = 0;
    socket.OnInvalidHost = [&](bool &handled) {
        ++asked;
        handled = true;
        socket.Host = QString::fromLatin1(peerIp);
    };
    socket.Host = u"no such host"_s;
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), QString());
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(socket.Connected());
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Already connected"_s);
}

TEST(RIzaroroziConnect, HostNameIsLookedUp)
{
    Socket listener = RawTcp::listenOn("127.0.0.1", peerPort);
    RIzarorozi socket;
    QStringList events;
    socket.OnHostResolved = [&](RIzarorozi *) { events << u"resolved"_s; };
    socket.OnConnect = [&](RIzarorozi *) { events << u"connect"_s; };
    socket.Host = u"localhost"_s;
    socket.Port = peerPort;
    socket.Connect();
    EXPECT_EQ(events, (QStringList{u"resolved"_s, u"connect"_s}));
    EXPECT_EQ(socket.RemoteAddress(), u"127.0.0.1"_s);

    // A dotted address needs no look-up.
    socket.Disconnect();
    events.clear();
    socket.Host = u"127.0.0.1"_s;
    socket.Connect();
    EXPECT_EQ(events, QStringList{u"connect"_s});
}

// A listener with backlog 0 and one queued connection drops further handshakes, so a connect to
// it waits until it is cancelled or times out. The wait must cost no CPU.
TEST(RIzaroroziConnect, CancelAndTimeOutEndAWaitThatCostsNothing)
{
    Socket listener = RawTcp::listenOn(peerIp, peerPort, 0);
    Socket queued = RawTcp::connectTo(peerIp, peerPort);
    ASSERT_GE(queued.fd(), 0);

    RIzarorozi socket;
    QStringList events;
    socket.OnConnectionFailed = [&](RIzarorozi *) { events << u"failed"_s; };
    socket.Host = QString::fromLatin1(peerIp);
    socket.Port = peerPort;
    QTimer::singleShot(400, &socket, [&] { socket.Cancel(); });
    const double cpuBefore = threadCpuSeconds();
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Connection Canceled"_s);
    EXPECT_LT(threadCpuSeconds() - cpuBefore, 0.2);
    EXPECT_EQ(events, QStringList{u"failed"_s});
    // The cancel flag stays set: a write right after raises at once and clears it.
    EXPECT_EQ(raisedBy([&] { socket.Write("x"); }), u"Socket send aborted"_s);

    socket.Disconnect();
    socket.TimeOut = 200;
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(raisedBy([&] { socket.Connect(); }), u"Connection Timed out"_s);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_TRUE(socket.TimedOut());
}

TEST(RIzaroroziClose, DisconnectAndDestructionEvents)
{
    int disconnects = 0;
    QStringList statuses;
    {
        RIzarorozi socket;
        socket.OnDisconnect = [&](RIzarorozi *) { ++disconnects; };
        socket.Disconnect(); // never connected: still closes and replaces its socket
        EXPECT_EQ(disconnects, 1);
        EXPECT_GE(socket.Socket(), 0);

        ConnectedPair pair;
        pair.socket.ReportLevel = 16;
        pair.socket.OnDisconnect = [&](RIzarorozi *) { ++disconnects; };
        pair.socket.OnStatus = [&](RIzarorozi *, const QString &text) { statuses << text; };
        pair.socket.DataAvailable();
        EXPECT_EQ(statuses, QStringList{u"Data Available"_s});
    }
    EXPECT_EQ(disconnects, 1); // destruction raised neither OnDisconnect nor OnStatus
    EXPECT_EQ(statuses.size(), 1);
}

TEST(RIzaroroziClose, PeerCloseClosesOnlyWhenNothingIsUnread)
{
    ConnectedPair idle;
    int disconnects = 0;
    idle.socket.OnDisconnect = [&](RIzarorozi *) { ++disconnects; };
    idle.peer.reset();
    ASSERT_EVENTUALLY_EQ(disconnects, 1, 5000);
    EXPECT_FALSE(idle.socket.Connected());

    ConnectedPair behindData(peerPort + 1);
    int available = 0;
    behindData.socket.OnDisconnect = [&](RIzarorozi *) { ++disconnects; };
    behindData.socket.OnDataAvailable = [&](RIzarorozi *) { ++available; };
    ASSERT_TRUE(RawTcp::sendAll(behindData.peer, "abc"));
    behindData.peer.reset();
    ASSERT_EVENTUALLY_EQ(available, 1, 5000);
    EXPECT_EQ(behindData.socket.Read(3), "abc");
    EXPECT_EQ(behindData.socket.Read(3), QByteArray());
    QTest::qWait(50);
    EXPECT_EQ(disconnects, 1);
    EXPECT_TRUE(behindData.socket.Connected());
}

TEST(RIzaroroziData, TextsAndLines)
{
    ConnectedPair pair;
    pair.socket.Write("");
    pair.socket.Write(QByteArray("ab\0cd", 5));
    pair.socket.Writeln("QUIT");
    EXPECT_EQ(RawTcp::receiveExactly(pair.peer, 8), "abQUIT\r\n");

    ASSERT_TRUE(RawTcp::sendAll(pair.peer, "220 ready\r\nnext"));
    EXPECT_EQ(pair.socket.ReadLn(), "220 ready\r\n");
    EXPECT_EQ(pair.socket.Read(4), "next");

    auto answer = std::async(std::launch::async, [&] {
        RawTcp::receiveExactly(pair.peer, 6);
        RawTcp::sendAll(pair.peer, "250 OK\r\n");
        RawTcp::receiveExactly(pair.peer, 6);
        RawTcp::sendAll(pair.peer, "no number\r\n");
    });
    QByteArray reply;
    pair.socket.Transaction("NOOP", reply);
    EXPECT_EQ(reply, "250 OK\r\n");
    EXPECT_EQ(pair.socket.ReplyNumber(), 250);
    pair.socket.Transaction("NOOP", reply);
    EXPECT_EQ(pair.socket.ReplyNumber(), 0);
    answer.get();

    ASSERT_TRUE(RawTcp::sendAll(pair.peer, "abc"));
    pair.peer.reset();
    EXPECT_EQ(pair.socket.ReadLn(), QByteArray()); // an unfinished line is dropped at the end
}

TEST(RIzaroroziData, ReadWaitsWithoutCostAndEndsOnCancelOrClose)
{
    ConnectedPair pair;
    QTimer::singleShot(300, &pair.socket, [&] { pair.socket.Cancel(); });
    const double cpuBefore = threadCpuSeconds();
    EXPECT_EQ(raisedBy([&] { pair.socket.Read(16); }), u"Socket send aborted"_s);
    EXPECT_LT(threadCpuSeconds() - cpuBefore, 0.2);
    EXPECT_FALSE(pair.socket.Canceled());

    ASSERT_TRUE(RawTcp::sendAll(pair.peer, "0123456789"));
    pair.peer.reset();
    EXPECT_EQ(pair.socket.Read(16), QByteArray()); // the peer closed before 16 bytes
}

TEST(RIzaroroziData, CaptureTakesExactlyTheSizeAsked)
{
    ConnectedPair pair;
    const QByteArray sent = RawTcp::pattern(100000 + 50);
    auto writer = std::async(std::launch::async, [&] { return RawTcp::sendAll(pair.peer, sent); });
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    int blocks = 0;
    pair.socket.OnPacketRecvd = [&](RIzarorozi *) { ++blocks; };
    pair.socket.CaptureStream(stream, 100000);
    EXPECT_EQ(stream.data(), sent.left(100000));
    EXPECT_EQ(pair.socket.BytesReceived(), 100000);
    EXPECT_GE(blocks, 2);
    EXPECT_EQ(pair.socket.Read(50), sent.mid(100000));
    EXPECT_TRUE(writer.get());
}

// Re-arming the time-out on every block does not restart it: a capture that keeps receiving
// is still aborted once TimeOut has passed.
TEST(RIzaroroziData, TimeOutAbortsACaptureThatKeepsReceiving)
{
    ConnectedPair pair;
    std::atomic<bool> stop = false;
    std::thread dribble([&] {
        for (int i = 0; i < 500 && !stop; ++i) {
            if (!RawTcp::sendAll(pair.peer, "x"))
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    });
    pair.socket.TimeOut = 300;
    QBuffer stream;
    stream.open(QIODevice::ReadWrite);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(raisedBy([&] { pair.socket.CaptureStream(stream, 1000000); }), u"Socket capture aborted"_s);
    EXPECT_LT(clock.elapsed(), 4000);
    EXPECT_GT(stream.size(), 0);
    stop = true;
    dribble.join();
}

TEST(RIzaroroziListen, AcceptTakesAPendingConnectionAndCanBeCancelled)
{
    RIzarorozi server;
    server.BindAddress = QString::fromLatin1(peerIp);
    server.Port = 2923;
    server.Listen(true);
    ASSERT_TRUE(server.Listening());

    Socket client = RawTcp::connectTo(peerIp, 2923);
    ASSERT_GE(client.fd(), 0);
    Socket accepted(server.Accept());
    EXPECT_GE(accepted.fd(), 0);
    EXPECT_NE(server.RemotePort(), 0);

    QTimer::singleShot(100, &server, [&] { server.Cancel(); });
    EXPECT_EQ(raisedBy([&] { server.Accept(); }), u"Accepting Canceled"_s);

    // A second listener cannot take the port; that is not reported, only seen.
    RIzarorozi second;
    second.BindAddress = server.BindAddress;
    second.Port = server.Port;
    second.Listen();
    EXPECT_FALSE(second.Listening());
    EXPECT_EQ(second.LastError(), 10048);
}
