#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/PresenceId.h"
#include "harness/TempDir.h"
#include "tests/ui/NearbyPair.h"
#include "ui/NearbyList.h"
#include "ui/PresencePage.h"
#include "ui/TForm4.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

// Peers started on folders of the test's own, so that a second run finds the first one's
// files; a first run is given its nickname as an earlier run would have saved it.
std::unique_ptr<TestPeer> startIn(const TempDir &dir, const QString &address, const QString &firstNickname = {})
{
    auto peer = std::make_unique<TestPeer>(address, dir.path());
    if (!firstNickname.isEmpty())
        peer->storeNickname(firstNickname);
    peer->start();
    return peer;
}

// a adds b, found nearby, as a buddy; b in normal status accepts at once.
void befriendNearby(TestPeer &a, TestPeer &b)
{
    linkPresence(a, b.ip());
    linkPresence(b, a.ip());
    b.form1->N18->trigger();
    NearbyList &list = *a.form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 1; }, 5000));
    list.setCurrentRow(0);
    list.addFriend->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == 1; }, 5000));
}

// a adds a peer of the base protocol (a raw probe that accepts) through the add-friend dialog.
void befriendProbe(TestPeer &a, RawUdpPeer &probe)
{
    const int before = a.form1->userlist->count();
    a.form1->N9->trigger();
    a.form1->addFriendDialog()->dfip->setText(probe.address());
    a.form1->addFriendDialog()->Button1->click();
    ASSERT_TRUE(probe.waitForDatagrams(1));
    probe.send(a.ip(), "4" + Gbk::encode(u"老式"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == before + 1; }, 5000));
}

QStringList entries(const TestPeer &peer)
{
    QStringList list;
    for (int row = 0; row < peer.form1->userlist->count(); ++row)
        list << peer.form1->userlist->item(row)->text();
    return list;
}

TEST(RememberedBuddies, OffTheListsOfTheLastRunAreErasedAtStartAsAlways)
{
    TempDir dirA, dirB;
    {
        auto a = startIn(dirA, u"127.0.0.2"_s, u"阿明"_s);
        auto b = startIn(dirB, u"127.0.0.3"_s, u"阿红"_s);
        EXPECT_FALSE(a->form2->presencePage->rememberBuddies->isChecked()) << "off by default";
        befriendNearby(*a, *b);
        EXPECT_TRUE(dirA.read(u"myinfo.ini"_s).contains("PresenceIdSection"));
    }
    ASSERT_TRUE(dirA.read(u"myinfo.ini"_s).contains("UserSection"));
    auto again = startIn(dirA, u"127.0.0.2"_s);
    EXPECT_EQ(again->form2->nickname(), u"阿明"_s) << "the nickname is kept as always";
    EXPECT_EQ(again->form1->userlist->count(), 0);
    const QByteArray ini = dirA.read(u"myinfo.ini"_s);
    EXPECT_FALSE(ini.contains("UserSection") || ini.contains("IpSection") || ini.contains("PresenceIdSection"));
}

TEST(RememberedBuddies, OnTheBuddiesComeBackAndOneWithAnIdIsFollowedToItsNewAddress)
{
    TempDir dirA, dirB;
    RawUdpPeer probe(u"127.0.0.4"_s);
    ASSERT_TRUE(probe.isBound());
    {
        auto a = startIn(dirA, u"127.0.0.2"_s, u"阿明"_s);
        auto b = startIn(dirB, u"127.0.0.3"_s, u"阿红"_s);
        a->form2->presencePage->rememberBuddies->setChecked(true);
        befriendNearby(*a, *b);
        befriendProbe(*a, probe);
        a->form1->N18->trigger(); // B, remembered or not, must not be asked again
    }
    auto a = startIn(dirA, u"127.0.0.2"_s);
    EXPECT_TRUE(a->form2->presencePage->rememberBuddies->isChecked());
    EXPECT_EQ(entries(*a), (QStringList{u"[1]阿红"_s, u"[2]老式"_s}));
    ContactStore &store = a->form1->store();
    EXPECT_EQ(store.buddyIp(u"1"_s), u"127.0.0.3"_s);

    // B comes back on a new lease: the same id (kept in its folder) from another address.
    auto b = startIn(dirB, u"127.0.0.6"_s);
    linkPresence(*a, b->ip());
    linkPresence(*b, a->ip());
    ASSERT_TRUE(QTest::qWaitFor([&] { return store.buddyIp(u"1"_s) == b->ip(); }, 5000));
    EXPECT_EQ(store.senderLookup(b->ip()), u"[1]阿红"_s) << "its messages are a buddy's";
    EXPECT_TRUE(store.senderLookup(u"127.0.0.3"_s).isEmpty());
    EXPECT_EQ(a->form1->nearbylist->count(), 0) << "a buddy is not a nearby stranger";
    EXPECT_EQ(entries(*a), (QStringList{u"[1]阿红"_s, u"[2]老式"_s}));
    EXPECT_EQ(store.buddyIp(u"2"_s), probe.address()) << "a buddy without id is kept by its address";
    EXPECT_TRUE(a->reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

TEST(RememberedBuddies, AnIdClaimedFromAnotherAddressWhileTheBuddyIsHeardMovesNothing)
{
    TempDir dirA, dirB;
    auto a = startIn(dirA, u"127.0.0.2"_s, u"阿明"_s);
    auto b = startIn(dirB, u"127.0.0.3"_s, u"阿红"_s);
    befriendNearby(*a, *b);
    const QByteArray id = PresenceId::loadOrCreate(dirB.path());
    RawUdpPeer forger(u"127.0.0.4"_s);
    forger.send(a->ip(), PresenceDatagram{PresenceDatagram::Kind::Hello, id, 1, 0, "fake", {}}.build());
    ASSERT_TRUE(QTest::qWaitFor([&] {
        const std::optional<NearbyPeer> seen = a->form1->presence()->table().peer(id);
        return seen && seen->addresses.contains(forger.address());
    }, 5000));
    EXPECT_EQ(a->form1->store().buddyIp(u"1"_s), b->ip());
    EXPECT_EQ(a->form1->store().senderLookup(forger.address()), QString());
}

TEST(RememberedBuddies, ADeletedBuddyIsNotFollowedBackIntoTheList)
{
    TempDir dirA, dirB;
    auto a = startIn(dirA, u"127.0.0.2"_s, u"阿明"_s);
    auto b = startIn(dirB, u"127.0.0.3"_s, u"阿红"_s);
    befriendNearby(*a, *b);
    a->form1->userlist->item(0)->setSelected(true);
    a->form1->N10->trigger();
    b.reset();
    auto moved = startIn(dirB, u"127.0.0.6"_s);
    linkPresence(*a, moved->ip());
    linkPresence(*moved, a->ip());
    ASSERT_TRUE(QTest::qWaitFor([&] { return a->form1->nearbylist->count() == 1; }, 5000))
        << "shown as a nearby stranger";
    EXPECT_TRUE(a->form1->store().buddyIp(u"1"_s).isEmpty());
    EXPECT_TRUE(a->form1->store().buddyEntries().isEmpty());
}

} // namespace
