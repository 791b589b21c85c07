// The GBK conversions built into the program against Qt's "GBK" codec, the reference they must
// equal byte for byte and character for character: every byte, every lead byte with every
// second byte and at the end, every code point, and mixed random texts.
#include "core/Gbk.h"
#include "core/IcuCodec.h"

#include <QRandomGenerator>

#include <gtest/gtest.h>

namespace {

using Gbk::Charset;

QString reference(const QByteArray &bytes) { return Gbk::IcuCodec::decode(bytes, Charset::Gbk); }

QByteArray reference(const QString &text) { return Gbk::IcuCodec::encode(text, Charset::Gbk); }

QString codePointText(char32_t codePoint) { return QString::fromUcs4(&codePoint, 1); }

QByteArray bytesOf(std::initializer_list<int> values)
{
    QByteArray bytes;
    for (int value : values)
        bytes.append(char(value));
    return bytes;
}

// A random text of 0 to 24 code units: ASCII, Chinese, other BMP characters, characters GBK
// leaves out, surrogate pairs and unpaired surrogates.
QString randomText(QRandomGenerator &random)
{
    static const char16_t leftOut[] = {0x200B, 0x200D, 0xFE0F, 0x00AD, 0xFEFF, 0x2066};
    QString text;
    for (int i = random.bounded(25); i > 0; --i) {
        switch (random.bounded(7)) {
        case 0: text += QChar(char16_t(random.bounded(0x80))); break;
        case 1: text += QChar(char16_t(random.bounded(0x4E00, 0x9FA6))); break;
        case 2: text += QChar(char16_t(random.bounded(0x80, 0x10000))); break;
        case 3: text += QChar(leftOut[random.bounded(int(std::size(leftOut)))]); break;
        case 4: text += codePointText(char32_t(random.bounded(0x10000, 0x110000))); break;
        case 5: text += QChar(char16_t(random.bounded(0xD800, 0xE000))); break;
        default: text += codePointText(char32_t(random.bounded(0xE0000, 0xE0200))); break;
        }
    }
    return text;
}

// The code units of a text in hex, for failure messages.
std::string unitsOf(const QString &text)
{
    std::string units;
    for (QChar c : text)
        units += QString::number(c.unicode(), 16).toStdString() + ' ';
    return units;
}

} // namespace

TEST(GbkTable, DecodesEveryByteAndPairAsTheCodecDoes)
{
    int wrong = 0;
    for (int first = 0; first < 256; ++first) {
        wrong += Gbk::decode(bytesOf({first})) != reference(bytesOf({first}));
        wrong += Gbk::decode(bytesOf({first, 'A'})) != reference(bytesOf({first, 'A'}));
        for (int second = 0; second < 256; ++second) {
            const QByteArray bytes = bytesOf({first, second, 'A'});
            const bool same = Gbk::decode(bytes) == reference(bytes);
            EXPECT_TRUE(same) << "bytes " << bytes.toHex().constData();
            wrong += !same;
        }
        ASSERT_EQ(wrong, 0) << "first byte " << first;
    }
    // Lead bytes at the end after a pair, after a letter, after another lead byte.
    for (int lead = 0x81; lead <= 0xFE; ++lead)
        for (const QByteArray &before : {bytesOf({0xD7, 0xD4}), bytesOf({'A'}), bytesOf({0xB6}), QByteArray()})
            EXPECT_EQ(Gbk::decode(before + char(lead)), reference(before + char(lead))) << lead;
}

TEST(GbkTable, EncodesEveryCodePointAsTheCodecDoes)
{
    int wrong = 0;
    for (char32_t codePoint = 0; codePoint < 0x110000; ++codePoint) {
        const QString text = codePointText(codePoint);
        const QByteArray expected = reference(text);
        const bool same = Gbk::encode(text) == expected && Gbk::byteLength(text) == expected.size();
        EXPECT_TRUE(same) << "code point " << std::hex << uint(codePoint);
        wrong += !same;
        ASSERT_LT(wrong, 20);
    }
    // The characters GBK leaves out stay out, what it cannot hold is '?', an unpaired
    // surrogate too.
    EXPECT_EQ(Gbk::encode(codePointText(0x200B) + codePointText(0xE0001)), QByteArray());
    EXPECT_EQ(Gbk::encode(codePointText(0xAC00) + codePointText(0x1F600) + QChar(0xDC00)), QByteArray("???"));
    EXPECT_EQ(Gbk::encode(codePointText(0x20AC) + codePointText(0xF8F5)), QByteArray("\x80\xFF"));
}

TEST(GbkTable, MixedTextsConvertAndTruncateAtEveryLengthAsTheCodecDoes)
{
    QRandomGenerator random(18030);
    for (int n = 0; n < 3000; ++n) {
        const QString text = randomText(random);
        const QByteArray bytes = reference(text);
        ASSERT_EQ(Gbk::encode(text), bytes) << unitsOf(text);
        ASSERT_EQ(Gbk::byteLength(text), Gbk::IcuCodec::byteLength(text, Charset::Gbk)) << unitsOf(text);
        ASSERT_EQ(Gbk::decode(bytes), reference(bytes)) << bytes.toHex().constData();
        for (int limit = -1; limit <= bytes.size() + 1; ++limit)
            ASSERT_EQ(Gbk::truncateToBytes(text, limit), Gbk::IcuCodec::truncateToBytes(text, limit, Charset::Gbk))
                << unitsOf(text) << " limit " << limit;
        // Random bytes with many lead bytes and bytes that are not second bytes.
        QByteArray noise;
        for (int i = random.bounded(20); i > 0; --i)
            noise += char(random.bounded(2) ? random.bounded(0x81, 0x100) : random.bounded(0x100));
        ASSERT_EQ(Gbk::decode(noise), reference(noise)) << noise.toHex().constData();
    }
}
