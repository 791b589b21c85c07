#include "RawTcp.h"
#include "net/TZnStrm.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

using namespace Qt::Literals::StringLiterals;
using RawTcp::Socket;

namespace {

constexpr const char *peerIp = "127.0.0.3";
constexpr quint16 peerPort = 2921;
const QString timedOut = u"10060:Connection timed out"_s;

// A post to a raw peer that accepts the connection and then reads nothing and answers
// nothing; the sender's waits end after StallTimeOut without a byte moving.
struct SilentPeer {
    Socket listener = RawTcp::listenOn(peerIp, peerPort);
    TZnStrm strm;
    QStringList errors;
    SilentPeer()
    {
        strm.Host = QString::fromLatin1(peerIp);
        strm.Port = peerPort;
        strm.StallTimeOut = 200;
        strm.OnSocketError = [this](RIzarorozi *, quint16, const QString &text) { errors << text; };
    }
    QString post(qsizetype size)
    {
        QBuffer body;
        body.setData(RawTcp::pattern(size));
        body.open(QIODevice::ReadOnly);
        QByteArray reply;
        return raisedBy([&] { strm.PostStream(body, reply); });
    }
};

} // namespace

TEST(StallTimeOut, PostToAReceiverThatNeverAcknowledgesEnds)
{
    SilentPeer peer;
    ASSERT_GE(peer.listener.fd(), 0);
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(peer.post(1000), timedOut); // the body fits the buffers: the wait is the acknowledgement
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_EQ(peer.strm.LastError(), 10060);
    EXPECT_FALSE(peer.strm.Connected());
    EXPECT_EQ(peer.errors, QStringList{timedOut});
}

TEST(StallTimeOut, PostToAReceiverThatStopsReadingEndsInsideTheBody)
{
    SilentPeer peer;
    ASSERT_GE(peer.listener.fd(), 0);
    qint64 sent = 0;
    peer.strm.OnPacketSent = [&](RIzarorozi *s) { sent = s->BytesSent(); };
    const qsizetype size = 64 * 1024 * 1024; // far more than the socket buffers hold
    EXPECT_EQ(peer.post(size), timedOut);
    EXPECT_GT(sent, 0);
    EXPECT_LT(sent, size);
    EXPECT_FALSE(peer.strm.Connected());
}

TEST(StallTimeOut, BytesThatKeepComingKeepTheReadGoing)
{
    Socket listener = RawTcp::listenOn(peerIp, peerPort);
    RIzarorozi socket;
    socket.Host = QString::fromLatin1(peerIp);
    socket.Port = peerPort;
    socket.StallTimeOut = 1000;
    socket.Connect();
    Socket peer = RawTcp::acceptOne(listener);
    // A slow peer: eight bytes, 150 ms apart. Each wait is shorter than the limit, the whole
    // read longer: only a wait without a byte counts.
    std::thread slow([&peer] {
        for (const char c : QByteArray("abcdefgh")) {
            std::this_thread::sleep_for(std::chrono::milliseconds(150));
            RawTcp::sendAll(peer, QByteArray(1, c));
        }
    });
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(socket.Read(8), QByteArray("abcdefgh"));
    EXPECT_GT(clock.elapsed(), 1000);
    slow.join();
}
