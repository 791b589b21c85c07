#include "tests/support/RawUdpPeer.h"
#include "tests/ui/Conversation.h"

#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString TimeOut = u"超时，网络不通或者对方没有运行本程序!"_s;

using FriendRequest = Conversation;

TEST_F(FriendRequest, InNormalStatusBothSidesListTheOtherAndTheDialogCloses)
{
    befriend();
    EXPECT_EQ(a.form1->userlist->item(0)->text(), u"[1]阿红"_s);
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明"_s);
    TForm4 *dialog = a.form1->addFriendDialog();
    ASSERT_NE(dialog, nullptr) << "still there until its destroy timer fires";
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_TRUE(dialog->Button1->isEnabled());
    EXPECT_TRUE(dialog->dfip->text().isEmpty());
    EXPECT_FALSE(dialog->Timer1->isActive());
    EXPECT_TRUE(dialog->Timer2->isActive());
    EXPECT_EQ(dialog->Timer2->interval(), 2000);
    EXPECT_FALSE(a.prompts.texts().contains(TimeOut));
    EXPECT_TRUE(a.reporter.errors.isEmpty() && b.reporter.errors.isEmpty());

    // Released after its destroy timer; a late accept then touches no dialog and adds nobody.
    dialog->Timer2->setInterval(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->addFriendDialog() == nullptr; }, 5000));
    RawUdpPeer stranger(u"127.0.0.4"_s);
    stranger.send(a.ip(), "4" + Gbk::encode(u"路人"_s));
    stranger.send(a.ip(), "1probe"); // handled after the accept
    ASSERT_NE(waitForWindow(a), nullptr);
    EXPECT_EQ(a.form1->userlist->count(), 1);
}

TEST_F(FriendRequest, ARefusedRequestTimesOutWithOneBoxAndKeepsTheAddress)
{
    b.prompts.confirmAnswers = {Prompts::Answer::No};
    a.form1->N9->trigger();
    TForm4 *dialog = a.form1->addFriendDialog();
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(dialog->windowTitle(), u"添加好友"_s);
    EXPECT_EQ(dialog->Timer1->interval(), 30000);
    dialog->Timer1->setInterval(300);
    QTest::keyClicks(dialog->dfip, b.ip());
    QTest::keyClick(dialog->dfip, Qt::Key_Return);
    EXPECT_FALSE(dialog->Button1->isEnabled());
    QTest::keyClick(dialog->dfip, Qt::Key_Return); // pending: sends nothing more
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.prompts.texts().contains(TimeOut); }, 5000));
    EXPECT_EQ(b.prompts.texts(u"confirm"_s).size(), 1) << "one request went out";
    EXPECT_EQ(a.prompts.texts(), QStringList{TimeOut});
    EXPECT_FALSE(dialog->Timer1->isActive()) << "the time-out fires once per request";
    EXPECT_TRUE(dialog->Button1->isEnabled());
    EXPECT_EQ(dialog->dfip->text(), b.ip());
    EXPECT_TRUE(dialog->isVisible());
    EXPECT_EQ(a.form1->userlist->count(), 0);
    EXPECT_EQ(b.form1->userlist->count(), 0);
}

TEST_F(FriendRequest, EmptyAddressAsksForItAndClosingWhilePendingCancelsTheTimeOut)
{
    a.form1->N9->trigger();
    TForm4 *first = a.form1->addFriendDialog();
    first->Button1->click();
    EXPECT_EQ(a.prompts.texts(), QStringList{u"请填写完整！"_s});
    EXPECT_TRUE(first->Button1->isEnabled());

    RawUdpPeer silent(u"127.0.0.5"_s);
    QTest::keyClicks(first->dfip, u"127.0.0.5xyz123456"_s);
    EXPECT_EQ(first->dfip->text(), u"127.0.0.5xyz123"_s) << "15 characters at most";
    first->dfip->setText(silent.address());
    a.form2->setNickname(QString());
    first->Button1->click();
    ASSERT_TRUE(silent.waitForDatagrams(1));
    EXPECT_EQ(silent.received.first(), "2") << "an empty nickname sends the type alone";
    first->close();
    EXPECT_FALSE(first->Timer1->isActive());
    EXPECT_TRUE(first->dfip->text().isEmpty());

    // A new dialog is fresh; an accept goes to the newest one, and only from the address it
    // asked: before it asked anybody, an accept adds nobody.
    a.form1->N9->trigger();
    TForm4 *second = a.form1->addFriendDialog();
    ASSERT_NE(second, first);
    EXPECT_TRUE(second->dfip->text().isEmpty() && second->Button1->isEnabled());
    silent.send(a.ip(), "4" + Gbk::encode(u"未问"_s));
    silent.send(a.ip(), "1probe"); // handled after the accept
    ASSERT_NE(waitForWindow(a), nullptr);
    EXPECT_EQ(a.form1->userlist->count(), 0);
    EXPECT_TRUE(second->isVisible());
    second->dfip->setText(silent.address());
    second->Button1->click();
    ASSERT_TRUE(silent.waitForDatagrams(2));
    silent.send(a.ip(), "4" + Gbk::encode(u"远方"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return a.form1->userlist->count() == 1; }, 5000));
    EXPECT_EQ(a.form1->userlist->item(0)->text(), u"[1]远方"_s);
    EXPECT_FALSE(second->isVisible());
}

} // namespace
