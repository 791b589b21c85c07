#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/IniFile.h"
#include "harness/TempDir.h"
#include "tests/support/ScriptedPrompts.h"

#include <QDir>
#include <QElapsedTimer>
#include <QSaveFile>

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

struct stat statOf(const QString &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(QFile::encodeName(path).constData(), &info), 0);
    return info;
}

qint64 ns(const timespec &t) { return qint64(t.tv_sec) * 1000000000 + t.tv_nsec; }

// Waits (at most a second) until the kernel's clock for file times has moved past the file's
// last status change, so that a change made now cannot carry the same status-change time.
bool fileClockMovesPast(const QString &path)
{
    const qint64 changed = ns(statOf(path).st_ctim);
    QElapsedTimer spent;
    spent.start();
    timespec now{};
    do {
        clock_gettime(CLOCK_REALTIME_COARSE, &now);
        if (spent.elapsed() > 1000)
            return false;
    } while (ns(now) <= changed);
    return true;
}

// Rewrites the file in place (same inode) with bytes, then puts its modification time back to
// what it was to the nanosecond: what an editor's save within the same second looks like at
// its worst. Only the status-change time tells the two versions apart.
void rewriteInPlaceKeepingTheTime(const QString &path, const QByteArray &bytes)
{
    const struct stat before = statOf(path);
    const int fd = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), ssize_t(bytes.size()));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(::futimens(fd, times), 0);
    ::close(fd);
    const struct stat after = statOf(path);
    ASSERT_EQ(after.st_ino, before.st_ino);
    ASSERT_EQ(after.st_size, before.st_size);
    ASSERT_EQ(ns(after.st_mtim), ns(before.st_mtim));
}

// Replaces the file by a new one, as another program saving through a temporary file does.
void replaceFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    ASSERT_TRUE(file.commit());
}

class ContactStoreCache : public ::testing::Test {
protected:
    ContactStoreCache() { dir.write(u"myinfo.ini"_s, "[MainSection]\r\nName=me\r\n"); }
    QString path() const { return dir.file(u"myinfo.ini"_s); }
    static QByteArray friendFile(const char *ip)
    {
        return QByteArray("[UserSection]\r\nCount=1\r\n1=[1]Bob\r\n[IpSection]\r\n1=") + ip + "\r\n";
    }

    TempDir dir;
    ScriptedPrompts prompts;
    ContactStore store{dir.path(), prompts};
};

} // namespace

TEST_F(ContactStoreCache, AWriteThroughTheStoreIsSeenAtOnce)
{
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString()); // parsed and kept
    ASSERT_TRUE(store.adduser("Bob", u"10.0.0.5"_s, 1));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), u"[1]Bob"_s);
    store.ban(u"10.0.0.9"_s);
    EXPECT_TRUE(store.isBanned(u"10.0.0.9"_s));
    EXPECT_TRUE(store.deleteSelected(u"[1]Bob"_s));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
    store.setNickname(u"小明"_s);
    EXPECT_EQ(store.nickname(), u"小明"_s);
    // Another store on the same file (the settings window saves the name through its own).
    ContactStore(dir.path(), prompts).setNickname(u"小红"_s);
    EXPECT_EQ(store.nickname(), u"小红"_s);
    store.openAndReset();
    EXPECT_TRUE(store.buddyEntries().isEmpty());
    EXPECT_FALSE(store.isBanned(u"10.0.0.9"_s));
}

TEST_F(ContactStoreCache, AFileReplacedByAnotherProgramIsSeenAtTheNextLookUp)
{
    ASSERT_TRUE(store.adduser("Bob", u"10.0.0.5"_s, 1));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), u"[1]Bob"_s);
    replaceFile(path(), "[UserSection]\r\nCount=2\r\n2=[2]Al\r\n[IpSection]\r\n2=10.0.0.5\r\n");
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), u"[2]Al"_s);
    QFile::remove(path());
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
    EXPECT_EQ(store.nickname(), QString());
    // A folder where the file was reads as no file, and stays so.
    ASSERT_TRUE(QDir(dir.path()).mkdir(u"myinfo.ini"_s));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
}

TEST_F(ContactStoreCache, AnEditInPlaceOfTheSameSizeAndModificationTimeIsSeen)
{
    dir.write(u"myinfo.ini"_s, friendFile("10.0.0.5"));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), u"[1]Bob"_s);
    ASSERT_TRUE(fileClockMovesPast(path()));
    rewriteInPlaceKeepingTheTime(path(), friendFile("10.0.0.6"));
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
    EXPECT_EQ(store.senderLookup(u"10.0.0.6"_s), u"[1]Bob"_s);

    // The same after a write through the store, whose own version is the one kept.
    ASSERT_TRUE(store.adduser("Cy", u"10.0.0.7"_s, 1));
    const QByteArray written = dir.read(u"myinfo.ini"_s);
    ASSERT_TRUE(written.contains("10.0.0.7"));
    ASSERT_TRUE(fileClockMovesPast(path()));
    QByteArray edited = written;
    edited.replace("10.0.0.7", "10.0.0.8");
    rewriteInPlaceKeepingTheTime(path(), edited);
    EXPECT_EQ(store.senderLookup(u"10.0.0.7"_s), QString());
    EXPECT_EQ(store.senderLookup(u"10.0.0.8"_s), u"[2]Cy"_s);
}

TEST(IniFileCache, ReadsAfterAnOutsideChangeGiveTheNewValuesAndWritesKeepTheirSemantics)
{
    TempDir dir;
    dir.write(u"my.ini"_s, "[A]\r\nx=1\r\n");
    IniFile ini(dir.file(u"my.ini"_s));
    EXPECT_EQ(ini.readInteger(u"A"_s, u"x"_s), 1);
    dir.write(u"my.ini"_s, "[A]\r\nx=22\r\n");
    EXPECT_EQ(ini.readInteger(u"A"_s, u"x"_s), 22);
    // A write starts from the file as it is now, not from what was parsed before.
    dir.write(u"my.ini"_s, "; note\r\n[A]\r\nx=22\r\ny=3\r\n");
    ini.writeString(u"A"_s, u"z"_s, "4");
    EXPECT_EQ(dir.read(u"my.ini"_s), QByteArray("; note\r\n[A]\r\nx=22\r\ny=3\r\nz=4\r\n"));
    EXPECT_EQ(ini.readInteger(u"A"_s, u"y"_s), 3);
    EXPECT_EQ(ini.readString(u"A"_s, u"z"_s), QByteArray("4"));
}

// The look-up works from an index of the friend list built once per version of the file; for
// every address of a hand-edited list of 300 friends (an address under two numbers, one under
// a number past Count, a number with no entry, keys out of order) it gives what the entry
// number and entry read one by one give, before and after a change through the store.
TEST_F(ContactStoreCache, TheIndexedLookUpAgreesWithTheEntriesReadOneByOne)
{
    QByteArray users = "[UserSection]\r\nCount=300\r\n";
    QByteArray ips = "[IpSection]\r\n";
    for (int n = 300; n >= 1; --n) {
        if (n != 7)
            users += QByteArray::number(n) + "=[" + QByteArray::number(n) + "]friend" + QByteArray::number(n) + "\r\n";
        ips += QByteArray::number(n) + "=10.0." + QByteArray::number(n / 256) + '.' + QByteArray::number(n % 256) + "\r\n";
    }
    ips += "301=10.0.9.9\r\n250=10.0.0.3\r\n"; // past Count; a repeated key (the first one counts)
    dir.write(u"myinfo.ini"_s, users + ips + "[Extra]\r\n1=10.0.0.1\r\n");
    const auto agree = [&](const char *when) {
        SCOPED_TRACE(when);
        for (int n = 0; n <= 302; ++n) {
            const QString ip = u"10.0.%1.%2"_s.arg(n / 256).arg(n % 256);
            const QString key = store.buddyKey(ip);
            ASSERT_EQ(store.senderLookup(ip), key.isEmpty() ? QString() : store.buddyEntry(key)) << ip.toStdString();
        }
        EXPECT_EQ(store.senderLookup(u"10.0.9.9"_s), QString());
    };
    agree("as edited");
    EXPECT_EQ(store.senderLookup(u"10.0.0.7"_s), QString()) << "a number with no entry";
    EXPECT_EQ(store.senderLookup(u"10.0.1.44"_s), u"[300]friend300"_s);
    store.setBuddyIp(u"5"_s, u"10.0.1.44"_s);
    EXPECT_EQ(store.senderLookup(u"10.0.1.44"_s), u"[300]friend300"_s) << "the highest number wins";
    store.setBuddyIp(u"300"_s, u"10.0.9.8"_s);
    EXPECT_EQ(store.senderLookup(u"10.0.1.44"_s), u"[5]friend5"_s);
    EXPECT_EQ(store.senderLookup(u"10.0.0.5"_s), QString());
    agree("after two changes");
}
