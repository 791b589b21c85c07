#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "harness/TempDir.h"
#include "net/Exceptions.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class ContactStoreTest : public ::testing::Test {
protected:
    QByteArray file() const { return dir.read(u"myinfo.ini"_s); }
    bool add(const QString &nickname, const QString &ip, quint8 status = 0)
    {
        return store.adduser(Gbk::encode(nickname), ip, status);
    }
    TempDir dir;
    ScriptedPrompts prompts;
    ContactStore store{dir.path(), prompts};
};

QByteArray gbk(const QString &text) { return Gbk::encode(text); }

} // namespace

TEST_F(ContactStoreTest, RestartErasesTheListsButKeepsTheName)
{
    dir.write(u"myinfo.ini"_s,
              gbk(u"[MainSection]\r\nName=小明\r\n[UserSection]\r\nCount=1\r\n1=[1]Bob\r\n"
                  u"[IpSection]\r\n1=10.0.0.1\r\n[BanSection]\r\nCount=1\r\n1=10.0.0.2\r\n"_s));
    EXPECT_EQ(store.openAndReset(), u"小明"_s);
    EXPECT_EQ(file(), gbk(u"[MainSection]\r\nName=小明\r\n"_s));
    EXPECT_TRUE(store.buddyEntries().isEmpty());
    EXPECT_TRUE(store.senderLookup(u"10.0.0.1"_s).isEmpty());
    EXPECT_FALSE(store.isBanned(u"10.0.0.2"_s));

    // First use: no file at all gives an empty name and no file.
    TempDir fresh;
    ContactStore empty(fresh.path(), prompts);
    EXPECT_EQ(empty.openAndReset(), QString());
    EXPECT_FALSE(QFile::exists(fresh.file(u"myinfo.ini"_s)));
    empty.setNickname(u"小红"_s);
    EXPECT_EQ(empty.nickname(), u"小红"_s);
}

TEST_F(ContactStoreTest, AddingWritesCountEntryAndIpAfterTheBox)
{
    prompts.whileOpen = [&](const ScriptedPrompts::Shown &) {
        EXPECT_FALSE(QFile::exists(dir.file(u"myinfo.ini"_s))) << "nothing is written before the box closes";
    };
    EXPECT_TRUE(add(u"小明"_s, u"192.168.0.5"_s, 0));
    prompts.whileOpen = nullptr;
    EXPECT_EQ(file(), gbk(u"[UserSection]\r\nCount=1\r\n1=[1]小明\r\n[IpSection]\r\n1=192.168.0.5\r\n"_s));
    EXPECT_EQ(store.buddyEntries(), QStringList{u"[1]小明"_s});
    EXPECT_EQ(store.senderLookup(u"192.168.0.5"_s), u"[1]小明"_s);
    EXPECT_EQ(store.senderLookup(u"192.168.0.50"_s), QString());

    EXPECT_TRUE(add(u"Bob"_s, u"10.0.0.9"_s, 1));
    EXPECT_EQ(prompts.texts(u"information"_s),
              (QStringList{u"添加好友成功！"_s, u"10.0.0.9将您添加为好友，系统自动将其加入好友列表！"_s}));
}

TEST_F(ContactStoreTest, NumbersAreNeverReusedAndTheListKeepsTheirOrder)
{
    add(u"a"_s, u"10.0.0.1"_s);
    add(u"b"_s, u"10.0.0.2"_s);
    add(u"c"_s, u"10.0.0.3"_s);
    EXPECT_FALSE(store.deleteSelected(std::nullopt));
    EXPECT_EQ(prompts.texts().last(), u"拜托，删人也要先选择一下啦！"_s);
    EXPECT_TRUE(store.deleteSelected(u"[2]b"_s));
    EXPECT_EQ(file(),
              QByteArray("[UserSection]\r\nCount=3\r\n1=[1]a\r\n3=[3]c\r\n"
                         "[IpSection]\r\n1=10.0.0.1\r\n3=10.0.0.3\r\n"));
    add(u"d"_s, u"10.0.0.2"_s);
    EXPECT_EQ(store.buddyEntries(), (QStringList{u"[1]a"_s, u"[3]c"_s, u"[4]d"_s}));
    EXPECT_EQ(store.buddyIp(u"4"_s), u"10.0.0.2"_s);
    EXPECT_EQ(store.buddyEntry(u"3"_s), u"[3]c"_s);
    EXPECT_EQ(store.buddyIp(u"2"_s), QString());
}

TEST_F(ContactStoreTest, ADuplicateIpIsRefusedAndChangesNothing)
{
    add(u"a"_s, u"10.0.0.1"_s);
    const QByteArray before = file();
    prompts.shown.clear();
    EXPECT_FALSE(add(u"again"_s, u"10.0.0.1"_s));
    EXPECT_EQ(prompts.texts(), QStringList{u"该用户已经存在！"_s});
    EXPECT_EQ(file(), before);
}

TEST_F(ContactStoreTest, TheSameIpAddedWhileTheBoxIsOpenIsStoredOnce)
{
    bool nested = false;
    prompts.whileOpen = [&](const ScriptedPrompts::Shown &shown) {
        if (!nested && shown.text == u"添加好友成功！"_s) {
            nested = true;
            EXPECT_TRUE(add(u"inner"_s, u"10.0.0.7"_s));
        }
    };
    EXPECT_FALSE(add(u"outer"_s, u"10.0.0.7"_s));
    EXPECT_EQ(prompts.texts(),
              (QStringList{u"添加好友成功！"_s, u"添加好友成功！"_s, u"该用户已经存在！"_s}));
    EXPECT_EQ(file(), QByteArray("[UserSection]\r\nCount=1\r\n1=[1]inner\r\n[IpSection]\r\n1=10.0.0.7\r\n"));
}

TEST_F(ContactStoreTest, TwoBansAreNumberedAndAnnounced)
{
    store.ban(u"10.0.0.8"_s);
    store.ban(u"10.0.0.9"_s);
    EXPECT_EQ(file(), QByteArray("[BanSection]\r\nCount=2\r\n1=10.0.0.8\r\n2=10.0.0.9\r\n"));
    EXPECT_TRUE(store.isBanned(u"10.0.0.9"_s));
    EXPECT_FALSE(store.isBanned(u"10.0.0.1"_s));
    EXPECT_EQ(prompts.texts(u"information"_s).last(), u"10.0.0.9此IP地址已被屏蔽!"_s);
}

TEST_F(ContactStoreTest, NicknameWithBracketsIsKeptAndItsNumberStillRead)
{
    add(u"a"_s, u"10.0.0.1"_s);
    add(u"]x[12]y]"_s, u"10.0.0.2"_s);
    EXPECT_EQ(store.buddyEntries().last(), u"[2]]x[12]y]"_s);
    EXPECT_EQ(ContactStore::entryNumber(u"[2]]x[12]y]"_s), u"2"_s);
    EXPECT_EQ(ContactStore::entryNumber(u"[12]Bob"_s), u"12"_s);
    EXPECT_EQ(ContactStore::entryNumber(u"[7"_s), u"7"_s);
    EXPECT_TRUE(store.deleteSelected(u"[2]]x[12]y]"_s));
    EXPECT_EQ(store.buddyEntries(), QStringList{u"[1]a"_s});
}

TEST_F(ContactStoreTest, ControlCharactersInANicknameBecomeQuestionMarks)
{
    store.setNickname(u"Me"_s);
    EXPECT_TRUE(store.adduser("Eve\r\n[MainSection]\r\nName=Mallory\t\x01", u"10.0.0.6"_s, 0));
    EXPECT_EQ(store.nickname(), u"Me"_s);
    EXPECT_EQ(store.senderLookup(u"10.0.0.6"_s), u"[1]Eve??[MainSection]??Name=Mallory??"_s);
    EXPECT_EQ(file().count('\n'), 7);
}

TEST_F(ContactStoreTest, AnUnwritableStoreReportsItsFullPath)
{
    ContactStore lost(dir.file(u"gone"_s), prompts);
    try {
        lost.adduser("a", u"10.0.0.1"_s, 0);
        FAIL() << "no exception";
    } catch (const Exception &e) {
        EXPECT_EQ(e.message(), u"Unable to write to "_s + dir.file(u"gone/myinfo.ini"_s));
    }
    EXPECT_THROW(lost.ban(u"10.0.0.1"_s), Exception);
}
