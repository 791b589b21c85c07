#include "core/Gbk.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QAction>
#include <QLineEdit>
#include <QListWidget>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// A started peer on 127.0.0.2 with a nickname, and a raw peer on 127.0.0.3 that talks to it.
class MainWindowStatus : public ::testing::Test {
protected:
    MainWindowStatus()
    {
        peer.storeNickname(u"小明"_s);
        peer.start();
    }

    QList<bool> replyChecks() const
    {
        const TForm1 &w = *peer.form1;
        return {w.N12->isChecked(), w.N13->isChecked(), w.N14->isChecked(), w.N15->isChecked(),
                w.N16->isChecked()};
    }

    // Sends a message from the raw peer and returns the automatic reply it gets back.
    QByteArray replyTo(const QByteArray &message)
    {
        const qsizetype before = raw.received.size();
        raw.send(peer.ip(), message);
        if (!raw.waitForDatagrams(int(before) + 1))
            return {};
        return raw.received.last();
    }

    TestPeer peer;
    RawUdpPeer raw{u"127.0.0.3"_s};
};

} // namespace

TEST_F(MainWindowStatus, PresetsMoveTheCheckMarkAndAnswerWithTheCaption)
{
    peer.form1->N15->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:休息中Zzz"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{false, false, false, true, false}));
    const QByteArray rest = replyTo("1hello");
    EXPECT_EQ(rest.size(), 21);
    EXPECT_EQ(rest, "6" + Gbk::encode(u"[自动回复]:休息中Zzz"_s));

    peer.form1->N14->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:我去吃东西了"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{false, false, true, false, false}));

    peer.form1->N13->trigger();
    EXPECT_EQ(replyChecks(), (QList<bool>{false, true, false, false, false}));
    const QByteArray back = replyTo("1hello");
    EXPECT_EQ(back.size(), 30);
    EXPECT_EQ(back, "6" + Gbk::encode(u"[自动回复]:请稍等，我马上回来"_s));

    peer.form1->N12->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:工作中，请勿打扰"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{true, false, false, false, false}));
    EXPECT_EQ(peer.form1->mainCaption(), peer.form1->windowTitle());
}

TEST_F(MainWindowStatus, CustomReplyRenamesItsItemAndCancelKeepsTheName)
{
    peer.prompts.inputAnswers << u"开会"_s;
    peer.form1->N16->trigger();
    EXPECT_EQ(peer.prompts.texts(u"input"_s), QStringList{u"输入自定义回复内容"_s});
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:开会"_s);
    EXPECT_EQ(peer.form1->N16->text(), u"自定义自动回复：开会"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{false, false, false, false, true}));

    peer.form1->N22->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"Talvino"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{false, false, false, false, false}));
    EXPECT_EQ(peer.form1->N16->text(), u"自定义自动回复：开会"_s);
    EXPECT_FALSE(peer.form1->N22->isChecked());
}

TEST_F(MainWindowStatus, CancelledInputBoxSetsAnEmptyReply)
{
    peer.form1->N15->trigger();
    peer.prompts.inputAnswers << std::nullopt;
    peer.form1->N16->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:"_s);
    EXPECT_EQ(replyChecks(), (QList<bool>{false, false, false, false, true}));
    const QByteArray reply = replyTo("1hello");
    EXPECT_EQ(reply.size(), 12);
    EXPECT_EQ(reply, "6" + Gbk::encode(u"[自动回复]:"_s));
}

TEST_F(MainWindowStatus, CustomTextWithAnAmpersandIsShownAsWritten)
{
    peer.prompts.inputAnswers << u"A&B"_s;
    peer.form1->N16->trigger();
    EXPECT_EQ(peer.form1->windowTitle(), u"[自动回复]:A&B"_s);
    // "&&" is how a menu shows one "&" instead of making the next letter a mnemonic.
    EXPECT_EQ(peer.form1->N16->text(), u"自定义自动回复：A&&B"_s);
}

TEST_F(MainWindowStatus, AutomaticRepliesAreNotAnswered)
{
    peer.form1->N15->trigger();
    peer.form1->N18->trigger();
    raw.send(peer.ip(), "1" + Gbk::encode(u"[自动回复]:hello"_s));
    raw.send(peer.ip(), "6" + Gbk::encode(u"[自动回复]:hi"_s));
    // Datagrams between two loopback sockets keep their order and are handled in turn: when
    // the accept of this friend request is in, any answer to the first two would be too.
    raw.send(peer.ip(), "2x");
    ASSERT_TRUE(raw.waitForDatagrams(1));
    EXPECT_EQ(raw.received, QList<QByteArray>{"4" + Gbk::encode(u"小明"_s)});
}

TEST_F(MainWindowStatus, StatusItemsSetTheFlagChecksAndStatusBar)
{
    peer.form1->N18->trigger();
    EXPECT_EQ(peer.form1->statusFlag(), 1);
    EXPECT_TRUE(peer.form1->N18->isChecked());
    EXPECT_FALSE(peer.form1->N19->isChecked());
    EXPECT_EQ(peer.form1->statusText(), u"一般状态"_s);
    peer.form1->N18->trigger(); // choosing the checked item keeps it checked
    EXPECT_TRUE(peer.form1->N18->isChecked());
    peer.form1->N19->trigger();
    EXPECT_EQ(peer.form1->statusFlag(), 0);
    EXPECT_FALSE(peer.form1->N18->isChecked());
    EXPECT_TRUE(peer.form1->N19->isChecked());
    EXPECT_EQ(peer.form1->statusText(), u"安全状态"_s);
}

TEST_F(MainWindowStatus, NormalStatusAcceptsFriendRequestsWithoutAsking)
{
    peer.form1->N18->trigger();
    // The nickname in the box counts at once, saved or not.
    peer.form2->myname->setText(u"小红"_s);
    raw.send(peer.ip(), "2" + Gbk::encode(u"阿强"_s));
    ASSERT_TRUE(raw.waitForDatagrams(1));
    EXPECT_EQ(raw.received.first(), "4" + Gbk::encode(u"小红"_s));
    EXPECT_TRUE(peer.prompts.texts(u"confirm"_s).isEmpty());
    EXPECT_EQ(peer.prompts.texts(u"information"_s),
              QStringList{u"127.0.0.3将您添加为好友，系统自动将其加入好友列表！"_s});
    ASSERT_EQ(peer.form1->userlist->count(), 1);
    EXPECT_EQ(peer.form1->userlist->item(0)->text(), u"[1]阿强"_s);
}

TEST_F(MainWindowStatus, SecureStatusAsksBeforeAccepting)
{
    peer.prompts.confirmAnswers << Prompts::Answer::Yes;
    raw.send(peer.ip(), "2" + Gbk::encode(u"阿强"_s));
    ASSERT_TRUE(raw.waitForDatagrams(1));
    ASSERT_EQ(peer.prompts.texts(u"confirm"_s).size(), 1);
    EXPECT_TRUE(peer.prompts.texts(u"confirm"_s).first().startsWith(u"127.0.0.3申请将您加入好友"_s));
    EXPECT_EQ(peer.prompts.texts(u"information"_s), QStringList{u"添加好友成功！"_s});
    EXPECT_EQ(raw.received.first(), "4" + Gbk::encode(u"小明"_s));
    ASSERT_EQ(peer.form1->userlist->count(), 1);
}
