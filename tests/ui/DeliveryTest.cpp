#include "core/Deliveries.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PeerSecurity.h"
#include "harness/TempDir.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/Waits.h"
#include "tests/ui/NearbyPair.h"
#include "ui/DeliveryList.h"
#include "ui/TForm3.h"
#include "ui/TForm5.h"

#include <QAction>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

using State = Deliveries::State;

// A (阿明, 127.0.0.2) sends to B (阿红, 127.0.0.3), whose folder outlives it: B can be killed
// (no goodbye reaches A) and started again as the same installation. B shows messages in its
// chat-room view, in the order they come.
class Delivery : public ::testing::Test {
protected:
    Delivery()
    {
        a.storeNickname(u"阿明"_s);
        a.start();
        a.form1->deliveries().setRetryDelaysMs({20, 40, 80, 160});
        startB();
    }

    void startB()
    {
        b = std::make_unique<TestPeer>(u"127.0.0.3"_s, bDir.path());
        b->storeNickname(u"阿红"_s);
        b->start();
        b->form1->N7->trigger();
        linkPresence(a, b->ip());
        linkPresence(*b, a.ip());
    }

    // B goes without a goodbye that A could hear.
    void killB()
    {
        b->form1->presence()->setUnicastTargets({});
        b.reset();
    }

    bool seen() const
    {
        return b && seesPeer(a, *b) && seesPeer(*b, a)
            && a.form1->security().linkTo(b->ip()) == PeerSecurity::Link::Sealed;
    }

    QList<State> states() const
    {
        QList<State> out;
        for (const Deliveries::Sent &s : a.form1->deliveries().conversation(u"127.0.0.3"_s))
            out << s.state;
        return out;
    }

    // The texts B's chat-room view shows, in order, among those given.
    QStringList shownByB(const QStringList &texts) const
    {
        const QString transcript = b->form2->chatRoomView()->transcript();
        QList<std::pair<qsizetype, QString>> found;
        for (const QString &t : texts)
            for (qsizetype at = transcript.indexOf(u"\r\n"_s + t + u"\r\n"_s); at >= 0;
                 at = transcript.indexOf(u"\r\n"_s + t + u"\r\n"_s, at + 1))
                found << std::pair(at, t);
        std::sort(found.begin(), found.end());
        QStringList out;
        for (const auto &f : found)
            out << f.second;
        return out;
    }

    TempDir bDir;
    TestPeer a{u"127.0.0.2"_s};
    std::unique_ptr<TestPeer> b;
};

} // namespace

TEST_F(Delivery, ReceiptsRetriesAndTheOutboxAcrossARestartOfTheReceiver)
{
    ASSERT_EVENTUALLY(seen(), 5000);
    Deliveries &deliveries = a.form1->deliveries();
    EXPECT_EQ(deliveries.send(b->ip(), Packet::message(u"一"_s)), State::Sending);
    ASSERT_EVENTUALLY(states() == QList<State>{State::Delivered}, 5000);
    EXPECT_EQ(shownByB({u"一"_s}), QStringList{u"一"_s});

    // B is gone without a word: A still lists it, retries, and keeps the message.
    killB();
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"二"_s)), State::Sending);
    ASSERT_EVENTUALLY(states().value(1) == State::NotDelivered, 5000);
    EXPECT_EQ(deliveries.outbox().size(), 1);
    // Once presence says B is gone, what A sends waits in the outbox at once.
    a.form1->presence()->setKeepAliveMs(50);
    ASSERT_EVENTUALLY(a.form1->presence()->peers().isEmpty(), 5000);
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"三"_s)), State::Waiting);
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"四"_s)), State::Waiting);
    EXPECT_EQ(deliveries.outbox().size(), 3);
    a.form1->presence()->setKeepAliveMs(PresenceService::DefaultKeepAliveMs);

    // B starts again as the same installation: everything waiting arrives once, in order.
    startB();
    const QStringList all{u"一"_s, u"二"_s, u"三"_s, u"四"_s};
    ASSERT_EVENTUALLY(states() == QList<State>(4, State::Delivered), 10000);
    EXPECT_EQ(shownByB(all), (QStringList{u"二"_s, u"三"_s, u"四"_s}));
    EXPECT_EQ(deliveries.outbox().size(), 0);
    EXPECT_EQ(deliveries.inFlight(), 0);
    EXPECT_TRUE(a.reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

// The message window lists what was sent to its peer with each state in words, again in a new
// window, and takes a waiting message out of the outbox.
TEST_F(Delivery, TheMessageWindowShowsEachStateAndCancelsAWaitingMessage)
{
    ASSERT_EVENTUALLY(seen(), 5000);
    Deliveries &deliveries = a.form1->deliveries();
    deliveries.send(b->ip(), Packet::message(u"早上好"_s));
    ASSERT_EVENTUALLY(states() == QList<State>{State::Delivered}, 5000);
    killB();
    a.form1->presence()->setKeepAliveMs(50);
    ASSERT_EVENTUALLY(a.form1->presence()->peers().isEmpty(), 5000);
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"晚上见"_s)), State::Waiting);

    const auto lines = [](const TForm3 &w) {
        QStringList out;
        for (int i = 0; i < w.sentList->list->count(); ++i)
            out << w.sentList->list->item(i)->text();
        return out;
    };
    for (int opening = 0; opening < 2; ++opening) {
        auto w = std::make_unique<TForm3>(*a.form1);
        w->ip->setText(u"127.0.0.3"_s);
        w->nc->setText(u"阿红"_s);
        w->show();
        const QStringList shown = lines(*w);
        ASSERT_EQ(shown.size(), 2) << "opening " << opening;
        EXPECT_TRUE(shown[0].contains(u"早上好"_s) && shown[0].endsWith(u"已送达"_s)) << shown[0].toStdString();
        EXPECT_TRUE(shown[1].contains(u"晚上见"_s) && shown[1].endsWith(u"待发送（对方离线）"_s)) << shown[1].toStdString();
        EXPECT_TRUE(w->sentList->isVisible());
        EXPECT_TRUE(w->sentList->outboxNote->isVisible());
        EXPECT_TRUE(w->sentList->outboxNote->text().contains(u"1000"_s));
        if (opening == 1) {
            w->sentList->list->setCurrentRow(0);
            EXPECT_FALSE(w->sentList->cancel->isEnabled()) << "a delivered message is not waiting";
            w->sentList->list->setCurrentRow(1);
            ASSERT_TRUE(w->sentList->cancel->isEnabled());
            EXPECT_FALSE(w->sentList->resend->isEnabled()) << "the peer is not there to resend to";
            w->sentList->cancel->click();
            ASSERT_EVENTUALLY(lines(*w).size() == 1, 2000);
            EXPECT_FALSE(w->sentList->outboxNote->isVisible());
        }
        w->close();
    }
    EXPECT_EQ(deliveries.outbox().size(), 0);
}

// What cannot be confirmed or kept is said so: a base peer gets today's one datagram and no
// copy; a receipt from anyone but the addressee changes nothing; a full outbox refuses the
// next message and keeps those it holds.
TEST_F(Delivery, BasePeersForgedReceiptsAndAFullOutbox)
{
    ASSERT_EVENTUALLY(seen(), 5000);
    Deliveries &deliveries = a.form1->deliveries();

    RawUdpPeer base(u"127.0.0.4"_s);
    ASSERT_TRUE(base.isBound());
    EXPECT_EQ(deliveries.send(base.address(), Packet::message(u"你好"_s)), State::NoReceipt);
    ASSERT_TRUE(base.waitForDatagrams(1));
    QTest::qWait(400); // past every retry delay of this test
    EXPECT_EQ(base.received, QList<QByteArray>{"1" + Gbk::encode(u"你好"_s)}) << "one datagram, as always";
    EXPECT_EQ(deliveries.conversation(base.address()).value(0).state, State::NoReceipt);

    // B's receipt of a first message pins its key at A.
    deliveries.send(b->ip(), Packet::message(u"先说一句"_s));
    ASSERT_EVENTUALLY(states() == QList<State>{State::Delivered}, 5000);
    killB();
    deliveries.send(u"127.0.0.3"_s, Packet::message(u"等回执"_s));
    const QByteArray id = deliveries.conversation(u"127.0.0.3"_s).value(1).id;
    ASSERT_FALSE(id.isEmpty());
    deliveries.receiptArrived(QByteArray(32, 'x'), id); // as if another sealed peer confirmed it
    EXPECT_EQ(states().value(1), State::Sending);
    ASSERT_EVENTUALLY(states().value(1) == State::NotDelivered, 5000);

    deliveries.outbox().setMaxPerPeer(2);
    a.form1->presence()->setKeepAliveMs(50);
    ASSERT_EVENTUALLY(a.form1->presence()->peers().isEmpty(), 5000);
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"第二条"_s)), State::Waiting);
    EXPECT_EQ(deliveries.send(u"127.0.0.3"_s, Packet::message(u"放不下"_s)), State::NotQueued);
    EXPECT_EQ(states(), (QList<State>{State::Delivered, State::NotDelivered, State::Waiting, State::NotQueued}));
    ASSERT_EQ(deliveries.outbox().size(), 2);
    EXPECT_EQ(deliveries.outbox().entries().at(0).message.id.bytes(), id) << "the queued ones are kept";
    EXPECT_EQ(DeliveryList::stateText(State::NotQueued), u"未送达（发件箱已满）"_s);
}
