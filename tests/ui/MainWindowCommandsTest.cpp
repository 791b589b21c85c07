#include "core/Gbk.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QAction>
#include <QCheckBox>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString NoSelection = u"你发给鬼阿？名字也不选～切！"_s;

// A started peer in normal status, so friend requests from raw peers fill its buddy list.
class MainWindowCommands : public ::testing::Test {
protected:
    MainWindowCommands()
    {
        peer.storeNickname(u"小明"_s);
        peer.start();
        peer.form1->N18->trigger();
    }

    // A friend request from address, answered (and so stored) before this returns.
    void befriend(const QString &address, const QString &nickname)
    {
        RawUdpPeer raw(address);
        raw.send(peer.ip(), "2" + Gbk::encode(nickname));
        ASSERT_TRUE(raw.waitForDatagrams(1));
    }

    QStringList items() const
    {
        QStringList result;
        for (int i = 0; i < peer.form1->userlist->count(); ++i)
            result << peer.form1->userlist->item(i)->text();
        return result;
    }

    void select(int row)
    {
        QListWidgetItem *item = peer.form1->userlist->item(row);
        ASSERT_NE(item, nullptr) << "no buddy in row " << row;
        item->setSelected(true);
    }

    TestPeer peer;
};

} // namespace

TEST_F(MainWindowCommands, DeletedBuddiesLeaveGapsAndNewOnesGoLast)
{
    befriend(u"127.0.0.3"_s, u"甲"_s);
    befriend(u"127.0.0.4"_s, u"乙"_s);
    befriend(u"127.0.0.5"_s, u"丙"_s);
    EXPECT_EQ(items(), (QStringList{u"[1]甲"_s, u"[2]乙"_s, u"[3]丙"_s}));
    select(1);
    peer.form1->N10->trigger();
    EXPECT_EQ(items(), (QStringList{u"[1]甲"_s, u"[3]丙"_s}));
    // The deleted item's selection is gone with it: a second delete has nothing to act on.
    peer.form1->N10->trigger();
    EXPECT_EQ(items(), (QStringList{u"[1]甲"_s, u"[3]丙"_s}));
    EXPECT_EQ(peer.prompts.texts(u"information"_s).last(), u"拜托，删人也要先选择一下啦！"_s);
    befriend(u"127.0.0.6"_s, u"丁"_s);
    EXPECT_EQ(items(), (QStringList{u"[1]甲"_s, u"[3]丙"_s, u"[4]丁"_s}));
    const QByteArray ini = peer.dir.read(u"myinfo.ini"_s);
    EXPECT_FALSE(ini.contains("127.0.0.4"));
    EXPECT_TRUE(ini.contains("127.0.0.6"));
}

TEST_F(MainWindowCommands, CommandsWithoutASelectionSayWhatIsMissing)
{
    befriend(u"127.0.0.3"_s, u"甲"_s);
    peer.prompts.shown.clear();
    peer.form1->N1->trigger();
    peer.form1->N2->trigger();
    peer.form1->N10->trigger();
    EXPECT_EQ(peer.prompts.texts(u"information"_s),
              (QStringList{NoSelection, NoSelection, u"拜托，删人也要先选择一下啦！"_s}));
    // A double-click on the list's empty part asks the same way.
    QTest::mouseDClick(peer.form1->userlist->viewport(), Qt::LeftButton, {}, QPoint(20, 200));
    EXPECT_EQ(peer.prompts.texts(u"information"_s).last(), NoSelection);
    EXPECT_EQ(peer.form1->userlist->count(), 1);
}

TEST_F(MainWindowCommands, SelectedBuddyCommandsRunQuietly)
{
    befriend(u"127.0.0.3"_s, u"甲"_s);
    peer.prompts.shown.clear();
    select(0);
    peer.form1->N1->trigger();
    peer.form1->N2->trigger();
    peer.form1->N9->trigger();
    peer.form1->N4->trigger(); // "语音聊天" does nothing
    EXPECT_TRUE(peer.prompts.shown.isEmpty());
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST_F(MainWindowCommands, FileCommandWaitsForTheOpenFileWindow)
{
    befriend(u"127.0.0.3"_s, u"甲"_s);
    peer.prompts.shown.clear();
    peer.form1->Tag = 1;
    peer.form1->N2->trigger();
    ASSERT_EQ(peer.prompts.shown.size(), 1);
    EXPECT_EQ(peer.prompts.shown.first().kind, u"message"_s);
    EXPECT_EQ(peer.prompts.shown.first().text, u"正在传送文件"_s);
}

TEST_F(MainWindowCommands, ChatModeItemTogglesAutoPopupAndItsCaption)
{
    QCheckBox *autopop = peer.form2->autopop;
    EXPECT_TRUE(autopop->isChecked());
    peer.form1->N7->trigger();
    EXPECT_EQ(peer.form1->N7->text(), u"Kiwq模式"_s);
    EXPECT_FALSE(autopop->isChecked());
    EXPECT_FALSE(peer.form1->autoPopup());
    peer.form1->N7->trigger();
    EXPECT_EQ(peer.form1->N7->text(), u"聊天模式"_s);
    EXPECT_TRUE(autopop->isChecked());
    EXPECT_TRUE(peer.form1->autoPopup());
}

TEST_F(MainWindowCommands, SettingsItemShowsTheSettingsWindow)
{
    EXPECT_FALSE(peer.form2->isVisible());
    peer.form1->sz->trigger();
    EXPECT_TRUE(peer.form2->isVisible());
    peer.form2->jjmsrxx->setChecked(true);
    EXPECT_TRUE(peer.form1->rejectStrangers());
}
