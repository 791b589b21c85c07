#include "core/Gbk.h"

#include <gtest/gtest.h>

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
    const QString broken = Gbk::decode(QByteArray("\x81\xFF\x80" "abc" "\xD7", 7));
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
