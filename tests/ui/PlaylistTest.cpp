#include "harness/FakeMediaPlayer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm2.h"

#include <QListWidget>
#include <QTest>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// The settings window of a started peer, with a playlist of a, b and c added through the
// add button.
class Playlist : public ::testing::Test {
protected:
    Playlist()
    {
        peer.storeNickname(u"小明"_s);
        peer.start();
        peer.prompts.openAnswers << u"/music/a.mp3"_s << u"/music/b.wav"_s << u"/music/c.mid"_s;
        for (int i = 0; i < 3; ++i)
            w.Button4Click();
    }

    void doubleClick(int row)
    {
        w.mlist->show();
        const QRect rect = w.mlist->visualItemRect(w.mlist->item(row));
        QTest::mouseClick(w.mlist->viewport(), Qt::LeftButton, {}, rect.center());
        QTest::mouseDClick(w.mlist->viewport(), Qt::LeftButton, {}, rect.center());
    }

    // The open file plays to its end and the advance timer ticks.
    void finishAndTick()
    {
        player.finish();
        w.Timer1Timer();
    }

    TestPeer peer;
    TForm2 &w = *peer.form2;
    FakeMediaPlayer &player = *peer.player;
};

} // namespace

TEST_F(Playlist, AddAppendsChosenFilesAndACancelledDialogAddsNothing)
{
    ASSERT_EQ(w.mlist->count(), 3);
    EXPECT_EQ(w.mlist->item(2)->text(), u"/music/c.mid"_s);
    EXPECT_EQ(peer.prompts.texts(u"open"_s).first(), TForm2::playlistFilter());
    EXPECT_TRUE(TForm2::playlistFilter().startsWith(u"*.mp3*.wav*.mid*.avi*.mpg*.mpeg*.dat ("_s));
    w.Button4Click();
    EXPECT_EQ(w.mlist->count(), 3);
}

TEST_F(Playlist, ThreeEntriesPlayInOrderAndWrapToTheFirst)
{
    doubleClick(0);
    EXPECT_EQ(player.opened, QStringList{u"/music/a.mp3"_s});
    EXPECT_TRUE(player.playing);
    w.Timer1Timer(); // still playing: nothing happens
    EXPECT_EQ(player.opened.size(), 1);
    finishAndTick();
    finishAndTick();
    EXPECT_EQ(w.mlist->currentRow(), 2);
    finishAndTick();
    EXPECT_EQ(player.opened,
              (QStringList{u"/music/a.mp3"_s, u"/music/b.wav"_s, u"/music/c.mid"_s, u"/music/a.mp3"_s}));
    EXPECT_EQ(w.mlist->currentRow(), 0);
    EXPECT_EQ(w.trackIndex(), 0);
    EXPECT_TRUE(player.playing);
}

TEST_F(Playlist, DeletingThePlayingEntryKeepsTheIndex)
{
    doubleClick(0);
    w.mlist->setFocus();
    QTest::keyClick(w.mlist, Qt::Key_Delete);
    ASSERT_EQ(w.mlist->count(), 2);
    EXPECT_EQ(w.mlist->item(0)->text(), u"/music/b.wav"_s);
    EXPECT_TRUE(player.playing); // the deleted file plays on
    finishAndTick();
    EXPECT_EQ(player.opened.last(), u"/music/c.mid"_s);
}

TEST_F(Playlist, StoppedFileIsNotFollowed)
{
    doubleClick(1);
    QTest::mouseClick(w.mdpStop, Qt::LeftButton);
    EXPECT_FALSE(player.playing);
    w.Timer1Timer();
    EXPECT_EQ(player.opened, QStringList{u"/music/b.wav"_s});
}

TEST_F(Playlist, NothingPlaysBeforeADoubleClickOrAfterTheListIsEmptied)
{
    player.finish();
    w.Timer1Timer();
    EXPECT_TRUE(player.opened.isEmpty());
    doubleClick(2);
    w.mlist->clear();
    finishAndTick();
    EXPECT_EQ(player.opened.size(), 1);
}

TEST_F(Playlist, ShowingTheWindowRestartsTheIndex)
{
    doubleClick(2);
    w.hide();
    w.show();
    finishAndTick();
    EXPECT_EQ(player.opened.last(), u"/music/b.wav"_s);
}

TEST_F(Playlist, FailedFileIsReportedOnce)
{
    doubleClick(0);
    player.fail(u"Could not open file"_s);
    EXPECT_EQ(peer.prompts.texts(u"error"_s), QStringList{u"Could not open file"_s});
    for (int i = 0; i < 3; ++i)
        finishAndTick();
    EXPECT_EQ(player.opened.size(), 1);
    EXPECT_EQ(peer.prompts.texts(u"error"_s).size(), 1);
}

TEST_F(Playlist, SelectingAnEntryShowsItsPathAsTooltip)
{
    w.mlist->setCurrentRow(1);
    EXPECT_EQ(w.mlist->toolTip(), u"/music/b.wav"_s);
}
