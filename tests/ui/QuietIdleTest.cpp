#include "harness/FakeMediaPlayer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QAbstractEventDispatcher>
#include <QAction>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Names of the objects under root (root included) that have a timer registered with the
// event loop: each would wake the idle program.
QStringList objectsWithTimers(QObject *root)
{
    QStringList names;
    QList<QObject *> objects = root->findChildren<QObject *>();
    objects.prepend(root);
    for (QObject *object : objects)
        if (!QAbstractEventDispatcher::instance()->registeredTimers(object).isEmpty())
            names << QString::fromLatin1(object->metaObject()->className()) + u' ' + object->objectName();
    return names;
}

// A started peer with a playlist of a and b added through the add button.
class QuietIdle : public ::testing::Test {
protected:
    QuietIdle()
    {
        peer.storeNickname(u"小明"_s);
        peer.start();
        peer.prompts.openAnswers << u"/music/a.mp3"_s << u"/music/b.wav"_s;
        w.Button4Click();
        w.Button4Click();
    }
    void play(int row)
    {
        w.mlist->setCurrentRow(row);
        w.mlistDblClick();
    }

    TestPeer peer;
    TForm2 &w = *peer.form2;
    FakeMediaPlayer &player = *peer.player;
};

} // namespace

TEST_F(QuietIdle, AStartedPeerRunsNoTimerWhileNothingHappens)
{
    // Nothing of ours is left to fire later: the nickname put in the name box at start is
    // announced at once, not once more after the typing pause.
    QStringList armed;
    for (QObject *root : {static_cast<QObject *>(peer.form1.get()), static_cast<QObject *>(&w)})
        for (QTimer *timer : root->findChildren<QTimer *>())
            if (timer->isActive())
                armed << QString::number(timer->interval());
    EXPECT_TRUE(armed.isEmpty()) << armed.join(u", "_s).toStdString();
    // Widgets' one-off timers (a list's delayed layout) fire once the loop has run.
    const auto quiet = [&] {
        return (objectsWithTimers(peer.form1.get()) + objectsWithTimers(&w)).isEmpty();
    };
    EXPECT_TRUE(QTest::qWaitFor(quiet, 5000))
        << (objectsWithTimers(peer.form1.get()) + objectsWithTimers(&w)).join(u", "_s).toStdString();
    // After a chat-room period the closed view waits only to be released.
    peer.form1->N7->trigger();
    peer.form1->N7->trigger();
    ASSERT_EQ(peer.form2->chatRoomView(), nullptr);
    const QList<QTimer *> running = [&] {
        QList<QTimer *> timers;
        for (QTimer *timer : peer.form1->findChildren<QTimer *>())
            if (timer->isActive())
                timers << timer;
        return timers;
    }();
    ASSERT_EQ(running.size(), 1);
    EXPECT_TRUE(running.first()->isSingleShot());
    EXPECT_EQ(running.first()->interval(), 6000);
}

TEST_F(QuietIdle, ThePlaylistTimerRunsOnlyWhileAGivenFileCanStillEnd)
{
    EXPECT_FALSE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpPlay, Qt::LeftButton); // nothing given yet
    EXPECT_FALSE(w.Timer1->isActive());

    play(0);
    EXPECT_TRUE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpPause, Qt::LeftButton);
    EXPECT_FALSE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpPlay, Qt::LeftButton);
    EXPECT_TRUE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpStop, Qt::LeftButton);
    EXPECT_FALSE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpPlay, Qt::LeftButton);
    EXPECT_TRUE(player.playing);
    EXPECT_TRUE(w.Timer1->isActive());

    player.fail(u"Could not open file"_s);
    EXPECT_FALSE(w.Timer1->isActive());
    QTest::mouseClick(w.mdpPlay, Qt::LeftButton); // the player dropped the file
    EXPECT_FALSE(w.Timer1->isActive());
}

TEST_F(QuietIdle, AFileThatEndsWithTheListEmptyIsFollowedByTheNextOneAdded)
{
    play(0);
    w.mlist->clear();
    player.finish();
    w.Timer1Timer();
    EXPECT_FALSE(w.Timer1->isActive()) << "nothing to follow";
    EXPECT_EQ(player.opened.size(), 1);

    peer.prompts.openAnswers << u"/music/c.mid"_s;
    w.Button4Click();
    EXPECT_TRUE(w.Timer1->isActive());
    w.Timer1->setInterval(10);
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.opened.size() == 2; }, 5000));
    EXPECT_EQ(player.opened.last(), u"/music/c.mid"_s);
    EXPECT_TRUE(player.playing);
}
