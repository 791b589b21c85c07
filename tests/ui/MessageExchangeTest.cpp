#include "core/ChatLog.h"
#include "tests/ui/Conversation.h"

#include <QDir>
#include <QDirIterator>
#include <QRegularExpression>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

class MessageExchange : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        befriend();
    }

    // Splits a chat-room entry or history entry at its stamp: {before "[", stamp, after "]"}.
    static QStringList atStamp(const QString &text)
    {
        const QRegularExpressionMatch m = QRegularExpression(u"^(.*?:)\\[(.*?)\\](.*)$"_s,
                                                             QRegularExpression::DotMatchesEverythingOption)
                                              .match(text);
        return m.hasMatch() ? QStringList{m.captured(1), m.captured(2), m.captured(3)} : QStringList();
    }
};

TEST_F(MessageExchange, AMessagePopsUpAtTheFriendAndTheAutomaticReplyComesBackUnanswerable)
{
    b.form1->N15->trigger(); // B: "休息中Zzz"
    TForm3 *out = writeToFirstBuddy(a);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(out->windowTitle(), u"发送消息"_s);
    EXPECT_EQ(out->ip->text(), b.ip());
    EXPECT_EQ(out->nc->text(), u"[1]阿红"_s);
    EXPECT_TRUE(out->mess->toPlainText().isEmpty());
    send(out, u"你好\nB"_s);
    EXPECT_FALSE(out->isVisible()) << "sending closes the window";
    EXPECT_TRUE(out->Timer1->isActive());
    EXPECT_EQ(out->Timer1->interval(), 3000);

    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->windowTitle(), u"接收消息"_s);
    EXPECT_EQ(in->ip->text(), a.ip());
    EXPECT_EQ(in->nc->text(), u"[1]阿明"_s);
    EXPECT_EQ(in->mess->toPlainText(), u"你好\nB"_s);
    EXPECT_TRUE(in->fs->isEnabled() && in->inpu->isEnabled());

    TForm3 *reply = waitForWindow(a);
    ASSERT_NE(reply, nullptr);
    EXPECT_EQ(reply->windowTitle(), u"对方自动回复"_s);
    EXPECT_EQ(reply->nc->text(), u"[1]阿红"_s);
    EXPECT_EQ(reply->mess->toPlainText(), u"[自动回复]:休息中Zzz"_s);
    EXPECT_FALSE(reply->fs->isEnabled());
    EXPECT_FALSE(reply->inpu->isEnabled());

    // The sent window is released 3000 ms after closing (shortened here).
    QPointer<TForm3> released(out);
    out->Timer1->setInterval(10);
    out->Timer1->start();
    ASSERT_TRUE(QTest::qWaitFor([&] { return released.isNull(); }, 5000));
    EXPECT_TRUE(a.reporter.errors.isEmpty() && b.reporter.errors.isEmpty());
}

TEST_F(MessageExchange, InChatRoomModeMessagesAndRepliesCollectInTheTranscript)
{
    a.form1->N14->trigger(); // A: "我去吃东西了"
    b.form1->N7->trigger();
    TForm5 *view = b.form2->chatRoomView();
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->windowTitle(), u"聊天室状态"_s);
    const QDateTime start = QDateTime::currentDateTime();

    send(writeToFirstBuddy(a), u"在吗"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !view->lts->toPlainText().isEmpty(); }, 5000));
    send(writeToFirstBuddy(b), u"在"_s);
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->lts->blockCount() == 9; }, 5000));
    const QDateTime end = QDateTime::currentDateTime();

    const QString rule(51, u'-');
    const QStringList lines = view->lts->toPlainText().split(u'\n');
    const QStringList received = atStamp(lines[0]);
    ASSERT_EQ(received.size(), 3) << lines[0].toStdString();
    EXPECT_EQ(received[0], u"[1]阿明:"_s);
    EXPECT_TRUE(isStampBetween(received[1], start, end, false)) << received[1].toStdString();
    const QStringList sent = atStamp(lines[3]);
    ASSERT_EQ(sent.size(), 3) << lines[3].toStdString();
    EXPECT_EQ(sent[0], u"你对[1]阿明说:"_s);
    EXPECT_TRUE(isStampBetween(sent[1], start, end, true)) << sent[1].toStdString();
    const QStringList replied = atStamp(lines[6]);
    ASSERT_EQ(replied.size(), 3) << lines[6].toStdString();
    EXPECT_EQ(replied[0], u"[对方自动回复][1]阿明:"_s);
    EXPECT_TRUE(isStampBetween(replied[1], start, end, false));
    EXPECT_EQ(QStringList({lines[1], lines[2], lines[4], lines[5], lines[7], lines[8]}),
              QStringList({u"在吗"_s, rule, u"在"_s, rule, u"[自动回复]:我去吃东西了"_s, rule}));
    EXPECT_TRUE(openWindows(b).isEmpty()) << "nothing pops up in chat-room mode";
}

TEST_F(MessageExchange, TheLogHoldsTheReceivedAndTheSentEntryInOrder)
{
    b.form2->bcf->setChecked(true);
    const QDateTime start = QDateTime::currentDateTime();
    send(writeToFirstBuddy(a), u"第一行\n第二行"_s);
    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    const QString path = b.dir.file(u"chatdat/[1]阿明.txt"_s);
    EXPECT_EQ(in->chatLogPath(), path);
    EXPECT_TRUE(QFile::exists(path)) << "created, empty, when the window is shown";
    QTest::keyClicks(in->inpu, u"ok"_s);
    EXPECT_EQ(in->windowTitle(), u"发送消息"_s) << "typing a reply";
    EXPECT_EQ(in->mess->toPlainText(), u"ok"_s) << "live copy of the reply";
    in->fs->click();
    const QDateTime end = QDateTime::currentDateTime();

    // Entries: name, ":[", date, " ", time, "]", CR, text (its own CR LF kept), CR; then CR LF.
    const QRegularExpressionMatch log
        = QRegularExpression(u"^\\[1\\]阿明:\\[(.+?)\\]\r第一行\r\n第二行\r\r\n阿红:\\[(.+?)\\]\rok\r\r\n$"_s)
              .match(Gbk::decode(b.dir.read(u"chatdat/[1]阿明.txt"_s)));
    ASSERT_TRUE(log.hasMatch()) << b.dir.read(u"chatdat/[1]阿明.txt"_s).toStdString();
    EXPECT_TRUE(isStampBetween(log.captured(1), start, end, true)) << log.captured(1).toStdString();
    EXPECT_TRUE(isStampBetween(log.captured(2), start, end, true)) << log.captured(2).toStdString();
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(MessageExchange, OfTwoWindowsForOnePeerEachLogsItsEntryWhateverClosesLast)
{
    b.form2->bcf->setChecked(true);
    send(writeToFirstBuddy(a), u"one"_s);
    TForm3 *first = waitForWindow(b, 1);
    send(writeToFirstBuddy(a), u"two"_s);
    TForm3 *second = waitForWindow(b, 2);
    ASSERT_TRUE(first && second);
    second->close();
    first->close();
    const QByteArray log = b.dir.read(u"chatdat/[1]阿明.txt"_s);
    EXPECT_EQ(log.count("\rone\r\r\n"), 1) << log.toStdString();
    EXPECT_EQ(log.count("\rtwo\r\r\n"), 1) << log.toStdString();
    EXPECT_LT(log.indexOf("one"), log.indexOf("two")) << "in the order they arrived";

    // The next window reads the file back: its three lines per entry, CR LF each.
    send(writeToFirstBuddy(a), u"three"_s);
    TForm3 *third = waitForWindow(b, 1);
    ASSERT_NE(third, nullptr);
    const QStringList history = third->historyText().split(u"\r\n"_s);
    ASSERT_EQ(history.size(), 8);
    EXPECT_EQ(history[1], u"one"_s);
    EXPECT_TRUE(history[2].isEmpty());
    EXPECT_EQ(history[4], u"two"_s);
    EXPECT_TRUE(history[5].isEmpty());
    EXPECT_TRUE(history[6].endsWith(u"]\rthree\r"_s));
}

TEST_F(MessageExchange, ALogThatCannotBeCreatedIsReportedAndTheWindowStillOpensAndIsAnswered)
{
    b.dir.write(u"chatdat"_s, "a file where the folder should be");
    b.form2->bcf->setChecked(true);
    b.form1->N12->trigger(); // B: "工作中，请勿打扰"
    send(writeToFirstBuddy(a), u"hi"_s);
    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    const QString cannot = u"Cannot create file "_s + b.dir.file(u"chatdat/[1]阿明.txt"_s);
    EXPECT_EQ(b.reporter.errors, QStringList{cannot});
    EXPECT_TRUE(in->historyText().endsWith(u"]\rhi\r\r\n"_s)) << "shown, and kept for the log";
    ASSERT_NE(waitForWindow(a), nullptr) << "the automatic reply still went out";

    // Closing cannot write the entry either: the window stays open until the option is off.
    in->close();
    EXPECT_TRUE(in->isVisible());
    EXPECT_EQ(b.reporter.errors.size(), 2);
    b.form2->bcf->setChecked(false);
    in->close();
    EXPECT_FALSE(in->isVisible());
}

TEST_F(MessageExchange, ANicknameWithPathSeparatorsIsLoggedInsideChatdat)
{
    TestPeer c(u"127.0.0.4"_s);
    c.storeNickname(u"../x/y"_s);
    c.start();
    c.form1->N9->trigger();
    c.form1->addFriendDialog()->dfip->setText(b.ip());
    c.form1->addFriendDialog()->Button1->click();
    ASSERT_TRUE(QTest::qWaitFor([&] { return c.form1->userlist->count() == 1; }, 5000));
    b.form2->bcf->setChecked(true);
    c.form1->userlist->item(0)->setSelected(true);
    c.form1->N1->trigger();
    send(openWindows(c).last(), u"hi"_s);
    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(in->nc->text(), u"[2]../x/y"_s);
    in->close();

    QStringList files;
    QDirIterator it(b.dir.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(b.dir.path()).relativeFilePath(it.next());
    files.sort();
    // Beside the log only the peer's own files: the history database, its identity key, the
    // contact store and the presence id.
    EXPECT_EQ(files,
              (QStringList{u"chatdat/[2].._x_y.txt"_s, u"history.db"_s, u"history.db-shm"_s,
                           u"history.db-wal"_s, u"identity.key"_s, u"myinfo.ini"_s, u"presence.id"_s}));
}

} // namespace
