#include "core/GbkTableCodec.h"

#include <algorithm>

namespace Gbk::GbkTableCodec {

namespace {

// The table value of a code point; U+D800 to U+DFFF in the BMP table hold the value of '?'.
std::uint16_t valueOf(const GbkTables &tables, char32_t codePoint)
{
    if (codePoint < 0x10000) {
        const int block = tables.bmpBlock[codePoint / GbkTables::BlockSize];
        return tables.blocks[block * GbkTables::BlockSize + codePoint % GbkTables::BlockSize];
    }
    const GbkTables::Range *end = tables.supplementary + tables.supplementaryCount;
    const GbkTables::Range *after = std::upper_bound(
        tables.supplementary, end, codePoint,
        [](char32_t point, const GbkTables::Range &range) { return point < range.first; });
    return after == tables.supplementary ? GbkTables::NoBytes : (after - 1)->bytes;
}

// The character of a lead byte and the byte after it, or NotACharacter when that byte does not
// belong to it.
char16_t pairOf(const GbkTables &tables, unsigned char lead, unsigned char trail)
{
    if (trail < GbkTables::FirstTrail || trail > GbkTables::LastTrail)
        return GbkTables::NotACharacter;
    return tables.pairs[(lead - GbkTables::FirstLead) * GbkTables::TrailCount + (trail - GbkTables::FirstTrail)];
}

} // namespace

std::uint16_t valueAt(const GbkTables &tables, QStringView text, qsizetype i, qsizetype width)
{
    if (width == 2)
        return valueOf(tables, QChar::surrogateToUcs4(text.at(i), text.at(i + 1)));
    return valueOf(tables, text.at(i).unicode());
}

QByteArray encode(const GbkTables &tables, QStringView text)
{
    // At most two bytes for each code unit.
    QByteArray bytes(text.size() * 2, Qt::Uninitialized);
    char *out = bytes.data();
    qsizetype written = 0;
    for (qsizetype i = 0, width = 0; i < text.size(); i += width) {
        width = widthAt(text, i);
        const std::uint16_t value = valueAt(tables, text, i, width);
        if (value == GbkTables::NoBytes)
            continue;
        if (value > 0xFF)
            out[written++] = char(value >> 8);
        out[written++] = char(value & 0xFF);
    }
    bytes.truncate(written);
    return bytes;
}

QString decode(const GbkTables &tables, const QByteArray &bytes)
{
    // The converter the tables come from is given the bytes and a NUL, so that a lead byte at
    // the end becomes U+FFFD instead of waiting for a second byte; the NUL's character is taken
    // off again. The NUL is read here as if it were there.
    const auto *data = reinterpret_cast<const unsigned char *>(bytes.constData());
    const qsizetype size = bytes.size();
    const auto byteAt = [&](qsizetype i) { return i < size ? data[i] : static_cast<unsigned char>(0); };
    QString text(size + 1, Qt::Uninitialized);
    char16_t *out = reinterpret_cast<char16_t *>(text.data());
    qsizetype written = 0;
    for (qsizetype i = 0; i <= size;) {
        const unsigned char byte = byteAt(i);
        const char16_t single = tables.singleBytes[byte];
        if (single != GbkTables::NotACharacter) {
            out[written++] = single;
            ++i;
            continue;
        }
        const char16_t pair = pairOf(tables, byte, byteAt(i + 1));
        out[written++] = pair == GbkTables::NotACharacter ? char16_t(QChar::ReplacementCharacter) : pair;
        i += pair == GbkTables::NotACharacter ? 1 : 2;
    }
    text.truncate(written - 1);
    return text;
}

int byteLength(const GbkTables &tables, QStringView text)
{
    int length = 0;
    for (qsizetype i = 0, width = 0; i < text.size(); i += width) {
        width = widthAt(text, i);
        length += lengthOf(valueAt(tables, text, i, width));
    }
    return length;
}

QString truncateToBytes(const GbkTables &tables, const QString &text, int maxBytes)
{
    if (maxBytes <= 0)
        return {};
    // Whole code points only, so a surrogate pair is never split.
    int used = 0;
    for (qsizetype i = 0, width = 0; i < text.size(); i += width) {
        width = widthAt(text, i);
        used += lengthOf(valueAt(tables, text, i, width));
        if (used > maxBytes)
            return text.left(i);
    }
    return text;
}

} // namespace Gbk::GbkTableCodec
