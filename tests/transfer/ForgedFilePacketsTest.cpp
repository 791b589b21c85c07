#include "tests/support/RawUdpPeer.h"
#include "tests/transfer/TwoPeers.h"
#include "ui/TForm3.h"

namespace {

using ForgedFilePackets = TwoPeers;

const QString IntruderIp = u"127.0.0.4"_s;

// Waits until peer has shown a message window from ip: datagrams from one host are
// dispatched in order, so everything that host sent before has been handled.
bool probed(TestPeer &peer, RawUdpPeer &from)
{
    from.send(peer.ip(), "1probe");
    return QTest::qWaitFor(
        [&] {
            for (TForm3 *window : peer.form1->findChildren<TForm3 *>())
                if (window->ip->text() == from.address())
                    return true;
            return false;
        },
        10000);
}

TEST_F(ForgedFilePackets, AcceptAndProgressFromAThirdAddressTouchNothingAndTheBuddyStillSends)
{
    const QString source = makeFile(u"a.bin"_s, 2 * 1024 * 1024);
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> receiving = offer(sending, source);
    ASSERT_TRUE(receiving);
    const int valueBefore = receiving->jsjd->value();

    RawUdpPeer intruder(IntruderIp);
    intruder.send(a.ip(), Packet::fileAccept());
    intruder.send(b.ip(), Packet::progress(1024));
    ASSERT_TRUE(probed(a, intruder));
    ASSERT_TRUE(probed(b, intruder));
    ASSERT_TRUE(sending);
    EXPECT_FALSE(sending->fsd->Connected()) << "no post started for the intruder's accept";
    EXPECT_TRUE(sending->isVisible());
    EXPECT_TRUE(sending->ztPanel1->text().isEmpty()) << qPrintable(sending->ztPanel1->text());
    EXPECT_TRUE(a.prompts.texts(u"message"_s).isEmpty());
    EXPECT_EQ(receiving->jsjd->value(), valueBefore);
    EXPECT_TRUE(receiving->ztPanel1->text().isEmpty());
    EXPECT_EQ(receiving->ztPanel0->text(), u"From:127.0.0.2"_s);

    // The buddy's own accept and A's progress reports work as ever.
    bool progressShown = false;
    duringBody(sending, [&] {
        progressShown = QTest::qWaitFor(
            [&] { return receiving && receiving->ztPanel1->text() == u"正在接收数据"_s; }, Wait);
    });
    accept(receiving, files.file(u"target.bin"_s));
    ASSERT_TRUE(released(sending));
    ASSERT_TRUE(released(receiving));
    EXPECT_TRUE(progressShown);
    EXPECT_EQ(files.read(u"target.bin"_s), files.read(u"a.bin"_s));
    EXPECT_EQ(a.prompts.texts(u"message"_s), QStringList{u"发送完毕！"_s});
    EXPECT_EQ(b.prompts.texts(u"message"_s), QStringList{u"接收完毕！"_s});
}

TEST_F(ForgedFilePackets, ProgressCountsOnlyFromTheHostWhoseOfferTheCurrentWindowShows)
{
    // A's offer, then a second host's: the newer window is the current one (neither accepted).
    QPointer<TForm6> sending = openSendWindow();
    QPointer<TForm7> first = offer(sending, makeFile(u"a.bin"_s, 1000));
    ASSERT_TRUE(first);
    RawUdpPeer other(IntruderIp);
    other.send(b.ip(), Packet::fileOffer(500, u"b.bin"_s, QString()));
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.files->receiveWindows().size() == 2; }, Wait));
    TForm7 *current = b.files->receiveWindow();
    ASSERT_NE(current, first.data());
    EXPECT_EQ(current->ztPanel0->text(), u"From:127.0.0.4"_s);

    other.send(b.ip(), Packet::progress(300));
    Packet::send(a.endpoint(), b.ip(), Packet::progress(400)); // A's offer is not this window's
    ASSERT_TRUE(probed(b, other));
    EXPECT_EQ(current->jsjd->value(), 300);
    EXPECT_EQ(current->ztPanel0->text(), u"已接收：300Byte  共：500Byte"_s);
    EXPECT_TRUE(first->ztPanel1->text().isEmpty());
}

} // namespace
