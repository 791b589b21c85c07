#include "core/Gbk.h"

#include <QList>

#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

using namespace Qt::Literals::StringLiterals;

TEST(Gbk, EncodesChineseAsTwoBytesEach)
{
    EXPECT_EQ(Gbk::encode(u"自动回复"_s), QByteArray("\xD7\xD4\xB6\xAF\xBB\xD8\xB8\xB4"));
    EXPECT_EQ(Gbk::encode(u"[自动回复]:"_s).size(), 11);
    EXPECT_EQ(Gbk::encode(u" [备注："_s).size(), 8);
    EXPECT_EQ(Gbk::byteLength(u"休息中Zzz"_s), 9);
    EXPECT_EQ(Gbk::byteLength(QString()), 0);
}

TEST(Gbk, RoundTripsAndSurvivesInvalidBytes)
{
    const QString text = u"你好, world：小明"_s;
    EXPECT_EQ(Gbk::decode(Gbk::encode(text)), text);
    // A lone lead byte and bytes GBK does not define decode to something, never crash.
    const QString broken = Gbk::decode(QByteArray("\x81\xFF\x80"
                                                  "abc"
                                                  "\xD7",
                                                  7));
    EXPECT_TRUE(broken.endsWith(QChar::ReplacementCharacter) || broken.contains(u"abc"_s));
    EXPECT_TRUE(broken.contains(u"abc"_s));
}

TEST(Gbk, TruncatesOnCharacterBoundaries)
{
    EXPECT_EQ(Gbk::truncateToBytes(u"小明abc"_s, 3), u"小"_s);
    EXPECT_EQ(Gbk::truncateToBytes(u"小明abc"_s, 4), u"小明"_s);
    EXPECT_EQ(Gbk::truncateToBytes(u"小明abc"_s, 5), u"小明a"_s);
    EXPECT_EQ(Gbk::truncateToBytes(u"abc"_s, 20), u"abc"_s);
    EXPECT_EQ(Gbk::truncateToBytes(u"abc"_s, 0), QString());
    // Twenty bytes hold ten Chinese characters, not twenty.
    const QString twelve = QString(12, QChar(0x4E2D));
    EXPECT_EQ(Gbk::truncateToBytes(twelve, 20).size(), 10);
}

TEST(Gbk, ConversionsCarryNothingOverBetweenCallsOrThreads)
{
    // A lead byte cut off at the end, and an unpaired surrogate, leave no state behind.
    EXPECT_EQ(Gbk::decode(QByteArray("\xD7", 1)), QString(QChar::ReplacementCharacter));
    EXPECT_EQ(Gbk::decode("A"), u"A"_s);
    EXPECT_EQ(Gbk::encode(u"x"_s + QChar(0xD800)), QByteArray("x?"));
    EXPECT_EQ(Gbk::encode(QString(QChar(0xDC00))), QByteArray("?"));
    EXPECT_EQ(Gbk::truncateToBytes(u"小明abc"_s, 3), u"小"_s);
    EXPECT_EQ(Gbk::encode(u"自动"_s), QByteArray("\xD7\xD4\xB6\xAF"));

    // Connection threads convert at the same time as the GUI thread: each gets what it would
    // alone.
    const QList<QString> texts{u"你好"_s, u"[3]小明:[14:05:09]"_s, u"abc"_s, QString(40, QChar(0x4E2D))};
    QList<QByteArray> expected;
    QList<QString> expectedCut; // the text of the bytes without their last one
    for (const QString &text : texts) {
        expected << Gbk::encode(text);
        expectedCut << Gbk::decode(expected.last().chopped(1));
    }
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 2000; ++i) {
                const qsizetype k = (i + t) % texts.size();
                const QByteArray bytes = Gbk::encode(texts[k]);
                if (bytes != expected[k] || Gbk::decode(bytes.chopped(1)) != expectedCut[k]
                    || Gbk::decode(bytes) != texts[k])
                    ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

TEST(Gbk, Gb18030IsGbkForGbkTextAndCarriesEverythingElseInFourBytes)
{
    using Gbk::Charset;
    const QString chinese = u"小明说：你好 abc"_s;
    EXPECT_EQ(Gbk::encode(chinese, Charset::Gb18030), Gbk::encode(chinese));
    EXPECT_EQ(Gbk::encode(chinese, Charset::Gbk), Gbk::encode(chinese));

    const QString emoji = u"好😀❤️"_s; // U+FE0F after the heart is part of the emoji
    const QByteArray wide = Gbk::encode(emoji, Charset::Gb18030);
    EXPECT_EQ(wide.size(), 2 + 4 + 4 + 4);
    EXPECT_EQ(Gbk::decode(wide, Charset::Gb18030), emoji);
    EXPECT_EQ(Gbk::byteLength(emoji, Charset::Gb18030), 14);
    EXPECT_EQ(Gbk::byteLength(emoji), 4) << "GBK: '?' for each, the selector left out";

    // Cut on whole characters: an emoji is never split, nor a surrogate pair.
    EXPECT_EQ(Gbk::truncateToBytes(emoji, 5, Charset::Gb18030), u"好"_s);
    EXPECT_EQ(Gbk::truncateToBytes(emoji, 6, Charset::Gb18030), u"好😀"_s);
    // A cut four-byte character (a cut datagram) shows as U+FFFD, never losing what came before.
    EXPECT_TRUE(Gbk::decode(wide.left(5), Charset::Gb18030).startsWith(u"好\uFFFD"_s));
    EXPECT_FALSE(Gbk::decode(wide.left(5), Charset::Gb18030).contains(u"😀"_s));
}
