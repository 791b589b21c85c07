#include "core/Gbk.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "ui/PaneText.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm5.h"

#include <QAction>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QPlainTextEdit>
#include <QRegularExpression>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>

using namespace Qt::Literals::StringLiterals;

namespace {

const QString Rule = QString(51, u'-');

// Entries as the dispatcher and the message window make them, and texts a peer may send.
const QStringList Entries{
    u"[1]阿红:[14:05:09]\r\n你好\r\n"_s + Rule,
    u":[14:05:10]\r\nline\rbreaks\nof its own\r\n"_s + Rule,
    u"[对方自动回复]:[14:05:11]\r\nno\u00A0break space, line\u2028separator\r\n"_s + Rule,
    QString(),
    u"你对[1]阿红说:[2026-12-07 14:05:12]\r\n好的\r\n"_s + Rule,
};

// What the pane holds when the entries are appended one at a time.
QString appendedOneByOne(const QStringList &entries)
{
    QPlainTextEdit pane;
    for (const QString &entry : entries)
        pane.appendPlainText(PaneText::shown(entry));
    return pane.toPlainText();
}

// A started peer on 127.0.0.2 in chat-room mode, its view open.
class ChatRoomBatch : public ::testing::Test {
protected:
    ChatRoomBatch()
    {
        peer.storeNickname(u"阿明"_s);
        peer.start();
        peer.form1->N7->trigger();
        view = peer.form2->chatRoomView();
    }
    void SetUp() override { ASSERT_NE(view, nullptr); }

    void append(const QStringList &entries)
    {
        for (const QString &entry : entries)
            peer.form1->appendChatRoomEntry(entry);
    }
    bool paneShows(const QString &text)
    {
        return QTest::qWaitFor([&] { return view->lts->toPlainText() == text; }, 5000);
    }
    void minimise()
    {
        view->showMinimized();
        ASSERT_TRUE(QTest::qWaitFor([&] { return view->isMinimized(); }, 5000));
    }
    QByteArray saved() const { return peer.dir.read(u"chatdat/聊天室.txt"_s); }
    static QByteArray fileOf(const QString &paneText)
    {
        return Gbk::encode(paneText.split(u'\n').join(u"\r\n"_s) + u"\r\n"_s);
    }

    TestPeer peer;
    TForm5 *view = nullptr;
};

// Entries made close together wait to be appended in one write; an end that runs no further
// turn of the event loop (the display lost) still writes them.
TEST_F(ChatRoomBatch, AnAbruptEndWritesTheEntriesWaitingToBeAppended)
{
    view->bc->stop();
    view->appending->setInterval(60000);
    peer.form2->bcf->setChecked(true);
    append({Entries[0], Entries[1]});
    QCoreApplication::processEvents();
    EXPECT_EQ(saved(), QByteArray());
    peer.form1->endAbruptly();
    EXPECT_EQ(saved(), fileOf(appendedOneByOne({Entries[0], Entries[1]})));
}

} // namespace

// The transcript's file form of an entry is worked out without a document; it must be what the
// pane gives back once the entry is appended, for every mix of the characters a document
// treats specially (breaks of each kind, no-break space, frame marks, object replacement,
// NUL, surrogates) up to three at a time.
TEST(ChatRoomFileForm, IsWhatThePaneGivesBackForEveryMixOfSpecialCharacters)
{
    const QStringList pieces{u"a"_s, u"中"_s, u"\r"_s, u"\n"_s, u"\r\n"_s, QString(QChar(0x2028)),
                             QString(QChar(0x2029)), QString(QChar(0x00A0)), QString(QChar(0xFDD0)),
                             QString(QChar(0xFDD1)), u"\t"_s, QString(QChar(0)), QString(QChar(0xFFFC)),
                             u"😀"_s, QString(QChar(0xD800))};
    QStringList texts{QString()};
    for (int length = 1, from = 0; length <= 3; ++length) {
        const qsizetype to = texts.size();
        for (qsizetype i = from; i < to; ++i)
            for (const QString &piece : pieces)
                texts << texts[i] + piece;
        from = int(to);
    }
    QPlainTextEdit pane;
    for (const QString &text : texts) {
        pane.setPlainText(u"x"_s);
        pane.appendPlainText(PaneText::shown(text));
        ASSERT_EQ(pane.toPlainText(), u"x\n"_s + PaneText::givenBack(PaneText::shown(text)))
            << QStringList(text.begin(), text.end()).join(u'|').toStdString();
    }
}

TEST_F(ChatRoomBatch, EntriesOfOneTurnReachThePaneInOneEditInTheirOrder)
{
    int edits = 0;
    QObject::connect(view->lts->document(), &QTextDocument::contentsChanged, [&] { ++edits; });
    const QStringList first = Entries.mid(3) + Entries.mid(0, 3); // the empty entry first
    append(first);
    EXPECT_TRUE(view->lts->toPlainText().isEmpty()) << "shown only once the turn is over";
    ASSERT_TRUE(paneShows(appendedOneByOne(first)));
    EXPECT_EQ(edits, 1);

    append(Entries);
    ASSERT_TRUE(paneShows(appendedOneByOne(first + Entries)));
    EXPECT_EQ(edits, 2);
    EXPECT_EQ(view->transcript(), PaneText::get(view->lts) + u"\r\n"_s);
}

// Entries that keep coming, one every few milliseconds, are shown as they come but in few edits:
// at most one every ShowInterval.
TEST_F(ChatRoomBatch, AStreamOfEntriesIsShownInAtMostOneEditPerInterval)
{
    int edits = 0;
    QObject::connect(view->lts->document(), &QTextDocument::contentsChanged, [&] { ++edits; });
    QStringList sent;
    QElapsedTimer clock;
    clock.start();
    QTimer arriving;
    QObject::connect(&arriving, &QTimer::timeout, [&] {
        sent << u"第%1条"_s.arg(sent.size());
        append({sent.last()});
        if (clock.elapsed() >= 5 * TForm5::ShowInterval)
            arriving.stop();
    });
    arriving.start(5);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !arriving.isActive(); }, 10000));
    ASSERT_TRUE(paneShows(appendedOneByOne(sent)));
    EXPECT_GE(sent.size(), 20);
    EXPECT_LE(edits, clock.elapsed() / TForm5::ShowInterval + 2) << sent.size() << " entries";
}

TEST_F(ChatRoomBatch, ABurstOfDatagramsIsTranscribedInArrivalOrder)
{
    RawUdpPeer raw{u"127.0.0.3"_s};
    ASSERT_TRUE(raw.isBound());
    constexpr int Count = 40;
    for (int i = 0; i < Count; ++i)
        raw.send(peer.ip(), '1' + Gbk::encode(u"第%1条"_s.arg(i)));
    ASSERT_TRUE(QTest::qWaitFor([&] { return view->lts->blockCount() >= 3 * Count; }, 5000));
    const QStringList lines = view->lts->toPlainText().split(u'\n');
    ASSERT_EQ(lines.size(), 3 * Count);
    const QRegularExpression stranger(u"^陌生人:\\[\\d{1,2}:\\d{2}:\\d{2}\\]$"_s);
    for (int i = 0; i < Count; ++i) {
        EXPECT_TRUE(stranger.match(lines[3 * i]).hasMatch()) << lines[3 * i].toStdString();
        EXPECT_EQ(lines[3 * i + 1], u"第%1条"_s.arg(i));
        EXPECT_EQ(lines[3 * i + 2], Rule);
    }
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

TEST_F(ChatRoomBatch, AMinimisedViewLaysNothingOutAndLosesNothing)
{
    append(Entries.mid(0, 1));
    ASSERT_TRUE(paneShows(appendedOneByOne(Entries.mid(0, 1))));
    minimise();
    append(Entries.mid(1));
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(view->lts->toPlainText(), appendedOneByOne(Entries.mid(0, 1))) << "nobody sees them";

    view->showNormal();
    ASSERT_TRUE(paneShows(appendedOneByOne(Entries)));

    // Saved while minimised: the file holds every entry, and the pane shows the same later.
    minimise();
    append(Entries.mid(0, 2));
    peer.form2->bcf->setChecked(true);
    view->bcTimer();
    const QString all = appendedOneByOne(Entries + Entries.mid(0, 2));
    EXPECT_EQ(saved(), fileOf(all));
    view->showNormal();
    EXPECT_TRUE(paneShows(all));
}

TEST_F(ChatRoomBatch, TimersRunOnlyWhileTheViewIsOpenAndClosingSavesTheRest)
{
    EXPECT_TRUE(view->Timer1->isActive());
    EXPECT_TRUE(view->bc->isActive());
    peer.form2->bcf->setChecked(true);
    append(Entries.mid(0, 2));
    view->close();
    EXPECT_FALSE(view->Timer1->isActive());
    EXPECT_FALSE(view->bc->isActive());
    EXPECT_TRUE(view->Timer2->isActive()) << "released later";
    EXPECT_EQ(saved(), fileOf(appendedOneByOne(Entries.mid(0, 2)))) << "saved at closing";

    // A view closed while the option is off writes nothing.
    QFile::remove(peer.dir.file(u"chatdat/聊天室.txt"_s));
    peer.form2->bcf->setChecked(false);
    peer.form1->N7->trigger();
    TForm5 *next = peer.form2->chatRoomView();
    ASSERT_NE(next, nullptr);
    next->appendEntry(Entries.first());
    next->close();
    EXPECT_FALSE(next->bc->isActive());
    EXPECT_FALSE(QFile::exists(peer.dir.file(u"chatdat/聊天室.txt"_s)));
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}

// With the option on, each entry reaches the file within AppendDelay ms of being made, as the
// transcript will hold it, without waiting for the save timer and without laying out a
// minimised view. The view's first save replaces what an earlier chat-room period left; entries made while the option is
// off are written, with the rest of the transcript, by the first save after it is on again.
TEST_F(ChatRoomBatch, EachEntryReachesTheFileAsItIsMade)
{
    view->bc->stop();
    peer.dir.write(u"chatdat/聊天室.txt"_s, Gbk::encode(u"前一次的记录\r\n"_s));
    minimise();
    const QString paneBefore = view->lts->toPlainText();
    struct Step {
        const char *what;
        QString entry;
        bool saving;
        int inFile; // how many of the entries so far the file holds afterwards
    };
    const std::array<Step, 8> steps{{
        {"an empty entry first adds no line, and replaces the earlier period", QString(), true, 1},
        {"a message", Entries[0], true, 2},
        {"line breaks of its own", Entries[1], true, 3},
        {"a no-break space and a line separator", Entries[2], true, 4},
        {"an empty entry later is an empty line", QString(), true, 5},
        {"a sent message", Entries[4], true, 6},
        {"the option off writes nothing", Entries[0], false, 6},
        {"the option on again writes the whole transcript", Entries[1], true, 8},
    }};
    QStringList made;
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        peer.form2->bcf->setChecked(step.saving);
        made << step.entry;
        append({step.entry});
        EXPECT_TRUE(view->appending->isActive());
        ASSERT_TRUE(QTest::qWaitFor([&] { return !view->appending->isActive(); }, 1000));
        const QString pane = appendedOneByOne(made.mid(0, step.inFile));
        EXPECT_EQ(saved(), pane.isEmpty() ? QByteArray() : fileOf(pane));
        if (step.saving && step.inFile == made.size() && &step != &steps.back()) {
            EXPECT_EQ(view->lts->toPlainText(), paneBefore) << "nobody sees them: nothing laid out";
        }
    }
    view->showNormal();
    EXPECT_TRUE(paneShows(appendedOneByOne(made)));
    EXPECT_EQ(saved(), fileOf(appendedOneByOne(made)));
    EXPECT_TRUE(peer.reporter.errors.isEmpty());
}
