#include "core/NearbyTable.h"
#include "core/PresenceRateLimit.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Kind = PresenceDatagram::Kind;
using Change = NearbyTable::Change;

namespace {

QByteArray idOf(int n)
{
    QByteArray id(PresenceDatagram::IdSize, 'p');
    id[0] = char(n);
    id[1] = char(n >> 8);
    return id;
}

PresenceDatagram datagram(int n, Kind kind = Kind::KeepAlive, const QByteArray &nickname = "peer")
{
    return PresenceDatagram{kind, idOf(n), 0, 0, nickname, {}};
}

} // namespace

TEST(NearbyTable, OnePeerSeenFromSeveralAddressesIsOneEntryPreferringOurSubnet)
{
    NearbyTable table;
    table.setLocalSubnets({{Ipv4Address(u"192.168.5.10"_s), 24}});
    EXPECT_EQ(table.observe(datagram(1, Kind::Hello), u"10.8.0.7"_s, 0).change, Change::Found);
    EXPECT_EQ(table.observe(datagram(1), u"192.168.5.20"_s, 10).change, Change::Changed);
    EXPECT_EQ(table.peer(idOf(1))->address, u"192.168.5.20"_s);
    // Back on the VPN address, even with a hello: our subnet stays preferred.
    EXPECT_EQ(table.observe(datagram(1, Kind::Hello), u"10.8.0.7"_s, 20).change, Change::Unchanged);
    EXPECT_EQ(table.size(), 1);
    EXPECT_EQ(table.peer(idOf(1))->addresses.size(), 2);

    // A second card on the same subnet: a keep-alive does not move the entry, a hello does.
    EXPECT_EQ(table.observe(datagram(1), u"192.168.5.21"_s, 30).change, Change::Unchanged);
    EXPECT_EQ(table.observe(datagram(1, Kind::Hello), u"192.168.5.21"_s, 40).change, Change::Changed);
    EXPECT_EQ(table.peer(idOf(1))->address, u"192.168.5.21"_s);
}

// One id from two hosts (a cloned disk) against one host that moved or has a VPN address.
TEST(NearbyTable, AnIdWhoseAddressesOnOneSubnetTakeTurnsIsHeardFromTwoHosts)
{
    const struct {
        const char *what;
        QList<std::pair<const char *, qint64>> heard; // address, time
        bool twoHosts;
    } cases[] = {
        {"two hosts taking turns", {{"192.168.5.20", 0}, {"192.168.5.21", 30}, {"192.168.5.20", 60}}, true},
        {"a new lease", {{"192.168.5.20", 0}, {"192.168.5.21", 30}, {"192.168.5.21", 90}}, false},
        {"our subnet and a VPN", {{"192.168.5.20", 0}, {"10.8.0.7", 30}, {"192.168.5.20", 60}}, false},
        {"one address", {{"192.168.5.20", 0}, {"192.168.5.20", 60}}, false},
    };
    for (const auto &c : cases) {
        NearbyTable table;
        table.setLocalSubnets({{Ipv4Address(u"192.168.5.10"_s), 24}});
        for (const auto &[address, at] : c.heard)
            table.observe(datagram(1), QString::fromLatin1(address), at);
        EXPECT_EQ(table.peer(idOf(1))->heardFromTwoHosts, c.twoHosts) << c.what;
    }
}

TEST(NearbyTable, NicknameStatusAndCapabilityChangesAreReported)
{
    NearbyTable table;
    table.observe(datagram(1), u"10.0.0.1"_s, 0);
    EXPECT_EQ(table.observe(datagram(1), u"10.0.0.1"_s, 1).change, Change::Unchanged);
    EXPECT_EQ(table.observe(datagram(1, Kind::KeepAlive, "new"), u"10.0.0.1"_s, 2).change, Change::Changed);
    auto d = datagram(1, Kind::KeepAlive, "new");
    d.statusMode = 1;
    EXPECT_EQ(table.observe(d, u"10.0.0.1"_s, 3).change, Change::Changed);
    d.capabilities = PresenceDatagram::CapabilityGb18030;
    EXPECT_EQ(table.observe(d, u"10.0.0.1"_s, 4).change, Change::Changed);
    EXPECT_EQ(table.peer(idOf(1))->displayNickname, u"new"_s);
}

TEST(NearbyTable, FullTableEvictsTheOldestUnknownPeerAndNeverAKnownOne)
{
    NearbyTable table;
    EXPECT_EQ(table.capacity(), 1024);
    table.setCapacity(3);
    for (int n = 1; n <= 3; ++n)
        table.observe(datagram(n), u"10.0.0.%1"_s.arg(n), n * 100);
    table.setKnown(idOf(1), true); // the oldest, but a buddy
    auto result = table.observe(datagram(4), u"10.0.0.4"_s, 400);
    EXPECT_EQ(result.change, Change::Found);
    EXPECT_EQ(result.evicted, idOf(2));
    EXPECT_EQ(table.size(), 3);
    EXPECT_TRUE(table.peer(idOf(1)));

    table.setKnown(idOf(3), true);
    table.setKnown(idOf(4), true);
    EXPECT_EQ(table.observe(datagram(5), u"10.0.0.5"_s, 500).change, Change::Refused);
    EXPECT_FALSE(table.peer(idOf(5)));
    EXPECT_EQ(table.size(), 3);
}

TEST(NearbyTable, SilentAddressesAndPeersExpire)
{
    NearbyTable table;
    table.observe(datagram(1), u"10.0.0.1"_s, 0);
    table.observe(datagram(1, Kind::KeepAlive), u"10.0.0.11"_s, 0);
    table.observe(datagram(2), u"10.0.0.2"_s, 0);
    table.observe(datagram(1), u"10.0.0.11"_s, 200);
    table.observe(datagram(2), u"10.0.0.2"_s, 250);
    EXPECT_TRUE(table.expire(299, 300).isEmpty());
    QList<QByteArray> moved;
    EXPECT_TRUE(table.expire(301, 300, &moved).isEmpty());
    EXPECT_EQ(moved, QList<QByteArray>{idOf(1)}) << "10.0.0.1 went silent";
    EXPECT_EQ(table.peer(idOf(1))->address, u"10.0.0.11"_s);
    EXPECT_EQ(table.expire(501, 300), QList<QByteArray>{idOf(1)});
    EXPECT_EQ(table.size(), 1);
    EXPECT_TRUE(table.remove(idOf(2)));
    EXPECT_FALSE(table.remove(idOf(2)));
}

TEST(NearbyTable, APeerKeepsABoundedNumberOfAddresses)
{
    NearbyTable table;
    for (int n = 0; n < 50; ++n)
        table.observe(datagram(1), u"10.0.1.%1"_s.arg(n), n);
    EXPECT_EQ(table.peer(idOf(1))->addresses.size(), NearbyTable::MaxAddressesPerPeer);
    EXPECT_TRUE(table.peer(idOf(1))->addresses.contains(table.peer(idOf(1))->address));
}

TEST(PresenceRateLimit, EachSenderGetsItsShareOfEachWindow)
{
    PresenceRateLimit limit;
    limit.perWindow = 3;
    limit.windowMs = 1000;
    for (int i = 0; i < 3; ++i)
        EXPECT_TRUE(limit.allow(u"10.0.0.1"_s, 10));
    EXPECT_FALSE(limit.allow(u"10.0.0.1"_s, 20));
    EXPECT_TRUE(limit.allow(u"10.0.0.2"_s, 20)) << "another sender is not held back";
    EXPECT_TRUE(limit.allow(u"10.0.0.1"_s, 1010)) << "a new window";

    limit.maxSenders = 2;
    EXPECT_FALSE(limit.allow(u"10.0.0.3"_s, 1011)) << "two senders remembered, both windows open";
    EXPECT_TRUE(limit.allow(u"10.0.0.3"_s, 2020)) << "ended windows make room";
}
