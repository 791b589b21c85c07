#include "fileset/SetWalk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;
using Kind = ManifestEntry::Kind;

namespace {

void writeFile(const QString &path, const QByteArray &content)
{
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
    file.write(content);
}

void setModified(const QString &path, qint64 ms)
{
    const timespec times[2] = {{0, UTIME_OMIT}, {time_t(ms / 1000), long(ms % 1000) * 1000000}};
    ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), times, AT_SYMLINK_NOFOLLOW), 0);
}

} // namespace

TEST(SetWalk, ListsFoldersBeforeTheirSortedContentsAndSkipsLinks)
{
    QTemporaryDir dir;
    const QString top = dir.path() + u"/假期"_s;
    ASSERT_TRUE(QDir().mkpath(top + u"/空"_s) && QDir().mkpath(top + u"/子"_s));
    writeFile(top + u"/b.txt"_s, "bbb");
    writeFile(top + u"/a 😀.jpg"_s, "aaaaa");
    writeFile(top + u"/子/c"_s, "");
    writeFile(dir.path() + u"/note.txt"_s, "note");
    setModified(top + u"/a 😀.jpg"_s, 1796083200123);
    ASSERT_EQ(::symlink("/etc", QFile::encodeName(top + u"/link"_s).constData()), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(top + u"/pipe"_s).constData(), 0600), 0);
    ASSERT_EQ(::symlink("/etc/hostname", QFile::encodeName(dir.path() + u"/chosen-link"_s).constData()), 0);

    QString error;
    const std::optional<LocalSet> set = walkSet(
        {top, dir.path() + u"/note.txt"_s, dir.path() + u"/chosen-link"_s}, NameEncoding::Gb18030, &error);
    ASSERT_TRUE(set) << error.toStdString();
    const QList<QPair<Kind, QString>> expected = {
        {Kind::Folder, u"假期"_s}, {Kind::File, u"假期/a 😀.jpg"_s}, {Kind::File, u"假期/b.txt"_s},
        {Kind::Folder, u"假期/子"_s}, {Kind::File, u"假期/子/c"_s}, {Kind::Folder, u"假期/空"_s},
        {Kind::File, u"note.txt"_s}};
    ASSERT_EQ(set->manifest.entries.size(), expected.size());
    ASSERT_EQ(set->localPaths.size(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const ManifestEntry &e = set->manifest.entries.at(i);
        EXPECT_EQ(e.kind, expected.at(i).first) << i;
        EXPECT_EQ(e.path, expected.at(i).second) << i;
        EXPECT_EQ(set->localPaths.at(i), dir.path() + u'/' + e.path) << i;
        EXPECT_EQ(e.size, e.isFolder() ? 0 : QFileInfo(set->localPaths.at(i)).size()) << i;
    }
    EXPECT_EQ(set->manifest.entries.at(1).modifiedMs, 1796083200123);
    EXPECT_EQ(set->manifest.encoding, NameEncoding::Gb18030);
    EXPECT_EQ(set->manifest.totalBytes(), 12);
    EXPECT_EQ(set->skippedLinks, 2);
    EXPECT_EQ(set->skippedOther, 1);
}

TEST(SetWalk, RefusesWhatTheReceiverWouldRefuseAndSaysWhich)
{
    QTemporaryDir dir;
    const QString one = dir.path() + u"/one"_s;
    const QString two = dir.path() + u"/two"_s;
    ASSERT_TRUE(QDir().mkpath(one + u"/x"_s) && QDir().mkpath(two));
    writeFile(two + u"/x"_s, "x");
    // A folder holding one empty file; the file's name is bytes, as the system takes them.
    const auto folderWith = [&](const QString &name, const QByteArray &fileName) {
        const QString folder = dir.path() + u'/' + name;
        QDir().mkpath(folder);
        ::close(::open(QFile::encodeName(folder).append('/').append(fileName).constData(), O_CREAT | O_WRONLY, 0600));
        return folder;
    };
    ASSERT_EQ(::symlink("/etc", QFile::encodeName(dir.path() + u"/link"_s).constData()), 0);
    struct Case {
        const char *what;
        QStringList chosen;
        NameEncoding encoding;
        QString error;
    };
    QList<Case> cases = {
        {"same name twice", {one + u"/x"_s, two + u"/x"_s}, NameEncoding::Utf8, u"同名的项目“x”"_s},
        {"backslash", {folderWith(u"b"_s, "a\\b")}, NameEncoding::Utf8, u"“b/a\\b”不能发送"_s},
        {"line end", {folderWith(u"c"_s, "a\nb")}, NameEncoding::Utf8, u"“c/a\uFFFDb”不能发送，因为它的路径含有控制字符"_s},
        {"no UTF-8", {folderWith(u"d"_s, "a\xff")}, NameEncoding::Utf8, u"“d/a\uFFFD”不能发送，因为它的名字不是有效的 UTF-8"_s},
        {"direction mark in GB18030", {folderWith(u"e"_s, "a\u202eb")}, NameEncoding::Gb18030, u"无法用对方的编码表示"_s},
        {"nothing but links", {dir.path() + u"/link"_s}, NameEncoding::Utf8, u"没有可以发送的文件或文件夹"_s},
        {"missing", {dir.path() + u"/missing"_s}, NameEncoding::Utf8, u"无法读取"_s},
    };
    if (::geteuid() != 0) { // the superuser reads every folder
        const QString closed = folderWith(u"f"_s, "inside");
        ::chmod(QFile::encodeName(closed).constData(), 0);
        cases.append({"unreadable folder", {closed}, NameEncoding::Utf8, u"无法读取文件夹"_s});
    }
    for (const Case &c : cases) {
        QString error;
        EXPECT_FALSE(walkSet(c.chosen, c.encoding, &error)) << c.what;
        EXPECT_TRUE(error.contains(c.error)) << c.what << ": " << error.toStdString();
    }
    // Qt cannot name a file whose name is no UTF-8 to remove it.
    ::unlink(QByteArray(QFile::encodeName(dir.path()) + "/d/a\xff").constData());
}
