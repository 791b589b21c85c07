#include "fileset/NameText.h"

#include "core/Gbk.h"

#include <QStringDecoder>

using namespace Qt::Literals::StringLiterals;

namespace NameText {

namespace {

// Code units of the character at i: 2 for a surrogate pair, else 1.
qsizetype widthAt(QStringView text, qsizetype i)
{
    return text.at(i).isHighSurrogate() && i + 1 < text.size() && text.at(i + 1).isLowSurrogate() ? 2 : 1;
}

int utf8Width(char32_t c)
{
    return c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
}

bool isHidden(char32_t c)
{
    switch (QChar::category(c)) {
    case QChar::Other_Control:
    case QChar::Other_Format:
    case QChar::Other_Surrogate:
    case QChar::Separator_Line:
    case QChar::Separator_Paragraph:
        return true;
    default:
        return false;
    }
}

std::optional<QString> decodeUtf8(QByteArrayView bytes)
{
    // Stateless: a sequence cut off at the end is an error, not held back. A byte order mark
    // at the start is part of the name, not dropped.
    QStringDecoder decoder(QStringDecoder::Utf8,
                           QStringDecoder::Flag::Stateless | QStringDecoder::Flag::ConvertInitialBom);
    QString text = decoder.decode(bytes);
    if (decoder.hasError() || text.toUtf8() != bytes)
        return std::nullopt;
    return text;
}

} // namespace

QByteArray encode(const QString &text, NameEncoding encoding)
{
    if (encoding == NameEncoding::Gb18030)
        return Gbk::encode(text, Gbk::Charset::Gb18030);
    return text.toUtf8();
}

std::optional<QString> decode(QByteArrayView bytes, NameEncoding encoding)
{
    if (encoding == NameEncoding::Utf8)
        return decodeUtf8(bytes);
    // Invalid sequences decode to U+FFFD, which encodes to other bytes; so do characters the
    // decoder leaves out.
    QString text = Gbk::decode(bytes.toByteArray(), Gbk::Charset::Gb18030);
    if (Gbk::encode(text, Gbk::Charset::Gb18030) != bytes)
        return std::nullopt;
    return text;
}

QString truncated(const QString &text, int maxBytes, NameEncoding encoding)
{
    if (encoding == NameEncoding::Gb18030)
        return Gbk::truncateToBytes(text, maxBytes, Gbk::Charset::Gb18030);
    int used = 0;
    qsizetype i = 0;
    while (i < text.size()) {
        const qsizetype width = widthAt(text, i);
        const int bytes = localBytes(QStringView(text).mid(i, width));
        if (used + bytes > maxBytes)
            break;
        used += bytes;
        i += width;
    }
    return text.left(i);
}

int localBytes(QStringView text)
{
    int bytes = 0;
    for (qsizetype i = 0; i < text.size(); i += widthAt(text, i))
        bytes += widthAt(text, i) == 2 ? 4 : utf8Width(text.at(i).unicode());
    return bytes;
}

QString shown(QStringView text, int maxChars)
{
    QString result;
    int chars = 0;
    for (qsizetype i = 0; i < text.size(); i += widthAt(text, i), ++chars) {
        if (chars == maxChars)
            return result + u'…';
        const qsizetype width = widthAt(text, i);
        const char32_t c = width == 2 ? QChar::surrogateToUcs4(text.at(i), text.at(i + 1)) : text.at(i).unicode();
        if (isHidden(c))
            result += QChar::ReplacementCharacter;
        else
            result += text.mid(i, width);
    }
    return result;
}

QString shownBytes(QByteArrayView bytes, NameEncoding encoding, int maxChars)
{
    const QString text = encoding == NameEncoding::Gb18030
                             ? Gbk::decode(bytes.toByteArray(), Gbk::Charset::Gb18030)
                             : QString::fromUtf8(bytes);
    return shown(text, maxChars);
}

} // namespace NameText
