#include "core/Packet.h"
#include "core/PresenceId.h"
#include "tests/ui/NearbyPair.h"
#include "ui/PresencePage.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>

using namespace Qt::Literals::StringLiterals;

namespace {

using PresenceWiring = NearbyPair;

NearbyPeer only(const TestPeer &peer)
{
    const QList<NearbyPeer> peers = peer.form1->presence()->peers();
    return peers.size() == 1 ? peers.first() : NearbyPeer{};
}

TEST_F(PresenceWiring, StartedPeersAnnounceTheirIdNicknameAndStatusAndSayGoodbyeAtTheEnd)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    const NearbyPeer seen = only(*a);
    EXPECT_EQ(seen.id, PresenceId::loadOrCreate(b->context.configDir)) << "the id kept in B's folder";
    EXPECT_EQ(seen.displayNickname, u"阿红"_s);
    EXPECT_EQ(seen.statusMode, 0) << "secure status at start";
    EXPECT_TRUE(seen.capabilities & PresenceDatagram::CapabilityGb18030);

    b->form1->N18->trigger();
    EXPECT_TRUE(QTest::qWaitFor([&] { return only(*a).statusMode == 1; }, 5000)) << "normal status followed";
    b->form2->myname->setText(u"阿红红"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return only(*a).displayNickname == u"阿红红"_s; }, 5000))
        << "the nickname typed is announced once typing paused";

    b.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return a->form1->presence()->peers().isEmpty(); }, 5000))
        << "B's goodbye went out as its window went";
    EXPECT_TRUE(a->reporter.errors.isEmpty());
}

TEST_F(PresenceWiring, TurnedOffInTheSettingsAPeerSendsNothingSeesNothingAndRemembersIt)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    RawUdpPeer probe(u"127.0.0.4"_s);
    ASSERT_TRUE(probe.isBound());
    PresencePage &page = *b->form2->presencePage;
    EXPECT_TRUE(page.presenceOn->isChecked()) << "on by default";
    page.presenceOn->setChecked(false);
    EXPECT_FALSE(b->form1->presence()->isEnabled());
    EXPECT_TRUE(b->form1->presence()->peers().isEmpty());
    EXPECT_TRUE(QTest::qWaitFor([&] { return a->form1->presence()->peers().isEmpty(); }, 5000))
        << "a goodbye as it was turned off";

    // Nothing more leaves B: not on refresh, not at a hello, not at a change of status.
    linkPresence(*b, probe.address());
    probe.send(b->ip(), PresenceDatagram{PresenceDatagram::Kind::Hello, QByteArray(16, 'p'), 1, 1, "probe", {}}.build());
    b->form1->N18->trigger();
    Packet::send(b->endpoint(), probe.address(), "9end");
    ASSERT_TRUE(probe.waitForDatagrams(1));
    EXPECT_EQ(probe.received, QList<QByteArray>{"9end"});
    EXPECT_TRUE(b->form1->presence()->peers().isEmpty()) << "nor does it show who it hears";

    // The choice is kept for the next run.
    EXPECT_FALSE(PresenceSettings::load(b->context.configDir).enabled);
    TestPeer next(u"127.0.0.5"_s, b->context.configDir);
    EXPECT_FALSE(next.form2->presencePage->presenceOn->isChecked());
    EXPECT_TRUE(a->reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

TEST_F(PresenceWiring, TheInterfaceChoiceIsStoredOnlyWhenItDiffersFromTheDefault)
{
    PresencePage &page = *a->form2->presencePage;
    QListWidget &list = *page.interfaceList;
    // A test namespace has no interface but loopback: the list shows an interface chosen earlier.
    PresenceSettings stored;
    stored.interfaces = QStringList{u"docker0"_s};
    stored.save(a->context.configDir);
    PresencePage reopened(a->context);
    ASSERT_EQ(reopened.interfaceList->count(), list.count() + 1);
    QListWidgetItem *chosen = reopened.interfaceList->findItems(u"docker0"_s, Qt::MatchExactly).value(0);
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->checkState(), Qt::Checked);
    chosen->setCheckState(Qt::Unchecked);
    EXPECT_TRUE(PresenceSettings::load(a->context.configDir).interfaces.isEmpty())
        << "nothing ticked: every interface that is not virtual";
    chosen->setCheckState(Qt::Checked);
    EXPECT_EQ(PresenceSettings::load(a->context.configDir).interfaces, QStringList{u"docker0"_s});
}

} // namespace
