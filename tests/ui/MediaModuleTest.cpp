#include "harness/TempDir.h"
#include "tests/support/TestPeer.h"
#include "ui/ModuleMediaPlayer.h"
#include "ui/TForm2.h"

#include <QFile>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Long enough for the media system's start and its first report on a loaded machine.
constexpr int ReportWaitMs = 20000;

// The folder the build puts the real module in (beside the program).
QString builtModuleFolder() { return QStringLiteral(TALVINO_MEDIA_MODULE_BUILD_DIR); }

bool multimediaLoaded()
{
    QFile maps(u"/proc/self/maps"_s);
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6Multimedia.so");
}

// A player over the given folders with a record of its failures.
struct WatchedPlayer {
    explicit WatchedPlayer(const QStringList &folders) : player(folders) {}
    // The one failure reported for the file just opened: none while open() runs, one from the
    // event loop, and no second one once the loop has run again.
    QString onlyFailure()
    {
        EXPECT_EQ(failed.count(), 0) << "reported inside open()";
        if (!failed.wait(ReportWaitMs))
            return QString();
        QCoreApplication::processEvents();
        EXPECT_EQ(failed.count(), 1);
        return failed.takeFirst().at(0).toString();
    }

    ModuleMediaPlayer player;
    QSignalSpy failed{&player, &MediaPlayer::failed};
};

// A canonical PCM WAV file of `ms` milliseconds of silence (8 kHz, 8 bits, mono).
QByteArray silentWav(int ms)
{
    const quint32 samples = 8 * ms;
    const auto le32 = [](quint32 v) { return QByteArray(reinterpret_cast<const char *>(&v), 4); };
    const auto le16 = [](quint16 v) { return QByteArray(reinterpret_cast<const char *>(&v), 2); };
    static_assert(Q_BYTE_ORDER == Q_LITTLE_ENDIAN);
    return "RIFF" + le32(36 + samples) + "WAVEfmt " + le32(16) + le16(1) + le16(1) + le32(8000) + le32(8000)
        + le16(1) + le16(8) + "data" + le32(samples) + QByteArray(int(samples), char(0x80));
}

} // namespace

TEST(MediaModuleLoading, AMissingModuleIsReportedOnceFromTheEventLoopAndTheNextFileTriesAgain)
{
    TempDir empty;
    WatchedPlayer watched({empty.path(), empty.file(u"nowhere"_s)});
    ModuleMediaPlayer &player = watched.player;
    player.open(empty.file(u"a.mp3"_s));
    const QString text = watched.onlyFailure();
    EXPECT_TRUE(text.contains(u"talvino-media.so"_s)) << text.toStdString();
    EXPECT_TRUE(text.contains(empty.file(u"nowhere"_s))) << text.toStdString();

    player.play();
    player.pause();
    player.stop();
    EXPECT_FALSE(player.playedToEnd());
    EXPECT_EQ(watched.failed.count(), 0);

    player.open(empty.file(u"b.mp3"_s));
    EXPECT_EQ(watched.onlyFailure(), text);

    // A file opened before the report of the one before it arrives: only the open one counts.
    player.open(empty.file(u"c.mp3"_s));
    player.open(empty.file(u"d.mp3"_s));
    EXPECT_EQ(watched.onlyFailure(), text);
}

TEST(MediaModuleLoading, TheFirstModuleFoundIsUsedAndABrokenOneIsReportedWithTheLoadersReason)
{
    TempDir broken;
    broken.write(u"talvino-media.so"_s, "not a shared library");
    const bool loadedBefore = multimediaLoaded(); // by an earlier test in this process
    WatchedPlayer watched({broken.path(), builtModuleFolder()});
    watched.player.open(broken.file(u"a.mp3"_s));
    const QString text = watched.onlyFailure();
    EXPECT_TRUE(text.contains(broken.file(u"talvino-media.so"_s))) << text.toStdString();
    EXPECT_GT(text.size(), broken.file(u"talvino-media.so"_s).size() + 10) << "the loader's reason";
    EXPECT_EQ(multimediaLoaded(), loadedBefore) << "the real module, found second, is not used";
}

TEST(MediaModuleLoading, ALibraryWithoutThePlayersEntryIsNotUsed)
{
    TempDir foreign;
    ASSERT_TRUE(QFile::copy(QStringLiteral(TALVINO_NOT_A_MEDIA_MODULE), foreign.file(u"talvino-media.so"_s)));
    WatchedPlayer watched({foreign.path()});
    watched.player.open(foreign.file(u"a.mp3"_s));
    const QString text = watched.onlyFailure();
    EXPECT_TRUE(text.contains(u"talvino_media_backend_v1"_s)) << text.toStdString();
    watched.player.play();
    EXPECT_FALSE(watched.player.playedToEnd());
}

TEST(MediaModulePlayer, NothingPlaysAndNoMediaLibraryIsLoadedBeforeTheFirstFile)
{
    if (multimediaLoaded())
        GTEST_SKIP() << "an earlier test in this process loaded the media libraries";
    TestPeer peer;
    TForm2 settings(peer.context, new ModuleMediaPlayer({builtModuleFolder()}));
    settings.buildPages();
    QTest::mouseClick(settings.mdpPlay, Qt::LeftButton);
    QTest::mouseClick(settings.mdpPause, Qt::LeftButton);
    QTest::mouseClick(settings.mdpStop, Qt::LeftButton);
    EXPECT_FALSE(settings.player().playedToEnd());
    EXPECT_FALSE(settings.Timer1->isActive());
    EXPECT_FALSE(multimediaLoaded()) << "nothing to play yet";

    peer.dir.write(u"a.wav"_s, silentWav(200));
    settings.player().open(peer.dir.file(u"a.wav"_s));
    EXPECT_TRUE(multimediaLoaded());
}

TEST(MediaModulePlayer, AFileThatIsNotMediaShowsTheMediaSystemsDescriptionInAnErrorBox)
{
    TestPeer peer;
    TForm2 settings(peer.context, new ModuleMediaPlayer({builtModuleFolder()}));
    settings.buildPages();
    peer.dir.write(u"notes.mp3"_s, QByteArray(4096, 'x'));
    peer.prompts.openAnswers << peer.dir.file(u"notes.mp3"_s);
    settings.Button4Click();
    settings.mlist->setCurrentRow(0);
    settings.mlistDblClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !peer.prompts.texts(u"error"_s).isEmpty(); }, ReportWaitMs));
    const QString description = peer.prompts.texts(u"error"_s).first();
    EXPECT_FALSE(description.isEmpty());
    EXPECT_FALSE(description.contains(u"talvino-media.so"_s)) << "the module loaded";
    EXPECT_FALSE(settings.Timer1->isActive()) << "the player dropped the file";
    QTest::mouseClick(settings.mdpPlay, Qt::LeftButton);
    EXPECT_FALSE(settings.Timer1->isActive());
    EXPECT_FALSE(settings.player().playedToEnd());
}

TEST(MediaModulePlayer, WithoutTheModuleADoubleClickedEntryGivesOneErrorBoxAndTheTimerStaysOff)
{
    TestPeer peer;
    TempDir empty;
    TForm2 settings(peer.context, new ModuleMediaPlayer({empty.path()}));
    settings.buildPages();
    peer.prompts.openAnswers << u"/music/a.mp3"_s;
    settings.Button4Click();
    settings.mlist->setCurrentRow(0);
    settings.mlistDblClick();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !peer.prompts.texts(u"error"_s).isEmpty(); }, ReportWaitMs));
    QCoreApplication::processEvents();
    EXPECT_EQ(peer.prompts.texts(u"error"_s).size(), 1);
    EXPECT_TRUE(peer.prompts.texts(u"error"_s).first().contains(u"talvino-media.so"_s));
    EXPECT_FALSE(settings.Timer1->isActive()) << "nothing is open to advance from";
}

TEST(MediaModulePlayer, AShortSoundPlaysToItsEndAndAfterStopPlaysAgainFromTheStart)
{
    TempDir dir;
    dir.write(u"beep.wav"_s, silentWav(300));
    WatchedPlayer watched({builtModuleFolder()});
    ModuleMediaPlayer &player = watched.player;
    player.open(dir.file(u"beep.wav"_s));
    EXPECT_FALSE(player.playedToEnd());
    player.play();
    const auto endedOrFailed = [&] { return player.playedToEnd() || !watched.failed.isEmpty(); };
    ASSERT_TRUE(QTest::qWaitFor(endedOrFailed, ReportWaitMs));
    ASSERT_TRUE(watched.failed.isEmpty()) << watched.failed.first().at(0).toString().toStdString();

    player.stop();
    EXPECT_FALSE(player.playedToEnd()) << "stop goes back to the start";
    player.play();
    ASSERT_TRUE(QTest::qWaitFor(endedOrFailed, ReportWaitMs));
    EXPECT_TRUE(watched.failed.isEmpty());
    EXPECT_TRUE(player.playedToEnd());
}
