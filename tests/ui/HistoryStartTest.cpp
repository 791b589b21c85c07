// The history at start and when things go wrong: the option that keeps "保存聊天记录" ticked
// across starts, a damaged database moved aside and rebuilt from the chat logs, and a full
// database reported in the status bar without losing what it holds.
#include "core/ChatLog.h"
#include "core/Gbk.h"
#include "harness/TempDir.h"
#include "tests/support/TestPeer.h"
#include "tests/support/Waits.h"
#include "ui/HistoryHitModel.h"
#include "ui/HistoryKeeper.h"
#include "ui/HistorySearchWindow.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QStatusBar>

#include <memory>

using namespace Qt::Literals::StringLiterals;

namespace {

const QByteArray NameLine = "[MainSection]\r\nName=" + Gbk::encode(u"阿红"_s) + "\r\n";

// The texts of the hits of query in peer's history, newest first, once the search answered.
QStringList found(const TestPeer &peer, const QString &query)
{
    peer.form1->openHistorySearch(QString());
    HistorySearchWindow *window = peer.form1->historySearch();
    if (!window)
        return {u"no search window"_s};
    window->query->setText(query);
    window->searchNow();
    EXPECT_EVENTUALLY(!window->searching());
    QStringList texts;
    for (int row = 0; row < window->hitModel().count(); ++row)
        texts << window->hitModel().hit(row).excerpt;
    return texts;
}

// A folder that outlives the peers started in it one after another.
class HistoryStart : public ::testing::Test {
protected:
    std::unique_ptr<TestPeer> startPeer()
    {
        auto peer = std::make_unique<TestPeer>(u"127.0.0.2"_s, folder.path());
        peer->start();
        return peer;
    }
    void writeIni(const QByteArray &bytes) const { folder.write(u"myinfo.ini"_s, bytes); }

    TempDir folder;
};

// Old files without the key start with the option off; the key ticks it at every start, for
// the program's settings window (its pages not made yet) as for one whose pages are made.
TEST_F(HistoryStart, TheKeepTickedKeyDecidesTheOptionAtStart)
{
    struct Case {
        const char *what;
        QByteArray ini;
        bool ticked;
    };
    for (const Case &c : {Case{"a file of an older version", NameLine, false},
                          Case{"kept off", NameLine + "KeepSaveChatLog=0\r\n", false},
                          Case{"kept on", NameLine + "KeepSaveChatLog=1\r\n", true},
                          Case{"not a number", NameLine + "KeepSaveChatLog=yes\r\n", false}}) {
        SCOPED_TRACE(c.what);
        writeIni(c.ini);
        {
            PeerContext context;
            context.keepFilesIn(folder.path());
            TForm2 unbuilt(context);
            EXPECT_EQ(unbuilt.saveChatLog(), c.ticked);
        }
        std::unique_ptr<TestPeer> peer = startPeer();
        EXPECT_EQ(peer->form2->bcf->isChecked(), c.ticked);
        EXPECT_EQ(peer->form2->keepbcf->isChecked(), c.ticked);
        EXPECT_EQ(peer->form1->history().recording(), c.ticked);
        EXPECT_EQ(QFile::exists(folder.file(u"history.db"_s)), c.ticked);
        peer.reset();
        QFile::remove(folder.file(u"history.db"_s));
    }
}

// Ticking the keep option in one run ticks the save option, and the next run (new windows on the
// same myinfo.ini) starts with both ticked, storing at once; clearing it is kept as well.
TEST_F(HistoryStart, TheKeepTickedOptionSurvivesARestart)
{
    writeIni(NameLine);
    {
        std::unique_ptr<TestPeer> first = startPeer();
        EXPECT_FALSE(first->form2->bcf->isChecked());
        first->form2->keepbcf->setChecked(true);
        EXPECT_TRUE(first->form2->bcf->isChecked()) << "keeping it ticked ticks it now";
        EXPECT_TRUE(first->form1->history().recording());
    }
    EXPECT_TRUE(folder.read(u"myinfo.ini"_s).contains(QByteArray("Name=" + Gbk::encode(u"阿红"_s))));
    {
        std::unique_ptr<TestPeer> second = startPeer();
        EXPECT_TRUE(second->form2->bcf->isChecked());
        EXPECT_TRUE(second->form2->keepbcf->isChecked());
        EXPECT_TRUE(second->form1->history().recording());
        second->form2->keepbcf->setChecked(false);
        EXPECT_TRUE(second->form2->bcf->isChecked()) << "clearing the keep option leaves this run's choice";
    }
    std::unique_ptr<TestPeer> third = startPeer();
    EXPECT_FALSE(third->form2->bcf->isChecked());
    EXPECT_FALSE(third->form1->history().recording());
    EXPECT_TRUE(third->reporter.errors.isEmpty()) << third->reporter.errors.join(u'\n').toStdString();
}

// A damaged database at start is moved aside (kept under the name the box gives), rebuilt from
// the chat logs by the import, and the person is told once: the next start says nothing.
TEST_F(HistoryStart, ADamagedDatabaseIsMovedAsideRebuiltFromTheLogsAndToldOnce)
{
    writeIni(NameLine + "KeepSaveChatLog=1\r\n");
    const QDateTime at(QDate(2024, 3, 5), QTime(9, 30, 0));
    QString log;
    log += TForm3::historyEntry(u"[1]老王"_s, at, u"下午三点开会"_s) + u"\r\n"_s;
    log += TForm3::historyEntry(u"阿红"_s, at.addSecs(60), u"好的我准时到"_s) + u"\r\n"_s;
    ChatLog::write(ChatLog::fileName(folder.path(), u"[1]老王"_s), log);
    QByteArray damage;
    for (int i = 0; i < 200; ++i)
        damage += "not a database at all ";
    folder.write(u"history.db"_s, damage);

    std::unique_ptr<TestPeer> peer = startPeer();
    const auto told = [](const TestPeer &p) {
        QStringList boxes;
        for (const QString &text : p.prompts.texts(u"information"_s))
            if (text.contains(u"已损坏"_s))
                boxes << text;
        return boxes;
    };
    const QStringList boxes = told(*peer);
    ASSERT_EQ(boxes.size(), 1) << peer->prompts.texts().join(u'\n').toStdString();
    QString movedTo;
    for (const QString &line : boxes.first().split(u'\n'))
        if (line.startsWith(folder.path()))
            movedTo = line;
    ASSERT_FALSE(movedTo.isEmpty()) << boxes.first().toStdString();
    QFile moved(movedTo);
    ASSERT_TRUE(moved.open(QIODevice::ReadOnly)) << movedTo.toStdString();
    EXPECT_EQ(moved.readAll(), damage) << "the damaged file is kept as it was";

    ASSERT_EVENTUALLY(!peer->form1->history().importing());
    EXPECT_EQ(found(*peer, u"开会"_s), QStringList{u"下午三点开会"_s});
    HistorySearchWindow *window = peer->form1->historySearch();
    ASSERT_EQ(window->hitModel().count(), 1);
    EXPECT_EQ(window->hitModel().hit(0).buddy, u"[1]老王"_s);
    EXPECT_EQ(found(*peer, u"准时"_s), QStringList{u"好的我准时到"_s});
    EXPECT_EQ(int(window->hitModel().hit(0).direction), int(MessageDirection::Sent));

    peer.reset();
    std::unique_ptr<TestPeer> again = startPeer();
    EXPECT_TRUE(told(*again).isEmpty());
    EXPECT_EQ(found(*again, u"开会"_s), QStringList{u"下午三点开会"_s}) << "imported once, not twice";
}

// A database that is full (as a full disk) fails an add: the status bar says so, what was
// stored stays, and the next add is stored as usual.
TEST_F(HistoryStart, AFullDatabaseIsReportedInTheStatusBarAndLosesNothing)
{
    writeIni(NameLine);
    std::unique_ptr<TestPeer> peer = startPeer();
    HistoryKeeper &keeper = peer->form1->history();
    keeper.setMaxBytes(256 * 1024);
    peer->form2->bcf->setChecked(true);
    ASSERT_EVENTUALLY(!keeper.importing());
    const QDateTime now = QDateTime::currentDateTime();
    keeper.add({u"老王"_s, u"127.0.0.9"_s, now, MessageDirection::Received, u"第一条已存"_s});
    EXPECT_TRUE(peer->form1->zt->currentMessage().isEmpty());

    // Many different characters: its index alone needs more than the database may hold.
    QString huge;
    for (int i = 0; i < 60000; ++i)
        huge += QChar(char16_t(0x4E00 + (i * 7919) % 20000));
    keeper.add({u"老王"_s, u"127.0.0.9"_s, now.addSecs(1), MessageDirection::Received, huge});
    const QString shown = peer->form1->zt->currentMessage();
    EXPECT_TRUE(shown.contains(u"未能存入"_s)) << shown.toStdString();
    EXPECT_TRUE(shown.contains(u"SQLITE_FULL"_s)) << shown.toStdString();

    keeper.add({u"老王"_s, u"127.0.0.9"_s, now.addSecs(2), MessageDirection::Received, u"第三条已存"_s});
    EXPECT_EQ(found(*peer, u"已存"_s), (QStringList{u"第三条已存"_s, u"第一条已存"_s}));
}

} // namespace
