#include "core/Dispatcher.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "tests/core/DispatcherPeer.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QUdpSocket>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString RestCaption = u"[自动回复]:休息中Zzz"_s;

// Peer A on 127.0.0.2 and peer B on 127.0.0.3, each a real endpoint with its own dispatcher.
class DispatcherTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(a.bound()) << "127.0.0.2:2928 is taken";
        ASSERT_TRUE(b.bound()) << "127.0.0.3:2928 is taken";
        a.windows.myname = u"小明"_s;
        b.windows.myname = u"小红"_s;
    }
    QByteArray gbk(const QString &text) const { return Gbk::encode(text); }

    DispatcherPeer a{u"127.0.0.2"_s};
    DispatcherPeer b{u"127.0.0.3"_s};
};

} // namespace

TEST_F(DispatcherTest, AMessageOpensAWindowAndIsAnsweredOnlyWhileAnAutomaticReplyIsSet)
{
    ASSERT_TRUE(a.deliver(b, Packet::message(u"hello"_s)));
    ASSERT_EQ(b.windows.messageWindows.size(), 1);
    const auto &shown = b.windows.messageWindows[0];
    EXPECT_EQ(shown.caption, u"接收消息"_s);
    EXPECT_EQ(shown.ip, u"127.0.0.2"_s);
    EXPECT_EQ(shown.nc, u"陌生人"_s);
    EXPECT_EQ(shown.mess, u"hello"_s);
    EXPECT_TRUE(shown.answerable);
    EXPECT_TRUE(a.receivedUntilProbeFrom(b, 0).isEmpty()) << "no automatic reply is set";

    b.windows.caption = RestCaption;
    a.windows.caption = u"[自动回复]:我去吃东西了"_s; // an automatic reply is never answered
    const qsizetype before = a.received.size();
    ASSERT_TRUE(a.deliver(b, Packet::message(u"hi"_s)));
    ASSERT_TRUE(a.waitForDatagrams(before + 1));
    EXPECT_EQ(a.received.at(before), "6" + gbk(RestCaption));
    EXPECT_EQ(a.received.at(before).size(), 21);
    ASSERT_EQ(a.windows.messageWindows.size(), 1);
    EXPECT_EQ(a.windows.messageWindows[0].caption, u"对方自动回复"_s);
    EXPECT_EQ(a.windows.messageWindows[0].mess, RestCaption);
    EXPECT_FALSE(a.windows.messageWindows[0].answerable);
    EXPECT_EQ(b.received.size(), 2) << "B got only the two messages";
    EXPECT_TRUE(b.reporter.errors.isEmpty() && a.reporter.errors.isEmpty());
}

TEST_F(DispatcherTest, AMessageThatBeginsLikeAnAutomaticReplyIsNotAnswered)
{
    b.windows.caption = RestCaption;
    const qsizetype start = a.received.size();
    a.deliver(b, "1" + gbk(u"[自动回复]:hello"_s));
    a.deliver(b, "1Z" + gbk(u"自动回复"_s));
    a.deliver(b, "1");                     // empty: shown, never answered
    a.deliver(b, "1Z" + gbk(u"自动回"_s)); // too short for the marker: answered
    EXPECT_EQ(a.receivedUntilProbeFrom(b, start), QByteArrayList{"6" + gbk(RestCaption)});
    ASSERT_EQ(b.windows.messageWindows.size(), 4);
    EXPECT_EQ(b.windows.messageWindows[2].mess, QString());
}

TEST_F(DispatcherTest, FriendsAreNamedByTheirEntryAndChatRoomModeAppendsEntries)
{
    b.dir.write(u"myinfo.ini"_s,
                gbk(u"[UserSection]\r\nCount=3\r\n3=[3]小明\r\n[IpSection]\r\n3=127.0.0.2\r\n"_s));
    a.deliver(b, Packet::message(u"你好"_s));
    ASSERT_EQ(b.windows.messageWindows.size(), 1);
    EXPECT_EQ(b.windows.messageWindows[0].nc, u"[3]小明"_s);

    b.windows.autopop = false;
    a.deliver(b, Packet::message(u"你好"_s));
    ASSERT_EQ(b.windows.chatRoom.size(), 1);
    EXPECT_TRUE(QRegularExpression(u"^\\[3\\]小明:\\[\\d\\d?:\\d\\d:\\d\\d[^\\]]*\\]\r\n你好\r\n-{51}$"_s)
                    .match(b.windows.chatRoom[0])
                    .hasMatch())
        << b.windows.chatRoom[0].toStdString();
    a.deliver(b, "6" + gbk(RestCaption));
    EXPECT_TRUE(b.windows.chatRoom[1].startsWith(u"[对方自动回复][3]小明:["_s));
    EXPECT_EQ(b.windows.messageWindows.size(), 1);
}

TEST_F(DispatcherTest, StrangersAreRejectedOnlyInPopUpModeAndStillGetTheAutomaticReply)
{
    b.windows.jjmsrxx = true;
    b.windows.caption = RestCaption;
    const qsizetype start = a.received.size();
    a.deliver(b, Packet::message(u"hello"_s));
    EXPECT_TRUE(b.windows.messageWindows.isEmpty());
    b.windows.autopop = false;
    a.deliver(b, Packet::message(u"hello"_s));
    ASSERT_EQ(b.windows.chatRoom.size(), 1);
    EXPECT_TRUE(b.windows.chatRoom[0].startsWith(u"陌生人:["_s))
        << "a stranger is named as in a message window";
    EXPECT_EQ(a.receivedUntilProbeFrom(b, start).size(), 2);
}

// What the desktop's attention hears of: every message shown, by window or transcript, with
// the name it was shown under; not a stranger's message that was rejected.
TEST_F(DispatcherTest, EveryShownMessageIsReportedOnceAndARejectedOneIsNot)
{
    b.dir.write(u"myinfo.ini"_s, gbk(u"[UserSection]\r\nCount=1\r\n1=[1]小明\r\n[IpSection]\r\n1=127.0.0.2\r\n"_s));
    a.deliver(b, Packet::message(u"<b>你好</b>"_s));
    b.windows.autopop = false;
    a.deliver(b, "6" + gbk(RestCaption));
    b.dir.write(u"myinfo.ini"_s, QByteArray());
    b.windows.autopop = true;
    b.windows.jjmsrxx = true;
    a.deliver(b, Packet::message(u"rejected"_s));
    b.windows.jjmsrxx = false;
    a.deliver(b, Packet::message(u"stranger"_s));

    ASSERT_EQ(b.windows.shownMessages.size(), 3);
    const auto &first = b.windows.shownMessages[0];
    EXPECT_EQ(first.fromIp, u"127.0.0.2"_s);
    EXPECT_EQ(first.name, u"[1]小明"_s);
    EXPECT_EQ(first.text, u"<b>你好</b>"_s);
    EXPECT_FALSE(first.autoReply);
    EXPECT_TRUE(b.windows.shownMessages[1].autoReply) << "an automatic reply in the transcript";
    EXPECT_EQ(b.windows.shownMessages[1].text, RestCaption);
    EXPECT_EQ(b.windows.shownMessages[2].name, u"陌生人"_s);
    EXPECT_EQ(b.windows.shownMessages[2].text, u"stranger"_s);
}

TEST_F(DispatcherTest, InNormalStatusAFriendRequestIsAcceptedAndBothSidesAddEachOther)
{
    b.windows.status = 1;
    a.windows.addFriendDialogExists = true;
    const qsizetype start = a.received.size();
    a.deliver(b, Packet::friendRequest(a.windows.myname));
    ASSERT_TRUE(a.waitForDatagrams(start + 1));
    EXPECT_EQ(a.received.at(start), "4" + gbk(u"小红"_s));

    EXPECT_TRUE(b.prompts.texts(u"confirm"_s).isEmpty());
    EXPECT_EQ(b.prompts.texts(u"information"_s),
              QStringList{u"127.0.0.2将您添加为好友，系统自动将其加入好友列表！"_s});
    EXPECT_EQ(b.ini(), gbk(u"[UserSection]\r\nCount=1\r\n1=[1]小明\r\n[IpSection]\r\n1=127.0.0.2\r\n"_s));
    EXPECT_EQ(b.windows.buddyList, QStringList{u"[1]小明"_s});

    EXPECT_EQ(a.windows.addFriendDialogClosed, 1);
    EXPECT_EQ(a.prompts.texts(u"information"_s), QStringList{u"添加好友成功！"_s});
    EXPECT_EQ(a.ini(), gbk(u"[UserSection]\r\nCount=1\r\n1=[1]小红\r\n[IpSection]\r\n1=127.0.0.3\r\n"_s));
    EXPECT_EQ(a.windows.buddyList, QStringList{u"[1]小红"_s});

    // Asked again: B refuses the duplicate but still answers.
    a.deliver(b, Packet::friendRequest(a.windows.myname));
    ASSERT_TRUE(a.waitForDatagrams(start + 2));
    EXPECT_EQ(b.prompts.texts(u"information"_s).last(), u"该用户已经存在！"_s);
    EXPECT_EQ(b.windows.buddyListRebuilds, 1);
}

TEST_F(DispatcherTest, InSecureStatusTheUserDecidesAndNoToAllBans)
{
    DispatcherPeer c(u"127.0.0.4"_s);
    ASSERT_TRUE(c.bound());
    b.prompts.confirmAnswers = {Prompts::Answer::No, Prompts::Answer::NoToAll, Prompts::Answer::Yes};

    a.deliver(b, Packet::friendRequest(u"小明"_s));
    EXPECT_EQ(b.prompts.texts(u"confirm"_s), QStringList{Dispatcher::friendRequestQuestion(u"127.0.0.2"_s)});
    EXPECT_EQ(Dispatcher::friendRequestQuestion(u"127.0.0.2"_s),
              u"127.0.0.2申请将您加入好友,并与您连接,如果允许请选择\r\r"
              u"[Yes 表示允许]   [No 表示拒绝]   [NoToAll 表示不在显示该IP的申请]\r\r"_s);
    EXPECT_TRUE(a.receivedUntilProbeFrom(b, 0).isEmpty()) << "No sends nothing";
    EXPECT_TRUE(b.ini().isEmpty());

    a.deliver(b, Packet::friendRequest(u"小明"_s));
    EXPECT_EQ(b.prompts.texts(u"information"_s), QStringList{u"127.0.0.2此IP地址已被屏蔽!"_s});
    EXPECT_EQ(b.ini(), QByteArray("[BanSection]\r\nCount=1\r\n1=127.0.0.2\r\n"));

    const qsizetype boxes = b.prompts.shown.size();
    a.deliver(b, Packet::friendRequest(u"小明"_s));
    EXPECT_EQ(b.prompts.shown.size(), boxes) << "a banned request is dropped without a question";
    EXPECT_TRUE(a.receivedUntilProbeFrom(b, 0).size() <= 1);

    c.deliver(b, Packet::friendRequest(QString()));
    ASSERT_TRUE(c.waitForDatagrams(1));
    EXPECT_EQ(c.received.at(0), "4" + gbk(u"小红"_s));
    EXPECT_EQ(b.store.senderLookup(u"127.0.0.4"_s), u"[1]127.0.0.4"_s)
        << "an empty nickname is stored as the IP";
    EXPECT_EQ(b.prompts.texts(u"information"_s).last(), u"添加好友成功！"_s);
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(DispatcherTest, ASecondRequestWhileTheFirstQuestionIsOpenGetsItsOwnNumber)
{
    DispatcherPeer c(u"127.0.0.4"_s);
    ASSERT_TRUE(c.bound());
    b.prompts.confirmAnswers = {Prompts::Answer::Yes, Prompts::Answer::Yes};
    bool sent = false;
    b.prompts.whileOpen = [&](const ScriptedPrompts::Shown &shown) {
        if (shown.kind != u"confirm"_s || sent)
            return;
        sent = true;
        // While the first question stands open, a second request arrives and is dispatched
        // from this box's event loop.
        c.sendRaw(b.address, Packet::friendRequest(u"丙"_s));
        EXPECT_TRUE(QTest::qWaitFor([&] { return b.prompts.texts(u"confirm"_s).size() == 2; }, 5000));
    };
    a.deliver(b, Packet::friendRequest(u"甲"_s));
    ASSERT_TRUE(a.waitForDatagrams(1));
    ASSERT_TRUE(c.waitForDatagrams(1));
    EXPECT_EQ(b.ini(),
              gbk(u"[UserSection]\r\nCount=2\r\n1=[1]丙\r\n2=[2]甲\r\n"
                  u"[IpSection]\r\n1=127.0.0.4\r\n2=127.0.0.2\r\n"_s));
    EXPECT_EQ(b.windows.buddyList, (QStringList{u"[1]丙"_s, u"[2]甲"_s}));
}

TEST_F(DispatcherTest, AFriendAcceptWithoutAnAddFriendDialogAddsNobody)
{
    a.deliver(b, Packet::friendAccept(u"小明"_s));
    EXPECT_TRUE(b.ini().isEmpty());
    EXPECT_TRUE(b.prompts.shown.isEmpty());

    b.windows.addFriendDialogExists = true;
    a.deliver(b, "4");
    EXPECT_EQ(b.windows.addFriendDialogClosed, 1);
    EXPECT_EQ(b.store.senderLookup(u"127.0.0.2"_s), u"[1]"_s) << "an empty nickname is stored empty";
}

TEST_F(DispatcherTest, MalformedDatagramsGiveTheConversionErrorAndNothingElse)
{
    // An empty datagram cannot leave an endpoint (its length check refuses it): a plain socket sends it.
    QUdpSocket raw;
    ASSERT_TRUE(raw.bind(QHostAddress(a.address), 0));
    raw.writeDatagram(QByteArray(), QHostAddress(b.address), DispatcherPeer::Port);
    ASSERT_TRUE(b.waitForDatagrams(1));
    a.deliver(b, "8anything");
    a.deliver(b, "0");
    a.deliver(b, "x");
    a.deliver(b, QByteArray(2049, '1'));
    a.deliver(b, "5abcByte a.txt [" + gbk(u"备注：]"_s));
    a.deliver(b, "5" + QByteArray(20, '9') + "Byte a.txt");
    a.deliver(b, "5-1Byte a.txt");
    EXPECT_EQ(b.reporter.errors,
              (QStringList{u"'' is not a valid integer value"_s, u"'x' is not a valid integer value"_s,
                           u"'' is not a valid integer value"_s, u"'abc' is not a valid integer value"_s,
                           u"'99999999999999999999' is not a valid integer value"_s,
                           u"'-1' is not a valid integer value"_s}));
    EXPECT_TRUE(b.windows.receiveWindows.isEmpty());
    EXPECT_TRUE(b.windows.messageWindows.isEmpty());
    EXPECT_TRUE(a.receivedUntilProbeFrom(b, 0).isEmpty());
}

TEST_F(DispatcherTest, ALongDatagramIsReadIntoThe255ByteBuffer)
{
    a.deliver(b, "1" + QByteArray(2047, 'm'));
    ASSERT_EQ(b.windows.messageWindows.size(), 1);
    EXPECT_EQ(b.windows.messageWindows[0].mess, QString(254, u'm'));
}

TEST_F(DispatcherTest, FileOffersAcceptsAndProgressReachTheFileWindows)
{
    a.deliver(b, Packet::fileOffer(1234, u"a.txt"_s, u"hi"_s));
    a.deliver(b, Packet::fileOffer(9999999999, u"big.iso"_s, QString()));
    ASSERT_EQ(b.windows.receiveWindows.size(), 2);
    EXPECT_EQ(b.windows.receiveWindows[0].size, 1234);
    EXPECT_EQ(b.windows.receiveWindows[0].offer, u"1234Byte a.txt [备注：hi]"_s);
    EXPECT_EQ(b.windows.receiveWindows[0].fromIp, u"127.0.0.2"_s);
    EXPECT_EQ(b.windows.receiveWindows[1].size, 9999999999);

    // Accepts and progress count only while the file-window flag is 1 and the window exists.
    b.windows.sendFileWindowExists = true;
    b.windows.receiveFileWindowExists = true;
    a.deliver(b, Packet::fileAccept());
    a.deliver(b, "7junk");
    EXPECT_EQ(b.windows.trueSendClicks, 0);
    b.windows.tag = 1;
    a.deliver(b, Packet::fileAccept());
    a.deliver(b, Packet::progress(512));
    a.deliver(b, "7" + QByteArray(30, '7'));
    a.deliver(b, "79223372036854775807");
    b.windows.receiveFileWindowExists = false;
    a.deliver(b, Packet::progress(600));
    EXPECT_EQ(b.windows.trueSendClicks, 1);
    EXPECT_EQ(b.windows.progress, (QList<qint64>{512, 9223372036854775807}));
    EXPECT_EQ(b.reporter.errors, QStringList{u"'" + QString(30, u'7') + u"' is not a valid integer value"_s});
}

TEST_F(DispatcherTest, WithoutFileWindowsFilePacketsAreCheckedAndDropped)
{
    b.dispatcher.setFileWindows(nullptr);
    b.windows.tag = 1;
    b.windows.sendFileWindowExists = true;
    b.windows.receiveFileWindowExists = true;
    a.deliver(b, Packet::fileOffer(1234, u"a.txt"_s, u"hi"_s));
    a.deliver(b, "5abcByte a.txt");
    a.deliver(b, Packet::fileAccept());
    a.deliver(b, Packet::progress(512));
    a.deliver(b, "7junk");
    EXPECT_TRUE(b.windows.receiveWindows.isEmpty());
    EXPECT_EQ(b.windows.trueSendClicks, 0);
    EXPECT_TRUE(b.windows.progress.isEmpty());
    // An offer's size is checked before it would reach a window; a position only on its way to one.
    EXPECT_EQ(b.reporter.errors, QStringList{u"'abc' is not a valid integer value"_s});
    a.deliver(b, "1hello");
    EXPECT_EQ(b.windows.messageWindows.size(), 1) << "the dispatcher goes on";
}
