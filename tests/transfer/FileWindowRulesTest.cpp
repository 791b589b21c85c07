#include "tests/support/RawUdpPeer.h"
#include "tests/transfer/RawPost.h"
#include "tests/transfer/TwoPeers.h"

namespace {

using FileWindowRules = TwoPeers;

const QByteArray Acknowledgement = QByteArray("OK") + QByteArray(14, ' ');

} // namespace

TEST_F(FileWindowRules, SecondOfferCannotListenSaysSoAndAcceptsOnlyOnceThePortIsFree)
{
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> first = offer(sending, makeFile(u"a.bin"_s, 2 * 1024 * 1024));
    ASSERT_TRUE(first);
    EXPECT_TRUE(first->ztPanel1->text().isEmpty());

    RawUdpPeer other(u"127.0.0.4"_s);
    other.send(b.ip(), "5" + Gbk::encode(u"9Byte c.txt [备注：]"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.files->receiveWindows().size() == 2; }, Wait));
    QPointer<TForm7> second = b.files->receiveWindows().last();
    second->Timer1->setInterval(10);
    EXPECT_EQ(second->ztPanel1->text(), u"端口占用"_s);

    // "接收" on the second window accepts nothing while the first one holds the port.
    second->Button1->click();
    Packet::send(b.endpoint(), other.address(), Packet::message(u"after"_s));
    ASSERT_TRUE(other.waitForDatagrams(1));
    EXPECT_EQ(other.received, QList<QByteArray>{"1after"});
    EXPECT_TRUE(b.prompts.texts(u"save"_s).isEmpty());
    EXPECT_TRUE(second->Button1->isEnabled());

    // The first offer's file lands in the first window's target; progress goes to that window.
    bool progressInFirst = false;
    duringBody(sending, [&] {
        progressInFirst = QTest::qWaitFor([&] { return first->ztPanel1->text() == u"正在接收数据"_s; }, Wait);
    });
    accept(first, files.file(u"first.bin"_s));
    ASSERT_TRUE(released(first));
    EXPECT_TRUE(progressInFirst);
    EXPECT_EQ(second->ztPanel1->text(), u"端口占用"_s);
    EXPECT_EQ(files.read(u"first.bin"_s), files.read(u"a.bin"_s));
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});

    // Now the port is free: the second window listens, accepts and receives its own sender's file.
    accept(second, files.file(u"second.bin"_s));
    ASSERT_TRUE(other.waitForDatagrams(2));
    EXPECT_EQ(other.received.last(), QByteArray("3"));
    EXPECT_TRUE(second->ztPanel1->text().isEmpty());
    RawPost post(other.address(), b.ip(), "123456789");
    ASSERT_TRUE(post.waitAnswered());
    EXPECT_EQ(post.reply, Acknowledgement);
    post.close();
    ASSERT_TRUE(released(second));
    EXPECT_EQ(files.read(u"second.bin"_s), QByteArray("123456789"));
    EXPECT_EQ(b.prompts.texts(u"message"_s), (QStringList{u"接收完毕！"_s, u"接收完毕！"_s}));
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(FileWindowRules, ReceiveWindowAloneBlocksTheFileCommandAndStrayAcceptsAreIgnored)
{
    befriend(b, u"甲"_s, a.ip());
    b.prompts.shown.clear();
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, makeFile(u"a.bin"_s, 1000));
    ASSERT_TRUE(receiving);

    b.form1->N2->trigger();
    EXPECT_EQ(b.prompts.texts(), QStringList{u"正在传送文件"_s});
    EXPECT_EQ(b.files->sendWindow(), nullptr);

    // A file accept reaching B, which has no send-file window, starts nothing.
    Packet::send(a.endpoint(), b.ip(), Packet::fileAccept());
    Packet::send(a.endpoint(), b.ip(), Packet::friendRequest(u"甲"_s));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.prompts.texts(u"confirm"_s).size() == 1; }, Wait));
    EXPECT_TRUE(b.reporter.errors.isEmpty());
    EXPECT_EQ(receiving->jsd->ConnectionCount(), 0);
    EXPECT_TRUE(receiving->Button1->isEnabled());
    EXPECT_FALSE(sending->fsd->Connected());
}

TEST_F(FileWindowRules, OnlyTheOfferingPeerDeliversAndOnlyAfterTheAccept)
{
    const QString source = makeFile(u"a.bin"_s, 5 * 1024 * 1024);
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, source);
    ASSERT_TRUE(receiving);

    // Before the user accepted, even the offering peer's address is turned away.
    RawPost early(a.ip(), b.ip(), "early");
    ASSERT_TRUE(early.waitAnswered());
    EXPECT_TRUE(early.closed());
    EXPECT_TRUE(early.reply.isEmpty());

    // During the transfer, a third address is turned away and the transfer goes on.
    QByteArray intruderReply;
    bool intruderClosed = false;
    duringBody(sending, [&] {
        RawPost intruder(u"127.0.0.4"_s, b.ip(), "not the offered file");
        intruderClosed = intruder.waitAnswered() && intruder.closed();
        intruderReply = intruder.reply;
    });
    accept(receiving, files.file(u"target.bin"_s));

    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    EXPECT_TRUE(intruderClosed);
    EXPECT_TRUE(intruderReply.isEmpty());
    EXPECT_EQ(files.read(u"target.bin"_s), files.read(u"a.bin"_s));
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{u"发送完毕！"_s});
}
