// Presence between complete peers, each a process of its own in a network namespace of its
// own, all joined by one bridge: what they show of each other (their standard output) and
// what they send (a packet counter on the bridge's ports).
#include "tests/presence/BridgePeers.h"
#include "core/PresenceService.h"
#include "tests/support/RawUdpPeer.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

class PresenceBridge : public BridgePeers {
protected:
    // Datagrams of kind the peer sent, on all its ports.
    int sent(const BridgePeer &peer, char kind = 0) const
    {
        int n = 0;
        for (const QString &port : peer.ports)
            n += traffic->count(port, kind);
        return n;
    }

    // Waits until each of the peers has sent count more keep-alives, so that whatever
    // repeated datagrams would do has had the chance to happen.
    bool keepAlivesPassed(const std::vector<BridgePeer *> &group, int count)
    {
        std::vector<int> before;
        for (const BridgePeer *p : group)
            before.push_back(sent(*p, 'K'));
        return runEventsUntil(
            [&] {
                for (size_t i = 0; i < group.size(); ++i)
                    if (sent(*group[i], 'K') < before[i] + count)
                        return false;
                return true;
            },
            DiscoveryMs);
    }

    // The "peer ..." lines a peer lists, reduced to "ID IP STATUS NICK", sorted, one a line.
    static std::string listed(BridgePeer &peer)
    {
        QStringList entries = peer.process->list(DiscoveryMs);
        for (QString &e : entries)
            e = e.mid(5);
        return sorted(entries);
    }
    static std::string sorted(QStringList lines)
    {
        lines.sort();
        return lines.join(u'\n').toStdString();
    }

};

QString entry(const BridgePeer &p, int status) { return u"%1 %2 %3 %4"_s.arg(p.id(), p.address).arg(status).arg(p.nick); }

} // namespace

TEST_F(PresenceBridge, ThreePeersFindEachOtherAndShowEachOtherOnce)
{
    peers.reserve(3);
    BridgePeer &a = addPeer(1, u"甲"_s);
    BridgePeer &b = addPeer(2, u"乙"_s, {u"--status"_s, u"1"_s});
    BridgePeer &c = addPeer(3, u"丙 <b>x</b>"_s);
    startAll();
    ASSERT_TRUE(allFound({&a, &b, &c}));
    ASSERT_TRUE(keepAlivesPassed({&a, &b, &c}, 2));

    EXPECT_EQ(listed(a), sorted({entry(b, 1), entry(c, 0)}));
    EXPECT_EQ(listed(b), sorted({entry(a, 0), entry(c, 0)}));
    EXPECT_EQ(listed(c), sorted({entry(a, 0), entry(b, 1)}));
    for (const BridgePeer *p : {&a, &b, &c}) {
        EXPECT_EQ(p->process->linesStartingWith(u"found "_s).size(), 2) << p->nick.toStdString();
        EXPECT_EQ(p->timesFound(p->id()), 0) << "its own broadcast";
        EXPECT_TRUE(p->process->linesStartingWith(u"gone "_s).isEmpty());
        EXPECT_EQ(sent(*p, 'H'), 1) << "one interface, one hello";
    }
}

TEST_F(PresenceBridge, NicknameAndStatusChangesAreFollowed)
{
    peers.reserve(2);
    BridgePeer &a = addPeer(1, u"小明"_s);
    BridgePeer &b = addPeer(2, u"小红"_s);
    startAll();
    ASSERT_TRUE(allFound({&a, &b}));

    const qsizetype mark = b.process->lines().size();
    a.process->send(u"nick 大明"_s);
    const QString renamed = u"changed %1 %2 0 大明"_s.arg(a.id(), a.address);
    EXPECT_EQ(b.process->waitForLine(renamed, DiscoveryMs, mark).toStdString(), renamed.toStdString());
    a.process->send(u"status 1"_s);
    const QString normal = u"changed %1 %2 1 大明"_s.arg(a.id(), a.address);
    EXPECT_EQ(b.process->waitForLine(normal, DiscoveryMs, mark).toStdString(), normal.toStdString());
    EXPECT_EQ(b.timesFound(a.id()), 1);
}

TEST_F(PresenceBridge, AGoodbyeDropsAPeerAtOnceAndAKilledPeerGoesAfterTheTimeOut)
{
    constexpr int KeepAliveMs = 1000;
    peers.reserve(3);
    BridgePeer &a = addPeer(1, u"留"_s, {}, KeepAliveMs);
    BridgePeer &b = addPeer(2, u"杀"_s, {}, KeepAliveMs);
    BridgePeer &c = addPeer(3, u"走"_s, {}, KeepAliveMs);
    startAll();
    ASSERT_TRUE(allFound({&a, &b, &c}));

    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(c.process->quit(StartMs));
    const QString cGone = u"gone "_s + c.id();
    ASSERT_FALSE(a.process->waitForLine(cGone, DiscoveryMs).isEmpty());
    EXPECT_LT(clock.elapsed(), KeepAliveMs) << "dropped by the time-out, not the goodbye";
    EXPECT_FALSE(b.process->waitForLine(cGone, DiscoveryMs).isEmpty());
    EXPECT_TRUE(runEventsUntil([&] { return sent(c, 'G') == 1; }, DiscoveryMs));

    const qint64 lastHeard = [&] {
        const int before = sent(b);
        runEventsUntil([&] { return sent(b) > before; }, DiscoveryMs);
        return clock.elapsed();
    }();
    b.process->kill();
    const QString bGone = u"gone "_s + b.id();
    ASSERT_FALSE(a.process->waitForLine(bGone, (PresenceService::ExpiryPeriods + 3) * KeepAliveMs).isEmpty());
    EXPECT_GE(clock.elapsed() - lastHeard, (PresenceService::ExpiryPeriods - 1) * KeepAliveMs);
    EXPECT_LT(clock.elapsed() - lastHeard, PresenceService::ExpiryPeriods * KeepAliveMs + KeepAliveMs / 2)
        << "gone as its third period ends, not at a later keep-alive";
    EXPECT_EQ(sent(b, 'G'), 0);
    EXPECT_EQ(a.timesFound(b.id()), 1);
}

// The peer with two interfaces (two subnets on the one bridge) is heard by the others at two
// addresses, and they hear it on both of theirs.
TEST_F(PresenceBridge, APeerWithTwoInterfacesIsShownOnce)
{
    peers.reserve(3);
    BridgePeer &a = addPeer({{u"10.88.0.1/24"_s, u"10.88.1.1/24"_s}}, u"甲"_s);
    BridgePeer &b = addPeer({{u"10.88.0.2/24"_s, u"10.88.1.2/24"_s}}, u"乙"_s);
    BridgePeer &d = addPeer({{u"10.88.0.9/24"_s}, {u"10.88.1.9/24"_s}}, u"双"_s);
    startAll();
    ASSERT_TRUE(allFound({&a, &b, &d}));
    ASSERT_TRUE(keepAlivesPassed({&a, &b, &d}, 1));
    // Heard at two addresses all the time, it keeps the one chosen: no change is reported.
    const qsizetype settled = a.process->lines().size();
    ASSERT_TRUE(keepAlivesPassed({&a, &b, &d}, 3));
    EXPECT_EQ(a.process->linesStartingWith(u"changed "_s, settled).join(u'\n').toStdString(), "");

    EXPECT_GT(traffic->count(d.ports.at(0)), 0);
    EXPECT_GT(traffic->count(d.ports.at(1)), 0) << "the second interface was not used";
    for (BridgePeer *p : {&a, &b, &d}) {
        EXPECT_EQ(p->process->linesStartingWith(u"found "_s).size(), 2) << p->nick.toStdString();
        EXPECT_EQ(p->process->list(DiscoveryMs).size(), 2) << p->nick.toStdString();
        EXPECT_TRUE(p->process->linesStartingWith(u"gone "_s).isEmpty());
    }
}

TEST_F(PresenceBridge, APeerWithPresenceOffIsNotSeenAndSendsNothing)
{
    peers.reserve(3);
    BridgePeer &a = addPeer(1, u"甲"_s);
    BridgePeer &b = addPeer(2, u"乙"_s);
    BridgePeer &off = addPeer(3, u"隐"_s, {u"--presence"_s, u"off"_s});
    startAll();
    ASSERT_TRUE(allFound({&a, &b}));
    ASSERT_TRUE(keepAlivesPassed({&a, &b}, 2));

    EXPECT_EQ(sent(off), 0);
    EXPECT_EQ(a.timesFound(off.id()), 0);
    EXPECT_EQ(b.timesFound(off.id()), 0);
    EXPECT_TRUE(off.process->list(DiscoveryMs).isEmpty());
    EXPECT_TRUE(off.process->linesStartingWith(u"found "_s).isEmpty());

    // Turned on, it is seen: the silence above was presence being off, not a broken link.
    off.process->send(u"presence on"_s);
    ASSERT_TRUE(allFound({&a, &b, &off}));
    // Turned off again: one goodbye, the others drop it, and it shows no one.
    const qsizetype mark = off.process->lines().size();
    off.process->send(u"presence off"_s);
    const QString gone = u"gone "_s + off.id();
    EXPECT_FALSE(a.process->waitForLine(gone, DiscoveryMs).isEmpty());
    EXPECT_FALSE(off.process->waitForLine(u"gone "_s + a.id(), DiscoveryMs, mark).isEmpty());
    ASSERT_TRUE(runEventsUntil([&] { return sent(off, 'G') == 1; }, DiscoveryMs));
    const int sentBefore = sent(off);
    ASSERT_TRUE(keepAlivesPassed({&a, &b}, 2));
    EXPECT_EQ(sent(off), sentBefore);
    EXPECT_TRUE(off.process->list(DiscoveryMs).isEmpty());
}

// Nicknames come from the network: a line break in one must not end the peer's event line, or
// a stranger could put lines of its own into what the peer reports.
TEST_F(PresenceBridge, ANicknameCannotBreakAnEventLine)
{
    peers.reserve(1);
    BridgePeer &a = addPeer(1, u"甲"_s);
    startAll();
    ASSERT_TRUE(net.addBridgeAddress(u"10.88.0.254/24"_s));
    RawUdpPeer stranger(u"10.88.0.254"_s);
    ASSERT_TRUE(stranger.isBound());
    const QByteArray id = QByteArray::fromHex("00112233445566778899aabbccddeeff");
    stranger.send(a.address, PresenceDatagram{PresenceDatagram::Kind::Hello, id, 1, 0, "x\nlisted 7\r", {}}.build());

    const QString found = a.process->waitForLine(u"found "_s + QString::fromLatin1(id.toHex()), DiscoveryMs);
    EXPECT_EQ(found.toStdString(), "found 00112233445566778899aabbccddeeff 10.88.0.254 1 x?listed 7?");
    EXPECT_TRUE(a.process->linesStartingWith(u"listed"_s).isEmpty());
    ASSERT_TRUE(stranger.waitForDatagrams(1)); // the answer
    EXPECT_EQ(a.process->list(DiscoveryMs).size(), 1);
}
