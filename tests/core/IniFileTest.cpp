#include "core/IniFile.h"
#include "harness/TempDir.h"
#include "net/Exceptions.h"

#include <QDir>

#include <csignal>
#include <gtest/gtest.h>
#include <sys/resource.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class IniFileTest : public ::testing::Test {
protected:
    QByteArray file() const { return dir.read(u"my.ini"_s); }
    TempDir dir;
    IniFile ini{dir.file(u"my.ini"_s)};
};

} // namespace

TEST_F(IniFileTest, WritesThroughAndCreatesTheFileOnFirstWrite)
{
    EXPECT_EQ(ini.readString(u"MainSection"_s, u"Name"_s, "none"), QByteArray("none"));
    ini.eraseSection(u"UserSection"_s); // erasing in a missing file is no error and writes nothing
    EXPECT_FALSE(QFile::exists(dir.file(u"my.ini"_s)));

    ini.writeString(u"MainSection"_s, u"Name"_s, "Bob");
    EXPECT_EQ(file(), QByteArray("[MainSection]\r\nName=Bob\r\n"));
    ini.writeInteger(u"UserSection"_s, u"Count"_s, 2);
    ini.writeString(u"MainSection"_s, u"Name"_s, "Al");
    EXPECT_EQ(file(), QByteArray("[MainSection]\r\nName=Al\r\n[UserSection]\r\nCount=2\r\n"));
}

TEST_F(IniFileTest, MatchesSectionAndKeyNamesWithoutRegardToCaseAndAcceptsLf)
{
    dir.write(u"my.ini"_s, "; kept comment\n[mainsection]\n NAME = Bob \n\n[Other]\nx=1\n");
    EXPECT_EQ(ini.readString(u"MainSection"_s, u"Name"_s), QByteArray("Bob"));
    ini.writeString(u"MAINSECTION"_s, u"name"_s, "Carl");
    ini.writeString(u"mainSection"_s, u"Age"_s, "7");
    EXPECT_EQ(file(),
              QByteArray("; kept comment\r\n[mainsection]\r\nname=Carl\r\nAge=7\r\n\r\n[Other]\r\nx=1\r\n"));
}

TEST_F(IniFileTest, KeepsGbkBytesExactly)
{
    // 0x81 0x5D and 0x81 0x5B are GBK characters whose second byte is "]" or "[".
    const QByteArray value("[3]\xD0\xA1\xC3\xF7\x81\x5D\x81\x5B=;x");
    ini.writeString(u"UserSection"_s, u"3"_s, value);
    EXPECT_EQ(ini.readString(u"UserSection"_s, u"3"_s), value);
    EXPECT_TRUE(file().contains(QByteArray("3=" + value + "\r\n")));
}

TEST_F(IniFileTest, ReadsIntegersWithDefaultZero)
{
    dir.write(u"my.ini"_s, "[S]\r\na=12\r\nb=abc\r\nc=99999999999\r\nd=\r\n");
    EXPECT_EQ(ini.readInteger(u"S"_s, u"a"_s), 12);
    EXPECT_EQ(ini.readInteger(u"S"_s, u"b"_s, 5), 0);
    EXPECT_EQ(ini.readInteger(u"S"_s, u"c"_s), 0);
    EXPECT_EQ(ini.readInteger(u"S"_s, u"d"_s), 0);
    EXPECT_EQ(ini.readInteger(u"S"_s, u"missing"_s), 0);
    EXPECT_EQ(ini.readInteger(u"S"_s, u"missing"_s, 7), 7);
}

TEST_F(IniFileTest, DeletesKeysAndErasesEverySectionOfTheName)
{
    dir.write(u"my.ini"_s, "[A]\r\n1=x\r\n2=y\r\n[B]\r\nk=v\r\n[a]\r\n3=z\r\n");
    ini.deleteKey(u"A"_s, u"1"_s);
    ini.deleteKey(u"A"_s, u"9"_s);
    ini.deleteKey(u"Missing"_s, u"1"_s);
    EXPECT_EQ(file(), QByteArray("[A]\r\n2=y\r\n[B]\r\nk=v\r\n[a]\r\n3=z\r\n"));
    ini.eraseSection(u"A"_s);
    EXPECT_EQ(file(), QByteArray("[B]\r\nk=v\r\n"));
}

TEST_F(IniFileTest, ValuesCannotInjectLinesOrSections)
{
    ini.writeString(u"UserSection"_s, u"1"_s, "[1]Eve\r\n[MainSection]\r\nName=hacked\0x"_ba);
    EXPECT_EQ(file(), QByteArray("[UserSection]\r\n1=[1]Eve??[MainSection]??Name=hacked?x\r\n"));
    EXPECT_EQ(ini.readString(u"MainSection"_s, u"Name"_s, "unset"), QByteArray("unset"));
}

TEST_F(IniFileTest, NumberedValuesTakeCanonicalKeysInOrderFirstOccurrenceWinning)
{
    dir.write(u"my.ini"_s, "[S]\r\n3=c\r\n1=a\r\n01=zero\r\n+2=plus\r\n3=again\r\n4=d\r\nx=y\r\n");
    const auto values = ini.contents().numberedValues(u"S"_s, 3);
    ASSERT_EQ(values.size(), 2);
    EXPECT_EQ(values[0], std::make_pair(qint64(1), QByteArray("a")));
    EXPECT_EQ(values[1], std::make_pair(qint64(3), QByteArray("c")));
}

TEST_F(IniFileTest, AFailedWriteThrowsWithTheFullPathAndDeleteStaysQuiet)
{
    IniFile nowhere(dir.file(u"missing-folder/myinfo.ini"_s));
    try {
        nowhere.writeString(u"MainSection"_s, u"Name"_s, "Bob");
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Unable to write to "_s + dir.file(u"missing-folder/myinfo.ini"_s));
    }
    EXPECT_NO_THROW(nowhere.deleteKey(u"MainSection"_s, u"Name"_s));

    // A folder standing where the file should be: reads see nothing, writes fail cleanly.
    QDir(dir.path()).mkdir(u"blocked.ini"_s);
    IniFile blocked(dir.file(u"blocked.ini"_s));
    EXPECT_EQ(blocked.readString(u"A"_s, u"b"_s, "d"), QByteArray("d"));
    EXPECT_THROW(blocked.writeString(u"A"_s, u"b"_s, "c"), Exception);
}

TEST_F(IniFileTest, AWriteThatFailsHalfWayLeavesTheOldFileWhole)
{
    ini.writeString(u"MainSection"_s, u"Name"_s, "Bob");
    const QByteArray before = file();
    // Limit the size of any file the process writes, so that the new contents cannot be
    // written out completely (as on a full disk).
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 64;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    QString message;
    try {
        ini.writeString(u"UserSection"_s, u"1"_s, QByteArray(200, 'x'));
    } catch (const Exception &e) {
        message = e.message();
    }
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(message, u"Unable to write to "_s + dir.file(u"my.ini"_s));
    EXPECT_EQ(file(), before);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files), QStringList{u"my.ini"_s}) << "no temporary file left";
}

TEST_F(IniFileTest, GarbageFileReadsWithoutHarmAndStaysWritable)
{
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 7919 + 13) % 256);
    garbage += "\n[MainSection]\nName=Bob\n[\n=\n[[]]\n";
    dir.write(u"my.ini"_s, garbage);
    EXPECT_EQ(ini.readString(u"MainSection"_s, u"Name"_s), QByteArray("Bob"));
    ini.writeString(u"UserSection"_s, u"Count"_s, "1");
    EXPECT_EQ(ini.readString(u"MainSection"_s, u"Name"_s), QByteArray("Bob"));
    EXPECT_EQ(ini.readInteger(u"UserSection"_s, u"Count"_s), 1);
}
