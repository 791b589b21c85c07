// What the codec does at the edges of a text: an unpaired surrogate at the end of a text, and
// a lead byte whose second byte is missing, are counted and shown, never held back and lost.
#include "core/Gbk.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

QString units(std::initializer_list<char16_t> codes)
{
    QString text;
    for (char16_t c : codes)
        text += QChar(c);
    return text;
}

} // namespace

TEST(GbkBoundary, UnpairedSurrogatesEncodeAsQuestionMarksWhereverTheyStand)
{
    const QString high = units({0xD9D9});
    EXPECT_EQ(Gbk::encode(high), QByteArray("?"));
    EXPECT_EQ(Gbk::encode(u"a"_s + high), QByteArray("a?"));
    EXPECT_EQ(Gbk::encode(high + u"a"_s), QByteArray("?a"));
    EXPECT_EQ(Gbk::encode(units({0xDC00, 0xD800})), QByteArray("??"));
    EXPECT_EQ(Gbk::byteLength(units({0xD9FF, 0xD9D9})), 2);
    // A real pair is one character, which GBK cannot hold.
    EXPECT_EQ(Gbk::encode(units({0xD83D, 0xDE00})), QByteArray("?"));
    // Invisible formatting characters are left out, not made '?'.
    EXPECT_EQ(Gbk::encode(u"a"_s + units({0x200B}) + u"b"_s), QByteArray("ab"));
}

TEST(GbkBoundary, TruncationFitsTheLimitWhenTheTextHoldsUnpairedSurrogates)
{
    // Found by the fuzzer: high surrogates in a row were measured in pairs, as nothing, and
    // the cut text came out longer than its limit.
    const QString text = QString(20, QChar(0xD9D9)) + u"小明"_s;
    const QString cut = Gbk::truncateToBytes(text, 10);
    EXPECT_EQ(cut, QString(10, QChar(0xD9D9)));
    EXPECT_EQ(Gbk::byteLength(cut), 10);
    EXPECT_EQ(Gbk::truncateToBytes(units({0xD83D, 0xDE00, 0x41}), 1), units({0xD83D, 0xDE00}));
}

TEST(GbkBoundary, ALeadByteCutOffAtTheEndDecodesAsAReplacementCharacter)
{
    EXPECT_EQ(Gbk::decode(QByteArray("A\xD7")), u"A"_s + QChar::ReplacementCharacter);
    EXPECT_EQ(Gbk::decode(QByteArray("\xD7")), QString(QChar::ReplacementCharacter));
    EXPECT_EQ(Gbk::decode(QByteArray("\xD0\xA1")), u"小"_s);
    EXPECT_EQ(Gbk::decode(QByteArray()), QString());
    const QByteArray withNul("a\0b", 3);
    EXPECT_EQ(Gbk::decode(withNul), QString::fromLatin1(withNul));
}
