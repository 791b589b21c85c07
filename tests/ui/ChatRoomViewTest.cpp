#include "tests/ui/Conversation.h"

#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// A started peer switched to chat-room mode from the main window's menu.
class ChatRoomView : public ::testing::Test {
protected:
    ChatRoomView()
    {
        peer.storeNickname(u"阿明"_s);
        peer.start();
        peer.form1->N7->trigger();
        view = peer.form2->chatRoomView();
    }

    // One save, as its timer runs it: an error goes to the reporter.
    void save()
    {
        guarded(peer.reporter, [this] { view->bcTimer(); });
    }

    QByteArray saved() const { return peer.dir.read(u"chatdat/聊天室.txt"_s); }

    TestPeer peer;
    TForm5 *view = nullptr;
};

TEST_F(ChatRoomView, StaysDockedToTheMainWindowsRightEdge)
{
    ASSERT_NE(view, nullptr);
    EXPECT_TRUE(view->isVisible());
    EXPECT_EQ(view->Timer1->interval(), 100);
    EXPECT_EQ(view->minimumWidth(), 268);
    EXPECT_EQ(view->maximumWidth(), 400);
    const auto docked = [&] {
        const QRect main = peer.form1->frameGeometry();
        return view->pos() == QPoint(main.x() + main.width(), main.y())
            && view->height() == peer.form1->height();
    };
    EXPECT_TRUE(docked());
    peer.form1->move(30, 40);
    peer.form1->resize(150, 400);
    EXPECT_TRUE(QTest::qWaitFor(docked, 2000));
    view->move(500, 500);
    EXPECT_TRUE(QTest::qWaitFor(docked, 2000));
}

TEST_F(ChatRoomView, SavesTheTranscriptWhileTheLogOptionIsOn)
{
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(view->bc->interval(), 5000);
    peer.form1->appendChatRoomEntry(u"[1]阿红:[14:05:09]\r\n你好\r\n"_s + QString(51, u'-'));
    save();
    EXPECT_FALSE(QFile::exists(peer.dir.file(u"chatdat/聊天室.txt"_s))) << "the option is off";

    peer.form2->bcf->setChecked(true);
    view->bc->setInterval(20);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !saved().isEmpty(); }, 5000)) << "chatdat is created";
    EXPECT_EQ(saved(), Gbk::encode(u"[1]阿红:[14:05:09]\r\n你好\r\n"_s + QString(51, u'-') + u"\r\n"_s));

    // A new chat-room period starts empty, and its first save empties the file. (The closed
    // view would go on saving until it is released.)
    view->bc->stop();
    peer.form1->N7->trigger();
    peer.form1->N7->trigger();
    TForm5 *next = peer.form2->chatRoomView();
    ASSERT_NE(next, view);
    EXPECT_TRUE(next->lts->toPlainText().isEmpty());
    next->bc->setInterval(20);
    EXPECT_TRUE(QTest::qWaitFor([&] { return saved().isEmpty(); }, 5000));
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST_F(ChatRoomView, AFailingSaveIsReportedOnceUntilASaveSucceeds)
{
    ASSERT_NE(view, nullptr);
    peer.form2->bcf->setChecked(true);
    peer.dir.write(u"chatdat"_s, "a file where the folder should be");
    save();
    save();
    const QString cannot = u"Cannot create file "_s + peer.dir.file(u"chatdat/聊天室.txt"_s);
    EXPECT_EQ(peer.reporter.errors, QStringList{cannot});
    QFile::remove(peer.dir.file(u"chatdat"_s));
    save();
    EXPECT_TRUE(QFile::exists(peer.dir.file(u"chatdat/聊天室.txt"_s)));
    QDir(peer.dir.file(u"chatdat"_s)).removeRecursively();
    peer.dir.write(u"chatdat"_s, "again");
    save();
    EXPECT_EQ(peer.reporter.errors, QStringList{cannot}) << "nothing new to write";
    peer.form1->appendChatRoomEntry(u"阿红:[14:05:09]\r\n你好"_s);
    save();
    EXPECT_EQ(peer.reporter.errors, (QStringList{cannot, cannot}));
}

TEST_F(ChatRoomView, ClosingItReturnsToAutoPopupModeAndReleasesItLater)
{
    ASSERT_NE(view, nullptr);
    EXPECT_EQ(peer.form1->N7->text(), u"Kiwq模式"_s);
    QPointer<TForm5> closed(view);
    view->close();
    EXPECT_FALSE(view->isVisible());
    EXPECT_TRUE(peer.form2->autopop->isChecked());
    EXPECT_EQ(peer.form2->chatRoomView(), nullptr);
    EXPECT_EQ(peer.form1->N7->data().toInt(), 0);
    EXPECT_EQ(peer.form1->N7->text(), u"聊天模式"_s);
    EXPECT_EQ(view->Timer2->interval(), 6000);
    view->Timer2->setInterval(10);
    view->Timer2->start();
    EXPECT_TRUE(QTest::qWaitFor([&] { return closed.isNull(); }, 5000));

    // Clearing the box in the settings window opens a view without touching N7.
    peer.form2->autopop->setChecked(false);
    ASSERT_NE(peer.form2->chatRoomView(), nullptr);
    EXPECT_TRUE(peer.form2->chatRoomView()->isVisible());
    EXPECT_EQ(peer.form1->N7->text(), u"聊天模式"_s);
    peer.form2->autopop->setChecked(true);
    EXPECT_EQ(peer.form2->chatRoomView(), nullptr);
}

// The windows end in either order: each finds the other gone and goes on without it.
TEST_F(ChatRoomView, OutlivesTheSettingsWindowWhichOutlivesTheMainWindow)
{
    ASSERT_NE(view, nullptr);
    peer.form2.reset();
    peer.form1->appendChatRoomEntry(u"阿红:[14:05:09]\r\n你好"_s);
    EXPECT_TRUE(QTest::qWaitFor([&] { return view->lts->toPlainText().contains(u"你好"_s); }, 5000));
    save();
    EXPECT_FALSE(QFile::exists(peer.dir.file(u"chatdat/聊天室.txt"_s))) << "no settings, no saving";
    view->close();
    EXPECT_EQ(peer.form1->N7->text(), u"聊天模式"_s);

    TestPeer other(u"127.0.0.3"_s);
    other.form2->autopop->setChecked(false);
    ASSERT_NE(other.form2->chatRoomView(), nullptr);
    other.form1.reset();
    other.form2->autopop->setChecked(true);
    other.form2->autopop->setChecked(false);
    EXPECT_EQ(other.form2->chatRoomView(), nullptr);
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
    EXPECT_TRUE(other.reporter.errors.isEmpty());
}

} // namespace
