// The searchable history as two peers on loopback use it: what the message windows store while
// the save option is on, the search window (from the main menu and by Ctrl+F in a message
// window), a hit in its conversation, and removing a buddy's records or all of them.
#include "tests/support/RawUdpPeer.h"
#include "tests/support/Waits.h"
#include "tests/ui/Conversation.h"
#include "ui/HistoryHitModel.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWindow.h"

#include "core/ChatLog.h"
#include "core/Packet.h"

#include <QLabel>
#include <QListView>
#include <QStatusBar>
#include <QTextBlock>
#include <QTextEdit>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

struct Hit {
    QString buddy;
    MessageDirection direction;
    QString excerpt;
};

// A and B are buddies; B keeps its chat logs (and so its history) unless a test says otherwise.
class HistoryWiring : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        befriend();
        b.form2->bcf->setChecked(true);
        // The first import (of no logs) is over: its end searches the open window again.
        ASSERT_EVENTUALLY(!b.form1->history().importing());
        aOnB = b.form1->userlist->item(0)->text();
    }

    // Shows the hits of text in peer's search window (opened from the main menu: all buddies).
    static HistorySearchWindow *find(const TestPeer &peer, const QString &text)
    {
        peer.form1->findHistory->trigger();
        HistorySearchWindow *window = peer.form1->historySearch();
        if (!window)
            return nullptr;
        window->query->setText(text);
        window->searchNow();
        EXPECT_EVENTUALLY(!window->searching());
        return window;
    }

    static QList<Hit> hits(const HistorySearchWindow &window)
    {
        QList<Hit> found;
        for (int row = 0; row < window.hitModel().count(); ++row) {
            const SearchHit &hit = window.hitModel().hit(row);
            found.append({hit.buddy, hit.direction, hit.excerpt});
        }
        return found;
    }

    // A message from A that B shows in a window of its own.
    TForm3 *sendToB(const QString &text)
    {
        const qsizetype before = openWindows(b).size();
        TForm3 *out = writeToFirstBuddy(a);
        if (!out)
            return nullptr;
        send(out, text);
        return waitForWindow(b, before + 1);
    }

    QString aOnB; // A's entry in B's buddy list, as B's log of A is named
};

// A received message, a sent one and an automatic reply are found with their buddy and
// direction, each by a word of its own; A, whose option is off, stored nothing and says so.
TEST_F(HistoryWiring, ReceivedSentAndAutomaticRepliesAreFoundWithTheirBuddyAndDirection)
{
    TForm3 *in = sendToB(u"周末去爬山吗"_s);
    ASSERT_NE(in, nullptr);
    in->inpu->setPlainText(u"好啊几点出发"_s);
    in->fs->click();
    ASSERT_NE(waitForWindow(a, 1), nullptr);
    a.form1->N12->trigger(); // A answers by itself from now on
    TForm3 *toA = writeToFirstBuddy(b);
    ASSERT_NE(toA, nullptr);
    send(toA, u"老王在吗"_s);
    const auto replies = [&] {
        int count = 0;
        for (TForm3 *window : openWindows(b))
            count += window->windowTitle() == u"对方自动回复"_s;
        return count;
    };
    ASSERT_EVENTUALLY_EQ(replies(), 1);

    const QString buddy = HistoryKeeper::buddyOf(aOnB);
    struct Case {
        QString query;
        MessageDirection direction;
    };
    for (const Case &c :
         {Case{u"爬山"_s, MessageDirection::Received}, Case{u"几点出发"_s, MessageDirection::Sent},
          Case{u"老王在吗"_s, MessageDirection::Sent}, Case{u"请勿打扰"_s, MessageDirection::AutoReply}}) {
        SCOPED_TRACE(c.query.toStdString());
        HistorySearchWindow *window = find(b, c.query);
        ASSERT_NE(window, nullptr);
        const QList<Hit> found = hits(*window);
        ASSERT_EQ(found.size(), 1);
        EXPECT_EQ(found[0].buddy, buddy);
        EXPECT_EQ(int(found[0].direction), int(c.direction));
        EXPECT_TRUE(found[0].excerpt.contains(c.query)) << found[0].excerpt.toStdString();
        EXPECT_EQ(window->status->text(), u"共 1 条"_s);
    }

    EXPECT_FALSE(QFile::exists(a.dir.file(u"history.db"_s))) << "A's option is off";
    HistorySearchWindow *onA = find(a, u"爬山"_s);
    ASSERT_NE(onA, nullptr);
    EXPECT_EQ(onA->hitModel().count(), 0);
    EXPECT_TRUE(onA->status->text().contains(u"还没有保存任何聊天记录"_s))
        << onA->status->text().toStdString();
    EXPECT_TRUE(b.reporter.errors.isEmpty()) << b.reporter.errors.join(u'\n').toStdString();
}

// Ctrl+F in a message window opens the search with that buddy's messages only; clearing the
// filter shows every buddy's again. An empty query lists nothing.
TEST_F(HistoryWiring, CtrlFInAMessageWindowSearchesThatBuddyUntilTheFilterIsCleared)
{
    RawUdpPeer stranger(u"127.0.0.9"_s);
    stranger.send(b.ip(), Packet::message(u"明天开会记得带电脑"_s));
    ASSERT_NE(waitForWindow(b, 1), nullptr);
    TForm3 *fromA = sendToB(u"开会的地点改了"_s);
    ASSERT_NE(fromA, nullptr);

    fromA->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(fromA));
    QTest::keyClick(fromA, Qt::Key_F, Qt::ControlModifier);
    HistorySearchWindow *window = b.form1->historySearch();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->buddyFilter(), HistoryKeeper::buddyOf(aOnB));
    EXPECT_TRUE(window->filterRow->isVisible());
    EXPECT_TRUE(window->filterLabel->text().contains(HistoryKeeper::buddyOf(aOnB)));

    struct Step {
        const char *what;
        std::function<void()> act;
        QString query;
        QStringList buddies; // of the hits, newest first
    };
    const std::array<Step, 3> steps{{
        {"filtered", [] {}, u"开会"_s, {HistoryKeeper::buddyOf(aOnB)}},
        {"filter cleared",
         [&] { window->clearFilter->click(); },
         u"开会"_s,
         {HistoryKeeper::buddyOf(aOnB), u"陌生人"_s}},
        {"empty query", [] {}, QString(), {}},
    }};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        window->query->setText(step.query);
        window->searchNow();
        ASSERT_EVENTUALLY(!window->searching());
        QStringList buddies;
        for (const Hit &hit : hits(*window))
            buddies << hit.buddy;
        EXPECT_EQ(buddies, step.buddies);
    }
    EXPECT_FALSE(window->filterRow->isVisible());
    EXPECT_TRUE(window->buddyFilter().isEmpty());
}

// Choosing a hit shows its conversation around it, the hit marked; peer text that looks like
// markup is shown as the characters it is, in the list, the context and the filter.
TEST_F(HistoryWiring, AChosenHitShowsItsConversationAsPlainText)
{
    const QString markup = u"<b>粗体</b><img src=\"x.png\">&amp;甲乙"_s;
    const QStringList texts{u"第一句：早"_s, markup, u"第三句：晚"_s};
    for (const QString &text : texts)
        ASSERT_NE(sendToB(text), nullptr);

    HistorySearchWindow *window = find(b, u"<b>粗体"_s);
    ASSERT_NE(window, nullptr);
    ASSERT_EQ(window->hitModel().count(), 1);
    const SearchHit hit = window->hitModel().hit(0);
    EXPECT_TRUE(hit.excerpt.contains(u"<b>粗体</b><img src=\"x.png\">&amp;"_s)) << hit.excerpt.toStdString();
    EXPECT_TRUE(
        window->hitModel().data(window->hitModel().index(0), Qt::DisplayRole).toString().contains(markup));

    window->hits->setCurrentIndex(window->hitModel().index(0));
    ASSERT_EVENTUALLY_EQ(window->shownContext(), hit.id);
    const QString shown = window->context->toPlainText();
    qsizetype at = -1;
    for (const QString &text : texts) {
        const qsizetype next = shown.indexOf(text);
        EXPECT_GT(next, at) << text.toStdString() << " in order in\n" << shown.toStdString();
        at = next;
    }
    // The marked blocks are the hit's header and text, nothing else; no image was made.
    QStringList marked;
    for (QTextBlock block = window->context->document()->begin(); block.isValid(); block = block.next()) {
        if (block.blockFormat().background().color() == HistoryHitModel::markBackground())
            marked << block.text();
        for (auto it = block.begin(); !it.atEnd(); ++it)
            EXPECT_FALSE(it.fragment().charFormat().isImageFormat());
    }
    ASSERT_EQ(marked.size(), 2) << marked.join(u'|').toStdString();
    EXPECT_TRUE(marked[0].startsWith(HistoryKeeper::buddyOf(aOnB)));
    EXPECT_EQ(marked[1], markup);

    window->setBuddyFilter(markup);
    EXPECT_EQ(window->filterLabel->textFormat(), Qt::PlainText);
    EXPECT_TRUE(window->filterLabel->text().contains(markup));
}

// "删除与此好友的记录" asks first: No keeps the database's records and the log, Yes removes
// both, and other buddies' records stay.
TEST_F(HistoryWiring, ForgettingABuddyRemovesItsRecordsAndLogOnlyAfterAYes)
{
    RawUdpPeer stranger(u"127.0.0.9"_s);
    stranger.send(b.ip(), Packet::message(u"路过说声你好"_s));
    ASSERT_NE(waitForWindow(b, 1), nullptr);
    ASSERT_NE(sendToB(u"你好呀"_s), nullptr);
    const QString log = ChatLog::fileName(b.context.dataDir, aOnB);
    ASSERT_TRUE(QFile::exists(log));

    struct Case {
        Prompts::Answer answer;
        bool kept;
    };
    for (const Case &c : {Case{Prompts::Answer::No, true}, Case{Prompts::Answer::Yes, false}}) {
        SCOPED_TRACE(c.kept ? "answered No" : "answered Yes");
        b.prompts.confirmAnswers = {c.answer};
        const qsizetype asked = b.prompts.texts(u"confirm"_s).size();
        b.form1->userlist->setCurrentRow(0);
        b.form1->forgetHistory->trigger();
        ASSERT_EQ(b.prompts.texts(u"confirm"_s).size(), asked + 1);
        EXPECT_TRUE(b.prompts.texts(u"confirm"_s).last().contains(aOnB));
        EXPECT_EQ(QFile::exists(log), c.kept);
        HistorySearchWindow *window = find(b, u"你好"_s);
        ASSERT_NE(window, nullptr);
        QStringList buddies;
        for (const Hit &hit : hits(*window))
            buddies << hit.buddy;
        const QStringList expected = c.kept ? QStringList{HistoryKeeper::buddyOf(aOnB), u"陌生人"_s}
                                            : QStringList{u"陌生人"_s};
        EXPECT_EQ(buddies, expected);
    }
    EXPECT_TRUE(QFile::exists(ChatLog::fileName(b.context.dataDir, u"陌生人"_s)));
}

// Turning the option off stores nothing more, and asks whether to empty the database: No
// keeps what is stored, Yes empties it; the chat logs stay either way.
TEST_F(HistoryWiring, TurningTheOptionOffStopsStoringAndEmptiesTheDatabaseOnlyAfterAYes)
{
    ASSERT_NE(sendToB(u"存进去的消息"_s), nullptr);
    const QString log = ChatLog::fileName(b.context.dataDir, aOnB);
    struct Case {
        Prompts::Answer answer;
        int stored; // messages found afterwards
    };
    for (const Case &c : {Case{Prompts::Answer::No, 1}, Case{Prompts::Answer::Yes, 0}}) {
        SCOPED_TRACE(c.stored ? "answered No" : "answered Yes");
        b.form2->bcf->setChecked(true);
        b.prompts.confirmAnswers = {c.answer};
        const qsizetype asked = b.prompts.texts(u"confirm"_s).size();
        b.form2->bcf->setChecked(false);
        EXPECT_EQ(b.prompts.texts(u"confirm"_s).size(), asked + 1);
        EXPECT_FALSE(b.form1->history().recording());
        // Neither logged nor stored while the option is off.
        ASSERT_NE(sendToB(u"不存的消息"_s), nullptr);
        HistorySearchWindow *window = find(b, u"的消息"_s);
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(window->total(), c.stored);
        EXPECT_TRUE(QFile::exists(log));
        EXPECT_FALSE(
            Gbk::decode(b.dir.read(u"chatdat/"_s + QFileInfo(log).fileName())).contains(u"不存的消息"_s));
    }
}

// Typing is searched once it pauses, a newer query replaces an older one, and more than a page
// of hits comes a page at a time. Escape closes the window; its controls are named.
TEST_F(HistoryWiring, TheSearchWindowPagesDropsStaleQueriesAndClosesOnEscape)
{
    HistoryKeeper &keeper = b.form1->history();
    const QDateTime start = QDateTime::currentDateTime().addDays(-1);
    const int many = HistorySearchWindow::PageSize * 2 + 7;
    for (int i = 0; i < many; ++i)
        keeper.add({u"老王"_s, u"127.0.0.9"_s, start.addSecs(i), MessageDirection::Received,
                    u"第%1条 周报提交"_s.arg(i)});
    keeper.add(
        {u"老王"_s, u"127.0.0.9"_s, start.addSecs(many), MessageDirection::Received, u"只有一条的话题"_s});

    b.form1->findHistory->trigger();
    HistorySearchWindow *window = b.form1->historySearch();
    ASSERT_NE(window, nullptr);
    // Typed one key at a time, each within the pause: only the last text is searched.
    for (const QString &typed : {u"周"_s, u"周报"_s, u"只有一"_s, u"周报提交"_s})
        window->query->setText(typed);
    ASSERT_EVENTUALLY(!window->searching() && window->total() > 0);
    EXPECT_EQ(window->total(), many);
    EXPECT_EQ(window->hitModel().count(), HistorySearchWindow::PageSize);
    EXPECT_TRUE(window->hitModel().hit(0).excerpt.contains(u"第%1条"_s.arg(many - 1))) << "newest first";
    for (int pages = 2; pages <= 3; ++pages) {
        ASSERT_TRUE(window->more->isVisible());
        window->more->click();
        ASSERT_EVENTUALLY(!window->searching());
        EXPECT_EQ(window->hitModel().count(), std::min(pages * HistorySearchWindow::PageSize, many));
    }
    EXPECT_FALSE(window->more->isVisible());
    EXPECT_TRUE(window->hitModel().hit(many - 1).excerpt.contains(u"第0条"_s));

    for (QWidget *control : std::initializer_list<QWidget *>{window->query, window->hits, window->context,
                                                             window->clearFilter, window->more})
        EXPECT_FALSE(control->accessibleName().isEmpty()) << control->metaObject()->className();
    EXPECT_EQ(window->queryLabel->buddy(), window->query);
    EXPECT_EQ(window->hitsLabel->buddy(), window->hits);
    EXPECT_EQ(window->contextLabel->buddy(), window->context);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window->query, Qt::Key_Escape);
    EXPECT_EVENTUALLY(!b.form1->historySearch() || !b.form1->historySearch()->isVisible());
}

} // namespace
