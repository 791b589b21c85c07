#include "tests/support/RawUdpPeer.h"
#include "tests/transfer/TwoPeers.h"

namespace {

// A's send-file window facing a raw peer on 127.0.0.4 that is not our code, so the test sees
// the bytes A puts on the wire and answers as it likes.
class SendFileWindow : public TwoPeers {
protected:
    TForm6 *openFor(const QString &ip)
    {
        a.files->openSendFileWindow(ip);
        TForm6 *window = a.files->sendWindow();
        window->Timer1->setInterval(10);
        return window;
    }

    RawUdpPeer raw{u"127.0.0.4"_s};
};

} // namespace

TEST_F(SendFileWindow, LongOfferIsCutToThePacketBufferKeepingItsFrame)
{
    const QString longNote = QString(300, u'长');
    const QByteArray cut = TForm6::offerPacket(123, u"名.txt"_s, longNote);
    // 254 bytes: one more would split a character of the note.
    EXPECT_EQ(cut.size(), Packet::BufferSize - 1);
    EXPECT_TRUE(cut.startsWith(Gbk::encode(u"5123Byte 名.txt [备注：长长"_s)));
    EXPECT_TRUE(cut.endsWith("]"));
    // A name too long for the packet leaves no room for the note.
    const QByteArray longName = TForm6::offerPacket(7, QString(200, u'名'), u"说明"_s);
    EXPECT_LE(longName.size(), Packet::BufferSize);
    EXPECT_TRUE(longName.endsWith(Gbk::encode(u"名 [备注：]"_s)));
    // What fits is not touched.
    EXPECT_EQ(TForm6::offerPacket(0, u"a.txt"_s, u"hi"_s), Gbk::encode(u"50Byte a.txt [备注：hi]"_s));

    QPointer<TForm6> sending = openFor(raw.address());
    sending->fsm->setText(longNote);
    a.prompts.openAnswers << makeFile(u"名.txt"_s, 123);
    sending->Button1->click();
    ASSERT_TRUE(raw.waitForDatagrams(1));
    EXPECT_EQ(raw.received.first(), cut);
}

TEST_F(SendFileWindow, UnreachableReceiverLeavesTheWindowOpenUntilCancelled)
{
    QPointer<TForm6> sending = openFor(raw.address());
    a.prompts.openAnswers << makeFile(u"a.bin"_s, 10);
    sending->Button1->click();
    ASSERT_TRUE(raw.waitForDatagrams(1));
    // The raw peer accepts, but nothing listens on its port 2921.
    raw.send(a.ip(), "3");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.reporter.errors.isEmpty(); }, Wait));
    EXPECT_EQ(a.reporter.errors, QStringList{u"Connection Failed"_s});
    EXPECT_EQ(sending->ztPanel1->text(), u"连接失败"_s);
    EXPECT_TRUE(sending->isVisible());
    EXPECT_EQ(a.form1->Tag, 1);
    // A second accept does not post again.
    raw.send(a.ip(), "3");
    raw.send(a.ip(), "2x");
    ASSERT_TRUE(QTest::qWaitFor([&] { return !a.prompts.texts(u"confirm"_s).isEmpty(); }, Wait));
    EXPECT_EQ(a.reporter.errors.size(), 1);

    sending->Button2->click();
    EXPECT_TRUE(released(sending));
    EXPECT_EQ(a.form1->Tag, 0);
    EXPECT_TRUE(a.prompts.texts(u"message"_s).isEmpty());
}

TEST_F(SendFileWindow, NoFileChosenSendsNothingAndUnreadableFilesAreReported)
{
    QPointer<TForm6> sending = openFor(raw.address());
    sending->Button1->click(); // the dialog is cancelled
    EXPECT_TRUE(sending->Button1->isEnabled()) << "the person may choose again";
    EXPECT_TRUE(sending->od.isEmpty());

    QPointer<TForm6> unreadable = openFor(raw.address());
    a.prompts.openAnswers << files.file(u"missing.bin"_s);
    unreadable->Button1->click();
    ASSERT_EQ(a.reporter.errors.size(), 1);
    EXPECT_TRUE(a.reporter.errors.first().startsWith(u"Cannot open file"_s));

    // Nothing went out: the first datagram the raw peer gets is this one.
    Packet::send(a.endpoint(), raw.address(), Packet::message(u"marker"_s));
    ASSERT_TRUE(raw.waitForDatagrams(1));
    EXPECT_EQ(raw.received, QList<QByteArray>{"1marker"});
}
