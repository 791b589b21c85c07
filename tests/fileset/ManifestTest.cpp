#include "fileset/Manifest.h"

#include "core/Gbk.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ManifestEntry::Kind;

namespace {

// The example of docs/file-sets.md: a folder 假期 holding a.jpg (3 bytes, modified 2026-12-01
// 00:00:00 UTC) and an empty folder 空.
const QByteArray DocExample = QByteArray::fromHex(
    "01 00 00000003 0000000000000003"
    "00 0006 e58187e69c9f                 0000000000000000 000001a22ee6b000"
    "01 000c e58187e69c9f2f612e6a7067     0000000000000003 000001a22ee6b000"
    "00 000a e58187e69c9f2fe7a9ba         0000000000000000 000001a22ee6b000");

struct RawEntry {
    quint8 kind;
    QByteArray path;
    quint64 size = 0;
};

QByteArray be(quint64 value, int size)
{
    QByteArray out(size, '\0');
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xff);
    return out;
}

// Manifest bytes as a peer may send them: the counts and total as given, not as they add up.
QByteArray rawManifest(quint8 encoding, quint32 count, quint64 total, const QList<RawEntry> &entries)
{
    QByteArray out = be(1, 1) + be(encoding, 1) + be(count, 4) + be(total, 8);
    for (const RawEntry &e : entries)
        out += be(e.kind, 1) + be(quint64(e.path.size()), 2) + e.path + be(e.size, 8) + be(0, 8);
    return out;
}

QByteArray rawFiles(const QList<RawEntry> &entries, quint8 encoding = 0)
{
    quint64 total = 0;
    for (const RawEntry &e : entries)
        total += e.size;
    return rawManifest(encoding, quint32(entries.size()), total, entries);
}

} // namespace

TEST(Manifest, EncodesTheDocumentedBytesAndParsesBackInBothEncodings)
{
    const qint64 december = 1796083200000; // 2026-12-01 00:00:00 UTC
    Manifest example;
    example.entries = {{Kind::Folder, u"假期"_s, 0, december},
                       {Kind::File, u"假期/a.jpg"_s, 3, december},
                       {Kind::Folder, u"假期/空"_s, 0, december}};
    EXPECT_EQ(example.encode().toHex(), DocExample.toHex());
    EXPECT_EQ(example.hash(), Manifest::hashOf(DocExample));
    EXPECT_EQ(example.hash().size(), Manifest::HashSize);
    EXPECT_EQ(example.totalBytes(), 3);
    EXPECT_EQ(example.fileCount(), 1);

    Manifest wide;
    wide.entries = {{Kind::Folder, u"旅行 😀"_s, 0, -1500},
                    {Kind::File, u"旅行 😀/"_s + QString(85, u'名'), Manifest::MaxSize, 0},
                    {Kind::File, u".隐藏"_s, 0, std::numeric_limits<qint64>::max()}};
    for (const NameEncoding encoding : {NameEncoding::Utf8, NameEncoding::Gb18030}) {
        wide.encoding = encoding;
        QString refusal;
        const std::optional<Manifest> parsed = Manifest::parse(wide.encode(), &refusal);
        ASSERT_TRUE(parsed) << refusal.toStdString();
        EXPECT_EQ(parsed->encoding, encoding);
        EXPECT_EQ(parsed->entries, wide.entries);
    }
    QByteArray altered = DocExample;
    altered[altered.size() - 1] = '\x01';
    EXPECT_NE(Manifest::hashOf(altered), example.hash());
}

TEST(Manifest, RefusesHostileManifestsWithAReason)
{
    const QByteArray name255 = QByteArray(255, 'n');
    struct Case {
        const char *what;
        QByteArray bytes;
        QString reason;
    };
    const QList<Case> cases = {
        {"absolute", rawFiles({{1, "/etc/passwd", 1}}), u"绝对路径"_s},
        {"dot dot", rawFiles({{0, "a"}, {1, "a/../x", 1}}), u"含有“..”"_s},
        {"dot dot alone", rawFiles({{0, ".."}}), u"含有“..”"_s},
        {"dot", rawFiles({{0, "a"}, {1, "a/./x", 1}}), u"含有“.”"_s},
        {"empty name", rawFiles({{0, "a"}, {1, "a//x", 1}}), u"空的名字"_s},
        {"trailing slash", rawFiles({{0, "a/"}}), u"空的名字"_s},
        {"backslash", rawFiles({{1, "a\\..\\x", 1}}), u"反斜杠"_s},
        {"line end", rawFiles({{1, "a\nb", 1}}), u"控制字符"_s},
        {"delete", rawFiles({{1, "a\x7f", 1}}), u"控制字符"_s},
        {"nul", rawFiles({{1, QByteArray("a\0b", 3), 1}}), u"控制字符"_s},
        {"256-byte name", rawFiles({{1, name255 + "n", 1}}), u"超过 255 字节"_s},
        {"256 UTF-8 bytes, 172 in GB18030", rawFiles({{1, QString(86, u'名').toUtf8(), 1}}), u"超过 255 字节"_s},
        {"duplicate", rawFiles({{0, "a"}, {1, "a/b", 1}, {1, "a/b", 1}}), u"出现了两次"_s},
        {"under a file", rawFiles({{1, "a", 1}, {1, "a/b", 1}}), u"位于一个文件之下"_s},
        {"unlisted folder", rawFiles({{1, "a/b", 1}}), u"没有在它之前列出"_s},
        {"folder listed after", rawFiles({{1, "a/b", 1}, {0, "a"}}), u"没有在它之前列出"_s},
        {"bad UTF-8", rawFiles({{1, "a\xff", 1}}), u"不是有效的 UTF-8"_s},
        {"overlong UTF-8", rawFiles({{1, "\xc0\xaf", 1}}), u"不是有效的 UTF-8"_s},
        {"cut UTF-8", rawFiles({{1, "\xe5\x81", 1}}), u"不是有效的 UTF-8"_s},
        {"UTF-8 surrogate", rawFiles({{1, "\xed\xa0\x80", 1}}), u"不是有效的 UTF-8"_s},
        {"cut GB18030", rawFiles({{1, "a\x81", 1}}, 1), u"不是有效的 GB18030"_s},
        {"bad GB18030", rawFiles({{1, "\x81\x30\x81", 1}}, 1), u"不是有效的 GB18030"_s},
        {"folder with a size", rawFiles({{0, "a", 5}}), u"大小却不为 0"_s},
        {"size past 2^62", rawFiles({{1, "a", (quint64(1) << 62) + 1}}), u"超出范围"_s},
        {"empty path", rawFiles({{1, "", 1}}), u"长度超出范围"_s},
        {"path past 4096", rawFiles({{1, QByteArray(4097, 'p'), 1}}), u"长度超出范围"_s},
        {"total too small", rawManifest(0, 1, 2, {{1, "a", 3}}), u"超过了总大小"_s},
        {"total too large", rawManifest(0, 1, 4, {{1, "a", 3}}), u"不符"_s},
        {"total past 2^62", rawManifest(0, 2, quint64(1) << 63, {{1, "a", quint64(1) << 62}, {1, "b", quint64(1) << 62}}),
         u"总大小超出范围"_s},
        {"count larger", rawManifest(0, 2, 3, {{1, "a", 3}}), u"不完整"_s},
        {"count zero", rawManifest(0, 0, 0, {}), u"条目数超出范围"_s},
        {"too many entries", rawManifest(0, Manifest::MaxEntries + 1, 0, {{0, "a"}}), u"条目数超出范围"_s},
        {"truncated", DocExample.chopped(1), u"不完整"_s},
        {"header only", DocExample.left(Manifest::HeaderSize - 1), u"不完整"_s},
        {"trailing byte", DocExample + '\0', u"多余的数据"_s},
        {"version 2", '\x02' + DocExample.mid(1), u"版本"_s},
        {"unknown encoding", DocExample.left(1) + '\x02' + DocExample.mid(2), u"编码未知"_s},
        {"unknown kind", rawFiles({{2, "a"}}), u"未知的条目类型"_s},
    };
    for (const Case &c : cases) {
        QString refusal;
        EXPECT_FALSE(Manifest::parse(c.bytes, &refusal)) << c.what;
        EXPECT_TRUE(refusal.contains(c.reason)) << c.what << ": " << refusal.toStdString();
        EXPECT_LE(refusal.size(), 200) << c.what;
        EXPECT_FALSE(std::any_of(refusal.cbegin(), refusal.cend(), [](QChar ch) { return ch.unicode() < 0x20; }))
            << c.what;
    }
    // The bounds themselves pass: a name of 255 bytes, 255 UTF-8 bytes written in GB18030. A
    // GB18030 character whose second byte is that of "\" is no backslash.
    EXPECT_TRUE(Manifest::parse(rawFiles({{1, name255, 1}}), nullptr));
    EXPECT_TRUE(Manifest::parse(rawFiles({{1, Gbk::encode(QString(85, u'名'), Gbk::Charset::Gb18030), 1}}, 1), nullptr));
    EXPECT_TRUE(Manifest::parse(rawFiles({{1, "\x81\x5c", 1}}, 1), nullptr));
}
