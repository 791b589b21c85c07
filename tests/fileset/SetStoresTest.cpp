// The sets kept across restarts: what is read back, a journal cut short by a crash, old sets
// forgotten with their unfinished files, and the bound on kept sets.
#include "fileset/SetPlacement.h"
#include "fileset/SetReceiver.h"
#include "fileset/SetStores.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ManifestEntry::Kind;

namespace {

const QByteArray SetId = QByteArray::fromHex("00112233445566778899aabbccddeeff");
constexpr qint64 Now = 1796083200000;

Manifest twoFiles()
{
    Manifest m;
    m.entries = {{Kind::Folder, u"假期"_s, 0, Now}, {Kind::File, u"假期/a.jpg"_s, 5, Now}, {Kind::File, u"b.txt"_s, 3, Now}};
    return m;
}

TEST(SetStores, SetsReadBackAsTheyWereSavedAndPrivately)
{
    QTemporaryDir dir;
    SetStore store(dir.filePath(u"filesets"_s));
    OutgoingSet out{SetId, u"10.0.0.2"_s, QByteArray(32, 'k'), Now, u"备注"_s, twoFiles(),
                    {u"/home/a/假期"_s, u"/home/a/假期/a.jpg"_s, u"/home/a/b.txt"_s}};
    QString error;
    ASSERT_TRUE(store.saveOutgoing(out, &error)) << error.toStdString();
    const std::optional<OutgoingSet> back = store.outgoing(SetId);
    ASSERT_TRUE(back);
    EXPECT_EQ(back->peerKey, out.peerKey);
    EXPECT_EQ(back->note, out.note);
    EXPECT_EQ(back->localPaths, out.localPaths);
    EXPECT_EQ(back->manifest.encode(), out.manifest.encode());

    IncomingSet in{SetId, u"10.0.0.3"_s, QByteArray(32, 'p'), Now, "offer", dir.filePath(u"in"_s),
                   {{u"假期"_s, u"假期 (2)"_s}}, twoFiles().encode()};
    ASSERT_TRUE(store.saveIncoming(in, &error)) << error.toStdString();
    const std::optional<IncomingSet> read = store.incoming(SetId);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->topNames, in.topNames);
    EXPECT_EQ(read->manifest, in.manifest);
    EXPECT_EQ(store.outgoingIds(), QList<QByteArray>{SetId});
    EXPECT_EQ(store.incomingIds(), QList<QByteArray>{SetId});

    struct stat info {};
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(u"filesets"_s)).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(QFile::encodeName(dir.filePath(u"filesets/out-"_s + QString::fromLatin1(SetId.toHex()))).constData(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    // A damaged state reads as no set, and never as another one.
    QFile damaged(dir.filePath(u"filesets/out-"_s + QString::fromLatin1(SetId.toHex())));
    ASSERT_TRUE(damaged.open(QIODevice::ReadWrite));
    damaged.resize(damaged.size() / 2);
    damaged.close();
    EXPECT_FALSE(store.outgoing(SetId));
}

TEST(SetStores, AJournalCutShortByACrashKeepsEveryWholeIndex)
{
    QTemporaryDir dir;
    SetStore store(dir.path());
    QString error;
    ASSERT_TRUE(store.saveIncoming(IncomingSet{SetId, {}, {}, Now, {}, dir.path(), {}, {}}, &error));
    QFile journal(store.finishedJournal(SetId));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write(QByteArray::fromHex("00000001" "00000007" "0000"));
    journal.close();
    EXPECT_EQ(store.finished(SetId), (QSet<quint32>{1, 7}));
}

TEST(SetStores, SetsPastTheirTimeGoWithTheirUnfinishedFilesAndFinishedFilesStay)
{
    QTemporaryDir dir;
    SetStore store(dir.filePath(u"filesets"_s));
    const QString root = dir.filePath(u"in"_s);
    QDir().mkpath(root);
    SetPlacement placement(root, SetId, twoFiles());
    QString error;
    ASSERT_TRUE(placement.makeFolders(&error)) << error.toStdString();
    Descriptor part = placement.openPart(2, 0, &error);
    ASSERT_TRUE(part.isOpen());
    ASSERT_EQ(::write(part.get(), "bb", 2), 2);
    part.reset();
    QFile finished(root + u"/假期/kept.jpg"_s);
    ASSERT_TRUE(finished.open(QIODevice::WriteOnly));
    finished.close();

    const QByteArray young = QByteArray(15, '\0') + char(1);
    ASSERT_TRUE(store.saveIncoming(IncomingSet{SetId, {}, {}, Now - SetStore::KeepMs - 1, {}, root,
                                               placement.topNames(), twoFiles().encode()}, &error));
    ASSERT_TRUE(store.saveIncoming(IncomingSet{young, {}, {}, Now - 1000, {}, root, {}, {}}, &error));
    ASSERT_TRUE(store.saveOutgoing(OutgoingSet{SetId, {}, {}, Now - SetStore::KeepMs - 1, {}, twoFiles(),
                                               {u"/x"_s, u"/x/a"_s, u"/b"_s}}, &error));
    store.removeExpired(Now);
    EXPECT_EQ(store.incomingIds(), QList<QByteArray>{young});
    EXPECT_TRUE(store.outgoingIds().isEmpty());
    EXPECT_FALSE(QFile::exists(placement.tempPath(2))) << "the unfinished file went with its set";
    EXPECT_TRUE(QFile::exists(root + u"/假期/kept.jpg"_s));
}

TEST(SetStores, NoMoreThanMaxSetsAreKeptInEachDirection)
{
    QTemporaryDir dir;
    SetStore store(dir.path());
    QString error;
    for (int i = 0; i < SetStore::MaxSets; ++i) {
        QByteArray id(16, '\0');
        id[14] = char(i >> 8);
        id[15] = char(i);
        ASSERT_TRUE(store.saveOutgoing(OutgoingSet{id, {}, {}, Now, {}, twoFiles(), {u"/x"_s, u"/x/a"_s, u"/b"_s}}, &error));
    }
    EXPECT_FALSE(store.saveOutgoing(OutgoingSet{QByteArray(16, 'z'), {}, {}, Now, {}, twoFiles(), {u"/x"_s, u"/x/a"_s, u"/b"_s}},
                                    &error));
    EXPECT_TRUE(error.contains(u"256"_s)) << error.toStdString();
    // A set already kept may still be saved again.
    EXPECT_TRUE(store.saveOutgoing(OutgoingSet{QByteArray(16, '\0'), {}, {}, Now, {}, twoFiles(), {u"/x"_s, u"/x/a"_s, u"/b"_s}},
                                   &error));
}

// The program ended after a file was noted as finished and before it was renamed into place, or
// with a note whose file is short: the next resume puts the first in place and asks for the
// second again.
TEST(SetStores, AFileNotedButNotYetInPlaceIsPutThereAtTheNextResume)
{
    QTemporaryDir dir;
    SetStore store(dir.filePath(u"filesets"_s));
    const QString root = dir.filePath(u"in"_s);
    QDir().mkpath(root);
    const Manifest manifest = twoFiles();
    SetPlacement placement(root, SetId, manifest);
    QString error;
    ASSERT_TRUE(placement.makeFolders(&error)) << error.toStdString();
    for (const auto &[index, bytes] : {std::pair{1, QByteArray("aaaaa")}, std::pair{2, QByteArray("b")}}) {
        const Descriptor part = placement.openPart(index, 0, &error);
        ASSERT_TRUE(part.isOpen());
        ASSERT_EQ(::write(part.get(), bytes.constData(), size_t(bytes.size())), bytes.size());
    }
    const IncomingSet set{SetId, {}, {}, Now, {}, root, placement.topNames(), manifest.encode()};
    ASSERT_TRUE(store.saveIncoming(set, &error));
    QFile journal(store.finishedJournal(SetId));
    ASSERT_TRUE(journal.open(QIODevice::WriteOnly));
    journal.write(QByteArray::fromHex("00000001" "00000002"));
    journal.close();

    EXPECT_EQ(SetReceiver::placedEntries(store, set), QSet<quint32>{1});
    EXPECT_TRUE(QFileInfo(root + u"/假期/a.jpg"_s).isFile());
    EXPECT_FALSE(QFile::exists(placement.tempPath(1)));
    EXPECT_TRUE(QFile::exists(placement.tempPath(2))) << "kept, to go on from";
    EXPECT_EQ(SetReceiver::placedEntries(store, set), QSet<quint32>{1}) << "the same again, nothing placed twice";
    EXPECT_FALSE(QFile::exists(root + u"/假期/a (2).jpg"_s));
}

} // namespace
