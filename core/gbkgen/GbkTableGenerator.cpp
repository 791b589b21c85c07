// Makes the GBK tables built into the program: runs Qt's "GBK" codec (the converter library the
// program would otherwise load) over every byte, every lead byte with every second byte and
// every code point, checks that what it sees is fully described by the tables, and writes them
// as a C++ source. Any check that fails stops the build, so a converter that behaves otherwise
// can never give the program different tables without notice.
// Usage: gbkgen <output.cpp>
#include "core/GbkTableCodec.h"
#include "core/IcuCodec.h"

#include <QFile>
#include <QList>
#include <QRandomGenerator>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <vector>

using namespace Qt::Literals::StringLiterals;
using Gbk::GbkTables;

namespace {

void require(bool condition, const QString &what)
{
    if (condition)
        return;
    std::fprintf(stderr, "gbkgen: %s\n", qPrintable(what));
    std::exit(1);
}

QString hex(uint value) { return u"0x"_s + QString::number(value, 16).toUpper(); }

QString reference(const QByteArray &bytes) { return Gbk::IcuCodec::decode(bytes, Gbk::Charset::Gbk); }

QByteArray reference(const QString &text) { return Gbk::IcuCodec::encode(text, Gbk::Charset::Gbk); }

QString codePointText(char32_t codePoint) { return QString::fromUcs4(&codePoint, 1); }

// Bytes that stand after a probed byte or pair: a letter, a NUL, a pair, a lead byte at the
// end, and bytes that are characters of their own above 0x7F.
const QList<QByteArray> &followers()
{
    static const QList<QByteArray> list{"A", QByteArray(1, '\0'), "\xD7\xD4", "\x81", "\x80", "\xFF", "\x81\x30"};
    return list;
}

// The tables as the generator fills them, and the GbkTables view of them.
struct Tables {
    std::vector<char16_t> singleBytes = std::vector<char16_t>(256);
    std::vector<char16_t> pairs = std::vector<char16_t>(GbkTables::LeadCount * GbkTables::TrailCount);
    std::vector<std::uint8_t> bmpBlock = std::vector<std::uint8_t>(GbkTables::BmpBlocks);
    std::vector<std::uint16_t> blocks;
    std::vector<GbkTables::Range> supplementary;

    GbkTables view() const
    {
        return {singleBytes.data(), pairs.data(), bmpBlock.data(), blocks.data(), supplementary.data(),
                supplementary.size()};
    }
};

bool isLead(int byte) { return byte >= GbkTables::FirstLead && byte <= GbkTables::LastLead; }

// A byte followed by 'A' is one character and the 'A', or, for a lead byte, one character.
void probeSingleBytes(Tables &tables)
{
    for (int byte = 0; byte < 256; ++byte) {
        const QString text = reference(QByteArray(1, char(byte)) + "A");
        const QString what = u"byte "_s + hex(byte) + u" then 'A' decodes to "_s + QString::number(text.size()) + u" units"_s;
        if (isLead(byte)) {
            require(text.size() == 1, what + u", not one character: not a lead byte"_s);
            tables.singleBytes[byte] = GbkTables::NotACharacter;
        } else {
            require(text.size() == 2 && text.at(1) == u'A', what + u", not a character and the 'A'"_s);
            require(text.at(0).unicode() != GbkTables::NotACharacter, what + u": U+FFFF"_s);
            tables.singleBytes[byte] = text.at(0).unicode();
        }
    }
}

// What a lead byte and the byte after it decode to: one character for both, or U+FFFD for the
// lead byte with the second byte read again on its own. Either way it must not depend on what
// follows.
char16_t probePair(const Tables &tables, int lead, int trail)
{
    const QByteArray pair = QByteArray(1, char(lead)) + char(trail);
    const QString what = u"pair "_s + hex(lead) + u" "_s + hex(trail);
    const QString text = reference(pair + "A");
    require(text.endsWith(u'A'), what + u" then 'A' does not end in 'A'"_s);
    const QString own = text.chopped(1);
    for (const QByteArray &after : followers())
        require(reference(pair + after) == own + reference(after), what + u" decodes differently before "_s + QString::fromLatin1(after.toHex()));
    if (own.size() == 1) {
        require(own.at(0).unicode() != GbkTables::NotACharacter, what + u" decodes to U+FFFF"_s);
        return own.at(0).unicode();
    }
    require(!isLead(trail) && own == QString(QChar::ReplacementCharacter) + QChar(tables.singleBytes[trail]),
            what + u" is neither one character nor U+FFFD and the second byte"_s);
    return GbkTables::NotACharacter;
}

void probePairs(Tables &tables)
{
    for (int lead = GbkTables::FirstLead; lead <= GbkTables::LastLead; ++lead)
        for (int trail = 0; trail < 256; ++trail) {
            const char16_t character = probePair(tables, lead, trail);
            if (trail >= GbkTables::FirstTrail && trail <= GbkTables::LastTrail)
                tables.pairs[(lead - GbkTables::FirstLead) * GbkTables::TrailCount + trail - GbkTables::FirstTrail] = character;
            else
                require(character == GbkTables::NotACharacter, u"pair "_s + hex(lead) + u" "_s + hex(trail) + u" outside the second-byte range is a character"_s);
        }
}

// The table value of a code point encoded alone (an unpaired surrogate becomes '?').
std::uint16_t probeCodePoint(char32_t codePoint)
{
    const QByteArray bytes = reference(codePointText(codePoint));
    const QString what = u"code point "_s + hex(codePoint);
    require(bytes.size() <= 2, what + u" encodes to more than two bytes"_s);
    if (bytes.isEmpty())
        return GbkTables::NoBytes;
    if (bytes.size() == 1)
        return static_cast<unsigned char>(bytes.at(0));
    const auto value = static_cast<std::uint16_t>(static_cast<unsigned char>(bytes.at(0)) << 8 | static_cast<unsigned char>(bytes.at(1)));
    require(value > 0xFF && value != GbkTables::NoBytes, what + u" encodes to two bytes the table cannot hold"_s);
    return value;
}

// The BMP in blocks of 256 code points; blocks that are alike are kept once.
void probeBmp(Tables &tables)
{
    std::map<std::vector<std::uint16_t>, std::uint8_t> known;
    for (int block = 0; block < GbkTables::BmpBlocks; ++block) {
        std::vector<std::uint16_t> values(GbkTables::BlockSize);
        for (int i = 0; i < GbkTables::BlockSize; ++i)
            values[i] = probeCodePoint(char32_t(block * GbkTables::BlockSize + i));
        const auto [at, added] = known.emplace(values, std::uint8_t(known.size()));
        if (added)
            tables.blocks.insert(tables.blocks.end(), values.begin(), values.end());
        tables.bmpBlock[block] = at->second;
    }
}

void probeSupplementary(Tables &tables)
{
    for (char32_t codePoint = 0x10000; codePoint <= 0x10FFFF; ++codePoint) {
        const std::uint16_t value = probeCodePoint(codePoint);
        if (tables.supplementary.empty() || tables.supplementary.back().bytes != value)
            tables.supplementary.push_back({codePoint, value});
    }
}

// Encoding a text gives each of its code points' bytes in turn: checked over every code point
// in order (in runs of 4096) and over mixed random texts, which also hold unpaired surrogates.
void checkEncodingJoins(const GbkTables &tables)
{
    for (char32_t start = 0; start < 0x110000; start += 4096) {
        QString text;
        for (char32_t codePoint = start; codePoint < start + 4096; ++codePoint)
            if (codePoint < 0xD800 || codePoint > 0xDFFF)
                text += codePointText(codePoint);
        require(reference(text) == Gbk::GbkTableCodec::encode(tables, text), u"encoding the run from "_s + hex(start) + u" is not the bytes of its code points"_s);
    }
    QRandomGenerator random(936);
    for (int n = 0; n < 20000; ++n) {
        QString text;
        for (int i = random.bounded(1, 12); i > 0; --i)
            text += random.bounded(4) == 0 ? QChar(char16_t(random.bounded(0xD800, 0xE000))) : QChar(char16_t(random.bounded(0x10000)));
        require(reference(text) == Gbk::GbkTableCodec::encode(tables, text), u"encoding a mixed text is not the bytes of its code points"_s);
    }
}

// Decoding random bytes, rich in lead bytes and bytes that are not second bytes, gives what the
// converter gives.
void checkDecodingJoins(const GbkTables &tables)
{
    QRandomGenerator random(2312);
    static constexpr unsigned char pool[] = {0x81, 0xD7, 0xFE, 0xFF, 0x80, 0x7F, 0x40, 0x30, 0x00, 'A', 0xA1, 0xA2};
    for (int n = 0; n < 50000; ++n) {
        QByteArray bytes;
        for (int i = random.bounded(0, 16); i > 0; --i)
            bytes += random.bounded(2) == 0 ? char(random.bounded(256)) : char(pool[random.bounded(int(sizeof pool))]);
        require(reference(bytes) == Gbk::GbkTableCodec::decode(tables, bytes), u"decoding "_s + QString::fromLatin1(bytes.toHex()) + u" differs"_s);
    }
}

template <typename T> void writeArray(QByteArray &out, const char *declaration, const std::vector<T> &values)
{
    out += declaration;
    out += " = {";
    for (std::size_t i = 0; i < values.size(); ++i)
        out += (i % 16 == 0 ? "\n    " : " ") + QByteArray::number(uint(values[i]), 16).prepend("0x") + ',';
    out += "\n};\n\n";
}

QByteArray source(const Tables &tables)
{
    QByteArray out = "// Made by gbkgen from Qt's \"GBK\" codec at build time; not to be edited.\n"
                     "#include \"core/GbkTables.h\"\n\n#include <iterator>\n\nnamespace Gbk {\n\nnamespace {\n\n";
    writeArray(out, "constexpr char16_t singleBytes[]", tables.singleBytes);
    writeArray(out, "constexpr char16_t pairs[]", tables.pairs);
    writeArray(out, "constexpr std::uint8_t bmpBlock[]", tables.bmpBlock);
    writeArray(out, "constexpr std::uint16_t blocks[]", tables.blocks);
    out += "constexpr GbkTables::Range supplementary[] = {\n";
    for (const GbkTables::Range &range : tables.supplementary)
        out += "    {0x" + QByteArray::number(uint(range.first), 16) + ", 0x" + QByteArray::number(range.bytes, 16) + "},\n";
    out += "};\n\nconstexpr GbkTables tables{singleBytes, pairs, bmpBlock, blocks, supplementary, std::size(supplementary)};\n\n"
           "} // namespace\n\nconst GbkTables &builtInGbkTables() { return tables; }\n\n} // namespace Gbk\n";
    return out;
}

} // namespace

int main(int argc, char **argv)
{
    require(argc == 2, u"usage: gbkgen <output.cpp>"_s);
    Tables tables;
    probeSingleBytes(tables);
    probePairs(tables);
    probeBmp(tables);
    probeSupplementary(tables);
    checkEncodingJoins(tables.view());
    checkDecodingJoins(tables.view());
    QFile file(QString::fromLocal8Bit(argv[1]));
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(source(tables)) >= 0 && file.flush(), u"cannot write "_s + file.fileName());
    std::printf("gbkgen: %zu encoding blocks, %zu supplementary ranges\n", tables.blocks.size() / GbkTables::BlockSize, tables.supplementary.size());
    return 0;
}
