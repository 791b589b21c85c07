#include "fileset/SetPlacement.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ManifestEntry::Kind;

namespace {

const QByteArray SetId = QByteArray::fromHex("0123456789abcdef0011223344556677");
const QString PartPrefix = u".01234567-"_s;
const qint64 December = 1796083200000;

// 0 假期/  1 假期/a.jpg (5 bytes)  2 假期/空/  3 note.txt (4 bytes)  4 README (1 byte)
Manifest sampleManifest()
{
    Manifest m;
    m.entries = {{Kind::Folder, u"假期"_s, 0, December},
                 {Kind::File, u"假期/a.jpg"_s, 5, December},
                 {Kind::Folder, u"假期/空"_s, 0, December},
                 {Kind::File, u"note.txt"_s, 4, December - 1},
                 {Kind::File, u"README"_s, 1, 0}};
    return m;
}

QByteArray contentOf(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<unreadable>");
}

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

// Writes content into the entry's temporary file from offset; the error when it cannot.
QString writePart(SetPlacement &placement, int index, qint64 offset, const QByteArray &content)
{
    QString error;
    const Descriptor part = placement.openPart(index, offset, &error);
    if (!part.isOpen())
        return error.isEmpty() ? u"no file and no error"_s : error;
    if (::write(part.get(), content.constData(), size_t(content.size())) != content.size())
        return u"write failed"_s;
    return {};
}

QString place(SetPlacement &placement, int index, const QByteArray &content)
{
    const QString error = writePart(placement, index, 0, content);
    EXPECT_TRUE(error.isEmpty()) << error.toStdString();
    QString finishError;
    const QString placed = placement.finish(index, &finishError);
    EXPECT_FALSE(placed.isEmpty()) << finishError.toStdString();
    return placed;
}

QStringList namesIn(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

} // namespace

TEST(SetPlacement, PlacesFoldersAndFilesWithTheirTimes)
{
    QTemporaryDir root;
    SetPlacement placement(root.path(), SetId, sampleManifest());
    QString error;
    ASSERT_TRUE(placement.makeFolders(&error)) << error.toStdString();
    EXPECT_TRUE(QFileInfo(root.path() + u"/假期/空"_s).isDir());
    EXPECT_EQ(placement.tempPath(1), root.path() + u"/假期/"_s + PartPrefix + u"1.part"_s);
    EXPECT_EQ(placement.tempPath(2), QString());

    EXPECT_EQ(place(placement, 1, "12345"), root.path() + u"/假期/a.jpg"_s);
    EXPECT_EQ(place(placement, 3, "note"), root.path() + u"/note.txt"_s);
    EXPECT_EQ(contentOf(root.path() + u"/假期/a.jpg"_s), "12345");
    EXPECT_EQ(QFileInfo(root.path() + u"/假期/a.jpg"_s).lastModified().toMSecsSinceEpoch(), December);
    EXPECT_EQ(QFileInfo(root.path() + u"/note.txt"_s).lastModified().toMSecsSinceEpoch(), December - 1);
    EXPECT_EQ(namesIn(root.path()), QStringList({u"note.txt"_s, u"假期"_s}));
    EXPECT_EQ(namesIn(root.path() + u"/假期"_s), QStringList({u"a.jpg"_s, u"空"_s}));

    // What the peer's stream may name: no entry, a folder, an incomplete file.
    for (const int index : {-1, 0, 2, 5, 1 << 30})
        EXPECT_FALSE(placement.openPart(index, 0, &error).isOpen()) << index;
    ASSERT_TRUE(writePart(placement, 4, 0, "").isEmpty());
    EXPECT_TRUE(placement.finish(4, &error).isEmpty());
    EXPECT_TRUE(error.contains(u"不完整"_s)) << error.toStdString();
}

TEST(SetPlacement, ClashesGetNumberedNamesAndWhatExistsStaysUntouched)
{
    QTemporaryDir root;
    const QString longStem = QString(83, u'长') + u"ab"_s; // 251 bytes: with ".jpg" the longest name
    Manifest manifest = sampleManifest();
    manifest.entries << ManifestEntry{Kind::File, longStem + u".jpg"_s, 1, 0};
    ASSERT_TRUE(QDir().mkpath(root.path() + u"/假期"_s));
    writeFile(root.path() + u"/假期/a.jpg"_s, "old");
    writeFile(root.path() + u"/note.txt"_s, "old");
    writeFile(root.path() + u"/note (2).txt"_s, "old");
    ASSERT_TRUE(QDir().mkpath(root.path() + u"/README"_s));
    writeFile(root.path() + u'/' + longStem + u".jpg"_s, "old");

    SetPlacement placement(root.path(), SetId, manifest);
    QString error;
    ASSERT_TRUE(placement.makeFolders(&error)) << error.toStdString();
    EXPECT_EQ(placement.topNames(), (QHash<QString, QString>{{u"假期"_s, u"假期 (2)"_s}}));
    EXPECT_EQ(place(placement, 1, "12345"), root.path() + u"/假期 (2)/a.jpg"_s);
    EXPECT_EQ(place(placement, 3, "note"), root.path() + u"/note (3).txt"_s);
    EXPECT_EQ(place(placement, 4, "r"), root.path() + u"/README (2)"_s);
    const QString longPlaced = place(placement, 5, "l");
    EXPECT_EQ(longPlaced, root.path() + u'/' + QString(82, u'长') + u" (2).jpg"_s);
    EXPECT_LE(QFileInfo(longPlaced).fileName().toUtf8().size(), Manifest::MaxNameBytes);

    for (const QString &old : QStringList{u"/假期/a.jpg"_s, u"/note.txt"_s, u"/note (2).txt"_s, u'/' + longStem + u".jpg"_s})
        EXPECT_EQ(contentOf(root.path() + old), "old") << old.toStdString();
    EXPECT_TRUE(QFileInfo(root.path() + u"/README"_s).isDir());
    EXPECT_EQ(namesIn(root.path() + u"/假期"_s), QStringList({u"a.jpg"_s}));

    // A resume takes the folders it placed before, and finds no clash in them.
    SetPlacement again(root.path(), SetId, manifest);
    again.setTopNames(placement.topNames());
    ASSERT_TRUE(again.makeFolders(&error)) << error.toStdString();
    EXPECT_EQ(again.tempPath(1), root.path() + u"/假期 (2)/"_s + PartPrefix + u"1.part"_s);
}

TEST(SetPlacement, LinksBelowTheRootAreNeverFollowed)
{
    struct Case {
        const char *what;
        QString link; // planted below root, pointing at the outside folder or its file
        bool toFile;
        QHash<QString, QString> topNames;
        bool foldersFail; // else the part cannot be opened
    };
    const QList<Case> cases = {
        {"placed top folder", u"假期"_s, false, {{u"假期"_s, u"假期"_s}}, true},
        {"inner folder", u"假期/空"_s, false, {{u"假期"_s, u"假期"_s}}, true},
        {"temporary file", PartPrefix + u"3.part"_s, true, {}, false},
        {"temporary file in a folder", u"假期/"_s + PartPrefix + u"1.part"_s, true, {{u"假期"_s, u"假期"_s}}, false},
    };
    for (const Case &c : cases) {
        QTemporaryDir root;
        QTemporaryDir outside;
        const QString outsideFile = outside.path() + u"/kept"_s;
        writeFile(outsideFile, "kept");
        const int index = c.link.contains(u'/') ? 1 : 3;
        if (c.link.startsWith(u"假期/"_s)) {
            ASSERT_TRUE(QDir().mkpath(root.path() + u"/假期"_s));
        }
        ASSERT_EQ(::symlink(QFile::encodeName(c.toFile ? outsideFile : outside.path()).constData(),
                            QFile::encodeName(root.path() + u'/' + c.link).constData()),
                  0);
        SetPlacement placement(root.path(), SetId, sampleManifest());
        placement.setTopNames(c.topNames);
        QString error;
        const bool made = placement.makeFolders(&error);
        EXPECT_EQ(made, !c.foldersFail) << c.what << ": " << error.toStdString();
        if (made) {
            EXPECT_EQ(placement.heldBytes(index), 0) << c.what;
            EXPECT_FALSE(writePart(placement, index, 0, "hostile").isEmpty()) << c.what;
        }
        EXPECT_EQ(namesIn(outside.path()), QStringList({u"kept"_s})) << c.what;
        EXPECT_EQ(contentOf(outsideFile), "kept") << c.what;
    }

    // A pipe in place of a temporary file fails at once rather than waiting for a reader.
    QTemporaryDir root;
    ASSERT_EQ(::mkfifo(QFile::encodeName(root.path() + u'/' + PartPrefix + u"3.part"_s).constData(), 0600), 0);
    SetPlacement placement(root.path(), SetId, sampleManifest());
    QString error;
    ASSERT_TRUE(placement.makeFolders(&error));
    EXPECT_FALSE(writePart(placement, 3, 0, "x").isEmpty());
}

TEST(SetPlacement, ResumesFromTheHeldBytesAndDiscardsOnlyItsParts)
{
    QTemporaryDir root;
    QString error;
    QHash<QString, QString> topNames;
    {
        SetPlacement placement(root.path(), SetId, sampleManifest());
        ASSERT_TRUE(placement.makeFolders(&error));
        EXPECT_EQ(placement.heldBytes(1), 0);
        ASSERT_EQ(writePart(placement, 1, 0, "123").toStdString(), "");
        EXPECT_EQ(placement.heldBytes(1), 3);
        topNames = placement.topNames();
    }
    SetPlacement placement(root.path(), SetId, sampleManifest());
    placement.setTopNames(topNames);
    ASSERT_TRUE(placement.makeFolders(&error));
    EXPECT_EQ(placement.heldBytes(1), 3);
    EXPECT_FALSE(writePart(placement, 1, 4, "5").isEmpty());
    ASSERT_EQ(writePart(placement, 1, 2, "3").toStdString(), ""); // the third byte again: cut, then written
    EXPECT_EQ(placement.heldBytes(1), 3);
    ASSERT_EQ(writePart(placement, 1, 3, "45").toStdString(), "");
    EXPECT_EQ(contentOf(placement.tempPath(1)), "12345");
    EXPECT_EQ(placement.finish(1, &error), root.path() + u"/假期/a.jpg"_s) << error.toStdString();
    EXPECT_EQ(contentOf(root.path() + u"/假期/a.jpg"_s), "12345");

    // A part longer than its entry is no resume.
    writeFile(placement.tempPath(4), "too long");
    EXPECT_EQ(placement.heldBytes(4), 0);

    ASSERT_EQ(writePart(placement, 3, 0, "no").toStdString(), "");
    writeFile(root.path() + u"/.89abcdef-3.part"_s, "another set's");
    placement.discardParts();
    EXPECT_EQ(namesIn(root.path()), QStringList({u".89abcdef-3.part"_s, u"假期"_s}));
    EXPECT_EQ(namesIn(root.path() + u"/假期"_s), QStringList({u"a.jpg"_s, u"空"_s}));
    EXPECT_GT(SetPlacement::freeBytes(root.path()), 0);
    EXPECT_EQ(SetPlacement::freeBytes(root.path() + u"/missing"_s), -1);
}
