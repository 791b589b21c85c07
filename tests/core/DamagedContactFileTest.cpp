// The contact store over a myinfo.ini that was edited by hand: what the store writes must read
// back, and what it deletes must stay deleted, whatever the file held before.
#include "core/ContactStore.h"
#include "core/Gbk.h"
#include "core/IniFile.h"
#include "harness/TempDir.h"
#include "tests/support/ScriptedPrompts.h"

#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

class DamagedContactFileTest : public ::testing::Test {
protected:
    QByteArray file() const { return dir.read(u"myinfo.ini"_s); }
    TempDir dir;
    ScriptedPrompts prompts;
    ContactStore store{dir.path(), prompts};
};

} // namespace

TEST_F(DamagedContactFileTest, ADeletedBuddyWhoseKeysStoodTwiceIsGone)
{
    // Found by the fuzzer: only the first of two equal keys was deleted, so the second one
    // read again and the deleted buddy was still found by its address.
    dir.write(u"myinfo.ini"_s,
              "[UserSection]\r\nCount=2\r\n2=[2]a\r\n2=[2]b\r\n"
              "[IpSection]\r\n2=10.0.0.5\r\nx=1\r\n2=10.0.0.5\r\n[Other]\r\n2=kept\r\n");
    ASSERT_EQ(store.senderLookup(u"10.0.0.5"_s), u"[2]a"_s);
    ASSERT_TRUE(store.deleteSelected(u"[2]a"_s));
    EXPECT_TRUE(store.buddyEntry(u"2"_s).isEmpty());
    EXPECT_TRUE(store.buddyIp(u"2"_s).isEmpty());
    EXPECT_TRUE(store.senderLookup(u"10.0.0.5"_s).isEmpty());
    EXPECT_EQ(file(), QByteArray("[UserSection]\r\nCount=2\r\n[IpSection]\r\nx=1\r\n[Other]\r\n2=kept\r\n"));
}

TEST_F(DamagedContactFileTest, ACountWithNoSuccessorStartsTheNumbersAgain)
{
    // Found by the fuzzer: after Count=2147483647 the next number did not read back as a
    // number, so the new buddy and the new ban were lost as soon as they were written.
    dir.write(u"myinfo.ini"_s, "[UserSection]\r\nCount=2147483647\r\n[BanSection]\r\nCount=2147483647\r\n");
    ASSERT_TRUE(store.adduser(Gbk::encode(u"小明"_s), u"10.0.0.7"_s, 0));
    EXPECT_EQ(store.senderLookup(u"10.0.0.7"_s), u"[1]小明"_s);
    EXPECT_EQ(store.buddyEntries(), QStringList{u"[1]小明"_s});
    store.ban(u"10.0.0.8"_s);
    EXPECT_TRUE(store.isBanned(u"10.0.0.8"_s));

    // One below the largest int still counts on.
    dir.write(u"myinfo.ini"_s, "[UserSection]\r\nCount=2147483646\r\n");
    ASSERT_TRUE(store.adduser("Bob", u"10.0.0.9"_s, 0));
    EXPECT_EQ(store.senderLookup(u"10.0.0.9"_s), u"[2147483647]Bob"_s);
}
