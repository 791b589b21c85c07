#include "core/ChatLog.h"
#include "core/Dispatcher.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/ui/Conversation.h"

#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// Hosts on the LAN that are not our peers: one floods, one is a newcomer.
const QString AttackerIp = u"127.0.0.9"_s;
const QString NewcomerIp = u"127.0.0.10"_s;

// What a flood left at the moment every datagram of it had been taken off the socket.
struct FloodState {
    int openBoxes = 0;
    int nesting = 0;
    qsizetype waiting = 0;
    quint64 dropped = 0;
};

class HostileHost : public Conversation {
protected:
    Dispatcher &dispatcherOf(TestPeer &peer) { return peer.form1->dispatcher(); }

    // Sends total copies of datagram from the attacker to B, two a millisecond, while B's boxes
    // stay open and are never answered. Once B has taken every datagram (dispatched, waiting
    // or dropped) the state is noted and the boxes close; returns when they all have closed.
    FloodState floodWithBoxesOpen(const QByteArray &datagram, int total, int dispatchedBefore)
    {
        RawUdpPeer attacker(AttackerIp);
        Dispatcher &dispatcher = dispatcherOf(b);
        int sent = 0;
        bool noted = false;
        FloodState state;
        QTimer pacer;
        QObject::connect(&pacer, &QTimer::timeout, [&] {
            for (int i = 0; i < 2 && sent < total; ++i, ++sent)
                attacker.send(b.ip(), datagram);
        });
        QTimer watcher;
        QObject::connect(&watcher, &QTimer::timeout, [&] {
            const qint64 taken = dispatchedNow() - dispatchedBefore + dispatcher.backlog()
                + qint64(dispatcher.dropped());
            if (noted || sent < total || taken < total)
                return;
            noted = true;
            state = {b.prompts.openBoxes(), dispatcher.nesting(), dispatcher.backlog(), dispatcher.dropped()};
            b.prompts.release();
        });
        b.prompts.holdBoxes(20000);
        pacer.start(1);
        watcher.start(5);
        const bool over = QTest::qWaitFor(
            [&] { return noted && b.prompts.openBoxes() == 0 && dispatcher.backlog() == 0; }, 30000);
        EXPECT_TRUE(over) << "sent " << sent << ", boxes open " << b.prompts.openBoxes();
        EXPECT_FALSE(b.prompts.holdTimedOut);
        return state;
    }

    // Datagrams B has dispatched so far: each of the flood's shows exactly one box.
    qsizetype dispatchedNow() const { return b.prompts.shown.size(); }

    // A newcomer asks B for friendship; B's user answers Yes: the friend accept comes back.
    void expectFriendRequestAnswered()
    {
        RawUdpPeer newcomer(NewcomerIp);
        b.prompts.confirmAnswers = {Prompts::Answer::Yes};
        newcomer.send(b.ip(), "2" + Gbk::encode(u"新人"_s));
        ASSERT_TRUE(newcomer.waitForDatagrams(1)) << "B no longer answers";
        EXPECT_EQ(newcomer.received.first(), "4" + Gbk::encode(u"阿红"_s));
    }
};

TEST_F(HostileHost, AFloodOfConversionErrorsNestsAtMostTheBoundAndQueuesOrDropsTheRest)
{
    b.reporter.boxes = &b.prompts; // the program's error box, held open like the others
    const int total = 300;
    const FloodState state = floodWithBoxesOpen("x", total, int(dispatchedNow()));

    EXPECT_EQ(b.prompts.mostOpenBoxes, Dispatcher::MaxNesting);
    EXPECT_EQ(state.openBoxes, Dispatcher::MaxNesting);
    EXPECT_EQ(state.nesting, Dispatcher::MaxNesting);
    EXPECT_EQ(state.waiting, Dispatcher::MaxBacklog);
    EXPECT_EQ(state.dropped, quint64(total - Dispatcher::MaxNesting - Dispatcher::MaxBacklog));
    // Every datagram taken in was shown once its turn came; the dropped ones never.
    const int shown = Dispatcher::MaxNesting + Dispatcher::MaxBacklog;
    EXPECT_EQ(b.reporter.errors, QStringList(shown, u"'x' is not a valid integer value"_s));
    EXPECT_EQ(b.prompts.texts(u"error"_s).size(), shown);
    EXPECT_EQ(dispatcherOf(b).nesting(), 0);
    expectFriendRequestAnswered();
}

TEST_F(HostileHost, AFloodOfFriendRequestsInSecureStatusNeverStacksMoreBoxesThanTheBound)
{
    ASSERT_EQ(b.form1->statusFlag(), 0) << "a started peer is in secure status";
    const int total = 300;
    const FloodState state = floodWithBoxesOpen("2" + Gbk::encode(u"洪水"_s), total, int(dispatchedNow()));

    EXPECT_EQ(b.prompts.mostOpenBoxes, Dispatcher::MaxNesting);
    EXPECT_EQ(state.nesting, Dispatcher::MaxNesting);
    EXPECT_EQ(state.waiting, Dispatcher::MaxBacklog);
    EXPECT_EQ(state.dropped, quint64(total - Dispatcher::MaxNesting - Dispatcher::MaxBacklog));
    // Each request that got its turn was asked, and answered No once the boxes closed.
    EXPECT_EQ(b.prompts.texts(u"confirm"_s),
              QStringList(Dispatcher::MaxNesting + Dispatcher::MaxBacklog,
                          Dispatcher::friendRequestQuestion(AttackerIp)));
    EXPECT_EQ(b.form1->userlist->count(), 0);
    expectFriendRequestAnswered();
    EXPECT_EQ(b.form1->userlist->count(), 1);
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(HostileHost, AFriendAcceptCountsOnlyFromTheAddressTheDialogAsked)
{
    RawUdpPeer asked(u"127.0.0.5"_s);
    RawUdpPeer intruder(u"127.0.0.6"_s);
    a.form1->N9->trigger();
    TForm4 *dialog = a.form1->addFriendDialog();
    ASSERT_NE(dialog, nullptr);
    dialog->dfip->setText(asked.address());
    dialog->Button1->click();
    ASSERT_TRUE(asked.waitForDatagrams(1));

    intruder.send(a.ip(), "4" + Gbk::encode(u"冒充者"_s));
    intruder.send(a.ip(), "1probe"); // handled after the accept
    ASSERT_NE(waitForWindow(a), nullptr);
    EXPECT_EQ(a.form1->userlist->count(), 0);
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_FALSE(dialog->Button1->isEnabled());
    EXPECT_TRUE(dialog->Timer1->isActive());

    asked.send(a.ip(), "4" + Gbk::encode(u"小五"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == 1; }, 5000));
    EXPECT_EQ(a.form1->userlist->item(0)->text(), u"[1]小五"_s);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(a.reporter.errors.isEmpty());
}

TEST_F(HostileHost, AFriendRequestToAHostNameIsAcceptedFromTheAddressOfThatName)
{
    RawUdpPeer asked(u"127.0.0.1"_s);
    ASSERT_TRUE(asked.isBound());
    a.form1->N9->trigger();
    TForm4 *dialog = a.form1->addFriendDialog();
    dialog->dfip->setText(u"localhost"_s);
    dialog->Button1->click();
    ASSERT_TRUE(asked.waitForDatagrams(1));
    asked.send(a.ip(), "4" + Gbk::encode(u"本机"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == 1; }, 5000));
    EXPECT_EQ(a.form1->store().senderLookup(asked.address()), u"[1]本机"_s);
}

TEST_F(HostileHost, AMessageFloodFromOneHostOpensAtMostTheBoundAndLosesNoText)
{
    b.form2->bcf->setChecked(true); // chat logging on
    const int total = 100;
    RawUdpPeer attacker(AttackerIp);
    QStringList texts;
    for (int i = 0; i < total; ++i) {
        texts << u"消息%1"_s.arg(i, 3, 10, QLatin1Char('0'));
        attacker.send(b.ip(), "1" + Gbk::encode(texts.last()));
    }
    const auto shownEverywhere = [&] {
        QString all;
        for (TForm3 *window : windows(b))
            all += window->mess->toPlainText() + u'\n';
        return all;
    };
    ASSERT_TRUE(QTest::qWaitFor([&] { return shownEverywhere().contains(texts.last()); }, 20000));

    const int bound = MessageWindowBudget::Limit;
    ASSERT_EQ(windows(b).size(), bound);
    const QString all = shownEverywhere();
    for (const QString &text : texts)
        EXPECT_EQ(all.count(text), 1) << qPrintable(text);
    // The newest window holds its own message and every one past the bound, in order, on
    // screen and in its history, each entry written to the chat log as it came.
    TForm3 *newest = windows(b).last();
    const QStringList tail = texts.mid(bound - 1);
    EXPECT_EQ(newest->mess->toPlainText(), tail.join(u'\n'));
    const QString history = newest->historyText();
    qsizetype at = 0;
    for (const QString &text : tail) {
        at = history.indexOf(u"陌生人:["_s, at);
        ASSERT_GE(at, 0) << qPrintable(text);
        at = history.indexOf(u"]\r"_s + text + u"\r"_s, at);
        ASSERT_GE(at, 0) << qPrintable(text);
    }
    newest->close();
    const QString log = ChatLog::read(newest->chatLogPath());
    for (const QString &text : tail)
        EXPECT_TRUE(log.contains(text)) << qPrintable(text);

    // With its newest window closed, the host's next message opens a window of its own.
    attacker.send(b.ip(), "1" + Gbk::encode(u"关闭之后"_s));
    ASSERT_NE(waitForWindow(b, bound), nullptr);
    EXPECT_EQ(openWindows(b).last()->mess->toPlainText(), u"关闭之后"_s);

    // Another host is not held to the first one's bound; and once the period is over the
    // flooding host opens new windows again.
    RawUdpPeer other(NewcomerIp);
    other.send(b.ip(), "1" + Gbk::encode(u"别人"_s));
    ASSERT_NE(waitForWindow(b, bound + 1), nullptr);
    EXPECT_EQ(openWindows(b).last()->ip->text(), NewcomerIp);
    MessageWindowBudget &budget = b.form1->messageWindowBudget();
    budget.setPeriodMs(50);
    ASSERT_TRUE(QTest::qWaitFor([&] { return budget.allows(AttackerIp); }, 5000));
    attacker.send(b.ip(), "1" + Gbk::encode(u"新的一分钟"_s));
    ASSERT_NE(waitForWindow(b, bound + 2), nullptr);
    EXPECT_EQ(openWindows(b).last()->mess->toPlainText(), u"新的一分钟"_s);
    EXPECT_TRUE(b.reporter.errors.isEmpty()) << qPrintable(b.reporter.errors.join(u'\n'));
}

} // namespace
