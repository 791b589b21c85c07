#include "net/TZnUDP.h"

#include <QElapsedTimer>
#include <QHostAddress>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Addresses of their own, so these tests never meet other tests' endpoints.
const QString EndpointIp = u"127.0.0.54"_s;
const QString PeerIp = u"127.0.0.55"_s;
constexpr int Port = 2928;

// Works until the local clock has moved past from (at most a second), without running the
// event loop: a handler that takes longer than the clock's step, as a slow dispatch would.
bool clockMovesPast(const QTime &from)
{
    QElapsedTimer spent;
    spent.start();
    while (QTime::currentTime() <= from) {
        if (spent.elapsed() > 1000)
            return false;
    }
    return true;
}

// An endpoint on EndpointIp:2928 and a plain socket that sends it datagrams.
class ReceiveTime : public ::testing::Test {
protected:
    void SetUp() override
    {
        udp.BindAddress = EndpointIp;
        udp.SetLocalPort(Port);
        ASSERT_EQ(udp.BoundPort(), Port);
        ASSERT_TRUE(peer.bind(QHostAddress(PeerIp), Port));
    }
    // The datagrams are in the endpoint's queue when this returns: loopback delivers at once.
    void send(const QByteArray &bytes) { peer.writeDatagram(bytes, QHostAddress(EndpointIp), Port); }

    TZnUDP udp;
    QUdpSocket peer;
    QList<QTime> times;
};

} // namespace

TEST_F(ReceiveTime, DatagramsWaitingAtOneWakeUpShareOneTimeOfDay)
{
    udp.OnDataReceived = [this](TZnUDP *sender, int, const QString &, int) {
        times << sender->ReceiveTime();
        EXPECT_EQ(sender->ReceiveTime(), times.last()) << "asked twice for one datagram";
        EXPECT_TRUE(clockMovesPast(times.last()));
    };
    const QTime before = QTime::currentTime();
    send("1a");
    send("1b");
    send("1c");
    ASSERT_TRUE(QTest::qWaitFor([&] { return times.size() == 3; }, 5000));
    EXPECT_EQ(times[1], times[0]);
    EXPECT_EQ(times[2], times[0]);
    EXPECT_GE(times[0], before);

    // The next wake-up reads the clock again; outside a wake-up it is the current time.
    send("2a");
    ASSERT_TRUE(QTest::qWaitFor([&] { return times.size() == 4; }, 5000));
    EXPECT_GT(times[3], times[0]);
    const QTime outside = udp.ReceiveTime();
    EXPECT_GT(outside, times[3]);
    EXPECT_LE(outside, QTime::currentTime());
}

TEST_F(ReceiveTime, ANestedWakeUpReadsTheClockAnew)
{
    // The first handler runs an event loop, as a box does; the second datagram is taken in
    // by that loop's own wake-up, after the clock has moved on.
    udp.OnDataReceived = [this](TZnUDP *sender, int, const QString &, int) {
        times << sender->ReceiveTime();
        if (times.size() == 1) {
            EXPECT_TRUE(clockMovesPast(times.first()));
            EXPECT_TRUE(QTest::qWaitFor([&] { return times.size() == 2; }, 5000));
        }
    };
    send("a");
    send("b");
    ASSERT_TRUE(QTest::qWaitFor([&] { return times.size() == 2; }, 5000));
    EXPECT_GT(times[1], times[0]);
}
