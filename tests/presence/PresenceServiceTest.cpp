#include "core/PresenceService.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PresenceId.h"
#include "tests/core/DispatcherPeer.h"
#include "tests/support/RawUdpPeer.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTimer>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Kind = PresenceDatagram::Kind;

namespace {

// A complete dispatcher peer with presence wired to its "8" datagrams. It uses no interface
// (only loopback is chosen, which presence never uses): hellos go to its unicast targets, so
// a test run never broadcasts on a real LAN.
struct PresencePeer {
    PresencePeer(const QString &address, const QString &nickname)
        : peer(address), service(peer.lwudp, PresenceId::loadOrCreate(peer.dir.path()))
    {
        peer.dispatcher.OnPresence = [this](const QByteArray &datagram, const QString &ip) {
            service.handleDatagram(datagram, ip);
        };
        service.setChosenInterfaces({u"lo"_s});
        service.setOwnInfo(nickname, 0, PresenceDatagram::CapabilityGb18030);
        service.setMaxAnswerDelayMs(0);
    }
    QList<NearbyPeer> peers() const { return service.peers(); }

    DispatcherPeer peer;
    PresenceService service;
};

PresenceDatagram hello(const QByteArray &id, Kind kind = Kind::Hello)
{
    return PresenceDatagram{kind, id, 1, 0, "probe", {}};
}

QByteArray idOf(int n)
{
    QByteArray id(PresenceDatagram::IdSize, 'r');
    id[0] = char(n);
    return id;
}

class PresenceServiceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(a.peer.bound() && b.peer.bound()) << "127.0.0.2 or .3:2928 is taken";
        ASSERT_TRUE(probe.isBound()) << "127.0.0.4:2928 is taken";
        a.service.setUnicastTargets({b.peer.address});
        b.service.setUnicastTargets({a.peer.address});
    }
    void startBoth()
    {
        a.service.start();
        b.service.start();
        ASSERT_TRUE(QTest::qWaitFor([&] { return a.peers().size() == 1 && b.peers().size() == 1; }, 5000));
    }
    // What `to` received from index start on, up to a probe that `from` sends once the work
    // already queued on the event loop (an answer due now) has run.
    static QByteArrayList receivedAfterQueuedWork(PresencePeer &from, PresencePeer &to, qsizetype start)
    {
        QTimer::singleShot(0, [&] { from.peer.sendRaw(to.peer.address, "9probe"); });
        EXPECT_TRUE(QTest::qWaitFor([&] { return to.peer.received.mid(start).contains("9probe"); }, 5000));
        QByteArrayList result = to.peer.received.mid(start);
        result.removeAll("9probe");
        return result;
    }

    PresencePeer a{u"127.0.0.2"_s, u"小明"_s};
    PresencePeer b{u"127.0.0.3"_s, u"小红"_s};
    RawUdpPeer probe{u"127.0.0.4"_s};
};

} // namespace

TEST_F(PresenceServiceTest, TwoPeersFindEachOtherOnceFollowChangesAndDropAPeerThatSaysGoodbye)
{
    QSignalSpy found(&a.service, &PresenceService::peerFound);
    QSignalSpy changed(&a.service, &PresenceService::peerChanged);
    QSignalSpy gone(&a.service, &PresenceService::peerGone);
    startBoth();
    const NearbyPeer seen = a.peers().at(0);
    EXPECT_EQ(seen.id, b.service.ownId());
    EXPECT_EQ(seen.address, u"127.0.0.3"_s);
    EXPECT_EQ(seen.displayNickname, u"小红"_s);
    EXPECT_TRUE(seen.capabilities & PresenceDatagram::CapabilityGb18030);
    EXPECT_EQ(b.peers().at(0).id, a.service.ownId());
    EXPECT_EQ(found.count(), 1);
    EXPECT_TRUE(a.peer.reporter.errors.isEmpty() && b.peer.reporter.errors.isEmpty());
    EXPECT_TRUE(a.peer.windows.messageWindows.isEmpty()) << "presence opens no window";

    b.service.setOwnInfo(u"小红红"_s, 1, PresenceDatagram::CapabilityGb18030);
    ASSERT_TRUE(changed.wait(5000));
    EXPECT_EQ(changed.count(), 1) << "nickname and status went out together";
    EXPECT_EQ(a.peers().at(0).displayNickname, u"小红红"_s);
    EXPECT_EQ(a.peers().at(0).statusMode, 1);

    b.service.stop();
    ASSERT_TRUE(gone.wait(5000));
    EXPECT_EQ(gone.at(0).at(0).toByteArray(), b.service.ownId());
    EXPECT_TRUE(a.peers().isEmpty());
    EXPECT_EQ(found.count(), 1);
}

TEST_F(PresenceServiceTest, APeerNotHeardForThreeKeepAlivePeriodsIsGoneAsTheThirdEnds)
{
    constexpr int PeriodMs = 300;
    a.service.setKeepAliveMs(PeriodMs); // b keeps the default minute and stays silent meanwhile
    QSignalSpy gone(&a.service, &PresenceService::peerGone);
    startBoth();
    QElapsedTimer sinceFound;
    sinceFound.start();
    ASSERT_TRUE(gone.wait(5000));
    EXPECT_GE(sinceFound.elapsed(), 3 * PeriodMs - 20) << "not before three periods";
    EXPECT_LT(sinceFound.elapsed(), 3 * PeriodMs + PeriodMs / 2) << "not at the next keep-alive tick";
    EXPECT_TRUE(a.peers().isEmpty());
    EXPECT_EQ(b.peers().size(), 1) << "a's keep-alives keep a in b's table";
}

TEST_F(PresenceServiceTest, OurOwnIdIsIgnoredWhoeverSendsIt)
{
    a.service.start();
    QSignalSpy found(&a.service, &PresenceService::peerFound);
    probe.send(a.peer.address, hello(a.service.ownId()).build());
    probe.send(a.peer.address, hello(idOf(7)).build());
    ASSERT_TRUE(found.wait(5000));
    ASSERT_EQ(a.peers().size(), 1);
    EXPECT_EQ(a.peers().at(0).id, idOf(7));
    EXPECT_EQ(found.count(), 1);
}

TEST_F(PresenceServiceTest, OneSenderIsRateLimitedAndTheTableStaysBounded)
{
    a.service.start();
    a.service.rateLimit().perWindow = 5;
    a.service.table().setCapacity(3);
    QSignalSpy gone(&a.service, &PresenceService::peerGone);
    const qsizetype start = a.peer.received.size();
    for (int n = 1; n <= 20; ++n)
        probe.send(a.peer.address, hello(idOf(n)).build());
    ASSERT_TRUE(a.peer.waitForDatagrams(start + 20));
    EXPECT_EQ(a.service.rateLimited(), 15);
    EXPECT_EQ(a.peers().size(), 3) << "five let through, three kept";
    EXPECT_EQ(gone.count(), 2) << "the two oldest made room";
    EXPECT_TRUE(a.service.table().peer(idOf(5)) && !a.service.table().peer(idOf(1)));
    EXPECT_TRUE(probe.waitForDatagrams(1));
    EXPECT_LE(probe.received.size(), 5) << "at most one answer per hello let through";
}

TEST_F(PresenceServiceTest, TurnedOffItNeitherSendsNorReports)
{
    startBoth();
    QSignalSpy goneA(&a.service, &PresenceService::peerGone);
    QSignalSpy goneB(&b.service, &PresenceService::peerGone);
    a.service.setEnabled(false);
    EXPECT_EQ(goneA.count(), 1) << "the window is told to forget b";
    EXPECT_TRUE(a.peers().isEmpty());
    ASSERT_TRUE(goneB.wait(5000)) << "a said goodbye";

    const qsizetype aStart = a.peer.received.size();
    const qsizetype bStart = b.peer.received.size();
    b.service.refresh();
    ASSERT_TRUE(a.peer.waitForDatagrams(aStart + 1));
    EXPECT_TRUE(receivedAfterQueuedWork(a, b, bStart).isEmpty()) << "no answer while off";
    EXPECT_TRUE(a.peers().isEmpty());

    a.service.setEnabled(true);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.peers().size() == 1 && b.peers().size() == 1; }, 5000));
}

TEST_F(PresenceServiceTest, ABaseProtocolPeerGetsOnlyIgnorableDatagramsAndEveryPacketAsBefore)
{
    a.service.setUnicastTargets({probe.address()});
    a.peer.windows.caption = u"[自动回复]:休息中Zzz"_s;
    a.peer.windows.status = 1;
    a.peer.windows.myname = u"小明"_s;
    a.service.start();
    ASSERT_TRUE(probe.waitForDatagrams(1));
    const QByteArray announced = probe.received.at(0);
    EXPECT_EQ(announced.at(0), '8') << "a type every base peer ignores";
    EXPECT_LE(announced.size(), Packet::BufferSize);
    ASSERT_TRUE(PresenceDatagram::parse(announced));
    EXPECT_EQ(PresenceDatagram::parse(announced)->id, a.service.ownId());

    probe.send(a.peer.address, "1" + Gbk::encode(u"你好"_s));
    ASSERT_TRUE(probe.waitForDatagrams(2));
    EXPECT_EQ(probe.received.at(1), "6" + Gbk::encode(u"[自动回复]:休息中Zzz"_s));
    probe.send(a.peer.address, "2probe");
    ASSERT_TRUE(probe.waitForDatagrams(3));
    EXPECT_EQ(probe.received.at(2), "4" + Gbk::encode(u"小明"_s));
    ASSERT_EQ(a.peer.windows.messageWindows.size(), 1);
    EXPECT_EQ(a.peer.windows.messageWindows.at(0).mess, u"你好"_s);

    Packet::send(a.peer.lwudp, probe.address(), Packet::fileOffer(1234, u"a.txt"_s, u"hi"_s));
    ASSERT_TRUE(probe.waitForDatagrams(4));
    EXPECT_EQ(probe.received.at(3), Packet::fileOffer(1234, u"a.txt"_s, u"hi"_s));

    // Broken presence datagrams from the probe change nothing and report nothing.
    const qsizetype start = a.peer.received.size();
    for (const QByteArray &junk : {QByteArray("8"), QByteArray("8\x01H"), QByteArray("8\x09Zjunk")})
        probe.send(a.peer.address, junk);
    ASSERT_TRUE(a.peer.waitForDatagrams(start + 3));
    EXPECT_TRUE(a.peers().isEmpty());
    EXPECT_TRUE(a.peer.reporter.errors.isEmpty()) << a.peer.reporter.errors.join(u'\n').toStdString();
    EXPECT_EQ(a.peer.windows.messageWindows.size(), 1);
}
