#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PresenceId.h"
#include "tests/ui/NearbyPair.h"
#include "ui/NearbyList.h"
#include "ui/PresencePage.h"
#include "ui/PresenceWhy.h"
#include "ui/TForm3.h"
#include "ui/TForm4.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextDocument>

using namespace Qt::Literals::StringLiterals;

namespace {

using NearbySection = NearbyPair;

QByteArray probeId() { return QByteArray(PresenceDatagram::IdSize, 'p'); }

// A presence hello as a peer of our kind would send it, from a probe that is not our code.
QByteArray helloFrom(const QByteArray &nickname, quint16 capabilities = 0)
{
    return PresenceDatagram{PresenceDatagram::Kind::Hello, probeId(), 1, capabilities, nickname, {}}.build();
}

// The datagrams of the base protocol a probe received: presence datagrams left out.
QList<QByteArray> basePackets(const RawUdpPeer &probe)
{
    QList<QByteArray> packets;
    for (const QByteArray &datagram : probe.received)
        if (!datagram.startsWith('8'))
            packets << datagram;
    return packets;
}

void doubleClick(NearbyList &list, int row)
{
    const QRect rect = list.visualItemRect(list.item(row));
    // A widget's double click arrives after the first click of the pair, as from a mouse.
    QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseDClick(list.viewport(), Qt::LeftButton, {}, rect.center());
    QTest::mouseRelease(list.viewport(), Qt::LeftButton, {}, rect.center());
}

// The tooltip's text as it is shown.
QString shownToolTip(const QString &tip)
{
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

TEST_F(NearbySection, APeerIsShownOnceFollowsItsStatusAndLeavesAtItsGoodbye)
{
    NearbyList &list = *a->form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 1; }, 5000));
    EXPECT_EQ(list.item(0)->text(), u"阿红 (安全)"_s);
    EXPECT_TRUE(shownToolTip(list.item(0)->toolTip()).contains(b->ip()));
    // Asked again (both sides), the peer answers and stays one entry; its status follows.
    list.refresh->trigger();
    b->form1->nearbylist->refresh->trigger();
    b->form1->N18->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.item(0)->text() == u"阿红 (一般)"_s; }, 5000));
    EXPECT_EQ(list.count(), 1);
    b.reset();
    EXPECT_TRUE(QTest::qWaitFor([&] { return list.count() == 0; }, 5000));
}

TEST_F(NearbySection, MarkupInANearbyNicknameIsShownAsWritten)
{
    b->form2->myname->setText(u"<b>粗</b>&amp;"_s);
    NearbyList &list = *a->form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 1 && list.item(0)->text().startsWith(u'<'); }, 5000));
    EXPECT_EQ(list.item(0)->text(), u"<b>粗</b>&amp; (安全)"_s);
    EXPECT_TRUE(shownToolTip(list.item(0)->toolTip()).startsWith(u"<b>粗</b>&amp;\n"_s));
}

TEST_F(NearbySection, ADoubleClickSendsTheOrdinaryFriendRequestAndAFriendLeavesTheSection)
{
    RawUdpPeer probe(u"127.0.0.4"_s);
    ASSERT_TRUE(probe.isBound());
    probe.send(a->ip(), helloFrom("probe"));
    NearbyList &list = *a->form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 2; }, 5000));
    const int row = list.item(0)->text().startsWith(u"probe"_s) ? 0 : 1;
    doubleClick(list, row);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !basePackets(probe).isEmpty(); }, 5000));
    EXPECT_EQ(basePackets(probe), QList<QByteArray>{Packet::friendRequest(u"阿明"_s)});
    EXPECT_EQ(basePackets(probe).first(), "2" + Gbk::encode(u"阿明"_s));
    ASSERT_NE(a->form1->addFriendDialog(), nullptr) << "the request went through the add-friend dialog";
    EXPECT_TRUE(a->form1->addFriendDialog()->asked(probe.address()));
    a->form1->addFriendDialog()->close();

    // B in normal status accepts at once: each is the other's buddy and leaves its section.
    b->form1->N18->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 2; }, 5000));
    list.setCurrentRow(list.item(0)->text().startsWith(u"阿红"_s) ? 0 : 1);
    list.addFriend->trigger();
    ASSERT_TRUE(QTest::qWaitFor([&] { return a->form1->userlist->count() == 1; }, 5000));
    EXPECT_EQ(a->form1->userlist->item(0)->text(), u"[1]阿红"_s);
    EXPECT_EQ(list.count(), 1);
    EXPECT_TRUE(list.item(0)->text().startsWith(u"probe"_s));
    EXPECT_EQ(b->form1->nearbylist->count(), 0);

    // Deleted, the buddy is a nearby peer again.
    a->form1->userlist->item(0)->setSelected(true);
    a->form1->N10->trigger();
    EXPECT_EQ(list.count(), 2);
    EXPECT_TRUE(a->reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

TEST_F(NearbySection, ASecureStatusPeerStillAsksItsPersonAndABanStillHolds)
{
    NearbyList &list = *a->form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 1; }, 5000));
    b->prompts.confirmAnswers = {Prompts::Answer::NoToAll};
    doubleClick(list, 0);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b->prompts.texts(u"confirm"_s).size() == 1; }, 5000));
    EXPECT_EQ(b->form1->userlist->count(), 0);
    doubleClick(list, 0); // a new dialog, a new request: B has banned A by now
    Packet::send(a->endpoint(), b->ip(), Packet::message(u"后来的消息"_s)); // handled after it
    ASSERT_TRUE(QTest::qWaitFor([&] { return !b->form1->findChildren<TForm3 *>().isEmpty(); }, 5000));
    EXPECT_EQ(b->prompts.texts(u"confirm"_s).size(), 1) << "banned: not asked again";
    EXPECT_EQ(a->form1->userlist->count(), 0);
}

TEST_F(NearbySection, TurnedOffThereIsNoSectionContentWhateverArrives)
{
    NearbyList &list = *a->form1->nearbylist;
    ASSERT_TRUE(QTest::qWaitFor([&] { return list.count() == 1; }, 5000));
    a->form2->presencePage->presenceOn->setChecked(false);
    EXPECT_EQ(list.count(), 0);
    RawUdpPeer probe(u"127.0.0.4"_s);
    probe.send(a->ip(), helloFrom("probe"));
    b->form1->nearbylist->refresh->trigger();
    probe.send(a->ip(), "1" + Gbk::encode(u"你好"_s)); // handled after the hello
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a->form1->findChildren<TForm3 *>().isEmpty(); }, 5000));
    EXPECT_EQ(list.count(), 0);
    a->form1->N9->trigger();
    EXPECT_FALSE(a->form1->addFriendDialog()->nearby->isEnabled());
}

TEST_F(NearbySection, TheAddFriendDialogOffersTheNearbyPeersAndTakesATypedAddress)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return a->form1->nearbylist->count() == 1; }, 5000));
    a->form1->N9->trigger();
    TForm4 &dialog = *a->form1->addFriendDialog();
    ASSERT_EQ(dialog.nearby->count(), 2) << "a prompt and the one peer";
    EXPECT_EQ(dialog.nearby->itemText(1), u"阿红  127.0.0.3"_s);
    dialog.nearby->setCurrentIndex(1);
    emit dialog.nearby->activated(1);
    EXPECT_EQ(dialog.dfip->text(), b->ip());
    dialog.dfip->clear();
    QTest::keyClicks(dialog.dfip, u"127.0.0.9"_s);
    EXPECT_EQ(dialog.dfip->text(), u"127.0.0.9"_s);
    // The offer follows presence while the dialog is open.
    b.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return dialog.nearby->count() == 1; }, 5000));
    EXPECT_FALSE(dialog.nearby->isEnabled());
}

TEST_F(NearbySection, TheWhyWindowTellsWhatPresenceUsesAndTheUsualCauses)
{
    a->form1->why->trigger();
    const QList<PresenceWhy *> windows = a->form1->findChildren<PresenceWhy *>();
    ASSERT_EQ(windows.size(), 1);
    PresenceWhy &why = *windows.first();
    EXPECT_EQ(why.parentWidget(), a->form1.get());
    EXPECT_TRUE(why.isVisible());
    const QString text = why.text->toPlainText();
    EXPECT_TRUE(text.contains(u"UDP端口2928：已打开"_s));
    EXPECT_TRUE(text.contains(u"sudo ufw allow 2928/udp"_s) && text.contains(u"sudo ufw allow 2921/tcp"_s));
    EXPECT_TRUE(text.contains(u"客户端隔离"_s) && text.contains(u"VPN"_s));
    EXPECT_TRUE(text.contains(u"使用的网卡：没有"_s)) << "a test namespace has loopback only";
    a->form1->why->trigger();
    EXPECT_EQ(a->form1->findChildren<PresenceWhy *>().size(), 1) << "one window, brought up again";
    a->form2->presencePage->presenceOn->setChecked(false);
    why.again->click();
    EXPECT_TRUE(why.text->toPlainText().startsWith(u"“附近的人”已关闭"_s));
}

} // namespace
