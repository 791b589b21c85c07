#include "fileset/SetDatagrams.h"

#include "secure/Envelope.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ManifestEntry::Kind;
using Action = SetAnswer::Action;
using Ranges = QList<QPair<quint32, quint32>>;

namespace {

const QByteArray SetId = QByteArray::fromHex("00112233445566778899aabbccddeeff");

Manifest manifestWithTopNames(const QStringList &names)
{
    Manifest m;
    for (const QString &name : names)
        m.entries << ManifestEntry{Kind::File, name, 10, 0};
    return m;
}

SetOffer sampleOffer()
{
    return SetOffer::describe(SetId, manifestWithTopNames({u"照片.jpg"_s, u"报告.doc"_s}), u"周末的照片"_s);
}

SetAnswer sampleAnswer()
{
    SetAnswer answer;
    answer.setId = SetId;
    answer.resumeIndex = 7;
    answer.resumeOffset = 1 << 20;
    answer.resumeHash = QByteArray(32, '\x5a');
    answer.ranges = {{0, 3}, {7, 2}, {20, 1}};
    return answer;
}

QByteArray be(quint64 value, int size)
{
    QByteArray out(size, '\0');
    for (int i = size - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xff);
    return out;
}

// bytes with size bytes at offset replaced by value.
QByteArray with(QByteArray bytes, int offset, quint64 value, int size)
{
    return bytes.replace(offset, size, be(value, size));
}

} // namespace

TEST(SetDatagrams, OffersDescribeTheirManifestAndRoundTrip)
{
    const QStringList names = {u"a"_s, u"b"_s, u"c"_s, u"d"_s, u"e"_s, u"f"_s};
    Manifest manifest = manifestWithTopNames(names);
    manifest.entries.insert(1, ManifestEntry{Kind::Folder, u"dir"_s, 0, 0});
    manifest.entries.insert(2, ManifestEntry{Kind::File, u"dir/inner"_s, 5, 0});
    for (const NameEncoding encoding : {NameEncoding::Utf8, NameEncoding::Gb18030}) {
        manifest.encoding = encoding;
        const SetOffer offer = SetOffer::describe(SetId, manifest, QString(100, u'名'));
        EXPECT_EQ(offer.entryCount, 8u);
        EXPECT_EQ(offer.fileCount, 7u);
        EXPECT_EQ(offer.totalBytes, 65);
        EXPECT_EQ(offer.topNames, QStringList({u"a"_s, u"dir"_s, u"b"_s, u"c"_s, u"d"_s}));
        EXPECT_EQ(offer.note, QString(encoding == NameEncoding::Utf8 ? 80 : 100, u'名'));
        const std::optional<SetOffer> parsed = SetOffer::parse(offer.encode());
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->encode(), offer.encode());
        EXPECT_EQ(parsed->note, offer.note);
        EXPECT_EQ(parsed->topNames, offer.topNames);
        EXPECT_TRUE(parsed->matches(manifest));
    }
    Manifest changed = manifest;
    changed.entries[3].modifiedMs = 1;
    EXPECT_FALSE(SetOffer::describe(SetId, manifest, {}).matches(changed));

    // The largest offer: five top names of 100 bytes (cut on a character) and a full note.
    const SetOffer largest = SetOffer::describe(
        SetId, manifestWithTopNames({QString(40, u'名'), u"1"_s + QString(99, u'x'), u"2"_s + QString(120, u'x'),
                                     u"3"_s + QString(99, u'x'), u"4"_s + QString(99, u'x')}),
        QString(300, u'注'));
    EXPECT_EQ(largest.topNames.first(), QString(33, u'名'));
    EXPECT_EQ(largest.topNames.at(2).size(), 100);
    EXPECT_EQ(largest.encode().size(), 16 + 1 + 4 + 4 + 8 + 32 + 2 + 240 + 1 + 1 + 99 + 4 * 101);
    EXPECT_LT(largest.encode().size(), Envelope::MaxInnerSize);
    EXPECT_TRUE(SetOffer::parse(largest.encode()));
}

TEST(SetDatagrams, AnswersRoundTrip)
{
    SetAnswer noResume = sampleAnswer();
    noResume.resumeIndex = SetAnswer::NoResume;
    noResume.resumeOffset = 0;
    noResume.resumeHash.clear();
    SetAnswer cancelled;
    cancelled.setId = SetId;
    cancelled.action = Action::Cancelled;
    SetAnswer paused = cancelled;
    paused.action = Action::Paused;
    for (const SetAnswer &answer : {sampleAnswer(), noResume, cancelled, paused}) {
        const std::optional<SetAnswer> parsed = SetAnswer::parse(answer.encode());
        ASSERT_TRUE(parsed);
        EXPECT_EQ(parsed->setId, answer.setId);
        EXPECT_EQ(parsed->action, answer.action);
        EXPECT_EQ(parsed->resumeIndex, answer.resumeIndex);
        EXPECT_EQ(parsed->resumeOffset, answer.resumeOffset);
        EXPECT_EQ(parsed->resumeHash, answer.resumeHash);
        EXPECT_EQ(parsed->ranges, answer.ranges);
    }
    EXPECT_EQ(cancelled.encode(), SetId + '\x02');
    EXPECT_EQ(noResume.encode().mid(17, 44), QByteArray::fromHex("ffffffff") + QByteArray(40, '\0'));
}

TEST(SetDatagrams, RefusesMalformedOffersAndAnswers)
{
    const QByteArray offer = sampleOffer().encode();
    // Offsets: 16 encoding, 17 entries, 21 files, 25 total, 33 hash, 65 note length, 67 note.
    const int topCount = 67 + int(u"周末的照片"_s.toUtf8().size());
    const QByteArray answer = sampleAnswer().encode();
    // Offsets: 16 action, 17 resume entry, 21 offset, 29 hash, 61 range count, 63 ranges.
    const QList<QPair<const char *, QByteArray>> offers = {
        {"empty", {}},
        {"set id only", SetId},
        {"truncated", offer.chopped(1)},
        {"trailing byte", offer + 'x'},
        {"encoding 2", with(offer, 16, 2, 1)},
        {"no entries", with(offer, 17, 0, 4)},
        {"too many entries", with(offer, 17, Manifest::MaxEntries + 1, 4)},
        {"more files than entries", with(offer, 21, 3, 4)},
        {"bytes without files", with(with(offer, 21, 0, 4), 17, 2, 4)},
        {"total past 2^62", with(offer, 25, (quint64(1) << 62) + 1, 8)},
        {"note too long", offer.left(65) + be(241, 2) + QByteArray(241, 'n') + offer.mid(topCount)},
        {"note not UTF-8", offer.left(65) + be(1, 2) + "\xff" + offer.mid(topCount)},
        {"six top names", with(offer, topCount, 6, 1)},
        {"more top names than entries", offer.left(topCount) + be(3, 1) + QByteArray(3, '\x01')},
        {"empty top name", offer.left(topCount) + be(1, 1) + be(0, 1)},
        {"top name of 101 bytes", offer.left(topCount) + be(1, 1) + be(101, 1) + QByteArray(101, 'x')},
        {"top name with a slash", offer.left(topCount) + be(1, 1) + be(3, 1) + "a/b"},
        {"top name dot dot", offer.left(topCount) + be(1, 1) + be(2, 1) + ".."},
        {"top name with a line end", offer.left(topCount) + be(1, 1) + be(2, 1) + "a\n"},
    };
    for (const auto &[what, bytes] : offers)
        EXPECT_FALSE(SetOffer::parse(bytes)) << what;
    const QList<QPair<const char *, QByteArray>> answers = {
        {"empty", {}},
        {"set id short", answer.left(15)},
        {"no action", SetId},
        {"action 0", SetId + be(0, 1)},
        {"action 4", SetId + be(4, 1)},
        {"cancel with more", SetId + be(2, 1) + "x"},
        {"truncated", answer.chopped(1)},
        {"trailing byte", answer + 'x'},
        {"no ranges", answer.left(61) + be(0, 2)},
        {"101 ranges", answer.left(61) + be(101, 2) + QByteArray(101 * 8, '\x01')},
        {"empty range", with(answer, 67, 0, 4)},
        {"overlapping", with(answer, 71, 2, 4)},
        {"unsorted", answer.left(61) + be(2, 2) + be(7, 4) + be(1, 4) + be(0, 4) + be(1, 4)},
        {"past the last entry", answer.left(61) + be(1, 2) + be(Manifest::MaxEntries - 1, 4) + be(2, 4)},
        {"overflowing range", answer.left(61) + be(1, 2) + be(7, 4) + be(0xffffffff, 4)},
        {"offset past 2^62", with(answer, 21, (quint64(1) << 62) + 1, 8)},
        {"resume entry not wanted", with(answer, 17, 5, 4)},
        {"no resume with an offset", with(with(answer, 17, 0xffffffff, 4), 29, 0, 32)},
        {"no resume with a hash", with(with(answer, 17, 0xffffffff, 4), 21, 0, 8)},
    };
    for (const auto &[what, bytes] : answers)
        EXPECT_FALSE(SetAnswer::parse(bytes)) << what;
}

TEST(SetDatagrams, RangesOfWantedEntries)
{
    QList<quint32> evens;
    for (quint32 i = 0; i < 300; i += 2)
        evens << i;
    const QList<QPair<QList<quint32>, Ranges>> cases = {
        {{}, {}},
        {{4}, {{4, 1}}},
        {{0, 1, 2, 5, 7, 8, 0xfffffffe}, {{0, 3}, {5, 1}, {7, 2}, {0xfffffffe, 1}}},
        {{1, 1, 2, 2}, {{1, 2}}},
    };
    for (const auto &[wanted, ranges] : cases)
        EXPECT_EQ(SetAnswer::rangesOf(wanted), ranges);
    const Ranges first = SetAnswer::rangesOf(evens);
    ASSERT_EQ(first.size(), SetAnswer::MaxRanges);
    EXPECT_EQ(first.last(), qMakePair(quint32(198), quint32(1)));
}

TEST(SetDatagrams, ResumeHashCoversTheLastMebibyteBeforeTheOffset)
{
    QTemporaryDir dir;
    const QString path = dir.path() + u"/part"_s;
    QByteArray content;
    for (int i = 0; i < 1500 * 1024; ++i)
        content += char(i * 7 + i / 251);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly) && file.write(content) == content.size());
    file.close();
    const qint64 all = content.size();
    EXPECT_EQ(resumeHash(path, all), Manifest::hashOf(content.right(1 << 20)));
    EXPECT_EQ(resumeHash(path, 10), Manifest::hashOf(content.left(10)));
    EXPECT_EQ(resumeHash(path, 0), Manifest::hashOf({}));
    EXPECT_EQ(resumeHash(path, all + 1), QByteArray());
    EXPECT_EQ(resumeHash(path, -1), QByteArray());
    ASSERT_EQ(::symlink(QFile::encodeName(path).constData(), QFile::encodeName(path + u"-link"_s).constData()), 0);
    EXPECT_EQ(resumeHash(path + u"-link"_s, 10), QByteArray());

    const QByteArray id = newSetId();
    EXPECT_EQ(id.size(), SetOffer::SetIdSize);
    EXPECT_NE(newSetId(), id);
}
