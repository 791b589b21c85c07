#include "core/Gbk.h"
#include "core/Packet.h"
#include "tests/ui/NearbyPair.h"
#include "ui/GbkTextLimit.h"
#include "ui/TForm3.h"

#include <QPlainTextEdit>
#include <QPushButton>

using namespace Qt::Literals::StringLiterals;

namespace {

using WideText = NearbyPair;

const QString Grin = u"😀"_s;
const QString Text = u"你好"_s + Grin + u"👍🏽❤️"_s;

// A message window of peer to ip, as an answer to a message opens it.
TForm3 *windowTo(TestPeer &peer, const QString &ip)
{
    peer.form1->showMessageWindow(u"接收消息"_s, ip, u"陌生人"_s, QString(), true);
    return peer.form1->findChildren<TForm3 *>().last();
}

// The text of the newest message window peer shows once it has count of them.
QString received(const TestPeer &peer, qsizetype count)
{
    if (!QTest::qWaitFor([&] { return peer.form1->findChildren<TForm3 *>().size() >= count; }, 5000))
        return {};
    return peer.form1->findChildren<TForm3 *>().last()->mess->toPlainText();
}

TEST_F(WideText, EmojiArriveIntactBetweenTwoPeersThatAnnouncedIt)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    TForm3 *out = windowTo(*a, b->ip());
    out->inpu->setPlainText(Text);
    out->fs->click();
    EXPECT_EQ(received(*b, 1), Text);
    EXPECT_TRUE(a->reporter.errors.isEmpty() && b->reporter.errors.isEmpty());
}

TEST_F(WideText, APeerOfTheBaseProtocolGetsPureGbkAndIsReadAsGbk)
{
    RawUdpPeer probe(u"127.0.0.4"_s);
    ASSERT_TRUE(probe.isBound());
    TForm3 *out = windowTo(*a, probe.address());
    out->inpu->setPlainText(Text);
    out->fs->click();
    ASSERT_TRUE(probe.waitForDatagrams(1));
    EXPECT_EQ(probe.received.first(), Packet::message(Text)) << "exactly as before presence";
    EXPECT_EQ(probe.received.first(), "1\xC4\xE3\xBA\xC3????") << "a '?' per character, none for U+FE0F";
    EXPECT_EQ(probe.received.first(), "1" + Gbk::encode(Text));

    // GB18030 bytes from a peer that announced nothing are read as GBK.
    const QByteArray wide = "1" + Gbk::encode(Grin, Gbk::Charset::Gb18030);
    ASSERT_EQ(wide, "1\x94\x39\xFC\x36");
    probe.send(a->ip(), wide);
    EXPECT_EQ(received(*a, 2), Gbk::decode(wide.mid(1)));
    EXPECT_NE(Gbk::decode(wide.mid(1)), Grin);

    // Once it announces the capability (and we do), they are read as GB18030.
    probe.send(a->ip(), PresenceDatagram{PresenceDatagram::Kind::Hello, QByteArray(16, 'p'), 1,
                                         PresenceDatagram::CapabilityGb18030, "probe", {}}
                            .build());
    probe.send(a->ip(), wide);
    EXPECT_EQ(received(*a, 3), Grin);
}

TEST_F(WideText, TheByteLimitCountsTheBytesTheTextWillTakeAndBidiControlsAreDropped)
{
    ASSERT_TRUE(QTest::qWaitFor([&] { return bothSee(); }, 5000));
    const QString sixty = Grin.repeated(60);
    TForm3 *wide = windowTo(*a, b->ip());
    wide->inpu->setPlainText(sixty);
    EXPECT_EQ(wide->inpu->toPlainText(), Grin.repeated(TForm3::MessageBytes / 4)) << "four bytes each";
    TForm3 *narrow = windowTo(*a, u"127.0.0.9"_s);
    narrow->inpu->setPlainText(sixty);
    EXPECT_EQ(narrow->inpu->toPlainText(), sixty) << "one '?' each in GBK";

    // A right-to-left override in a capable peer's text cannot turn what is shown around.
    Packet::send(b->endpoint(), a->ip(),
                 "1" + Gbk::encode(u"abc\u202Edef\u2066g"_s, Gbk::Charset::Gb18030));
    EXPECT_EQ(received(*a, 3), u"abcdefg"_s);
}

} // namespace
