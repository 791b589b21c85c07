#include "tests/transfer/TwoPeers.h"
#include "ui/TForm3.h"
#include "ui/TForm5.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <malloc.h>
#include <string>
#include <vector>

using namespace Qt::Literals::StringLiterals;

namespace {

constexpr int MessagesEachWay = 10;
constexpr int ChatRoomMessages = 20;
constexpr qint64 FileSize = 1 << 20;
// Samples compared at the start and at the end of the measured part, by their medians.
constexpr size_t Compared = 5;
// Growth allowed after the warm-up. Qt's caches (glyphs, pixmaps, font look-ups) and the
// allocator's free lists settle at sizes of a few MiB that depend on the order of
// allocations, so the resident size moves by some hundred KiB from sample to sample; a leak
// of a few hundred bytes per message or per file, kept up for the measured part, exceeds this.
constexpr double RssToleranceMiB = 4.0;
// The allocator's bytes in use are what the program holds, without the free memory the
// allocator keeps: a steadier measure, which a leak of a few dozen bytes per message exceeds.
constexpr double HeapToleranceMiB = 1.0;
// Descriptors are counted when no window exists: every socket and file is closed then, so
// none may be left over.
constexpr int FdTolerance = 0;

struct Sample {
    double seconds = 0;
    double rssMiB = 0;
    double heapMiB = 0;
    int fds = 0;
};

double heapInUseMiB() { return double(mallinfo2().uordblks) / (1 << 20); }

double residentMiB()
{
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return double(std::atol(line.c_str() + 6)) / 1024;
    }
    return 0;
}

int openDescriptors()
{
    return int(QDir(u"/proc/self/fd"_s).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

double medianOf(std::vector<Sample>::const_iterator from, std::vector<Sample>::const_iterator to,
                double Sample::*field)
{
    std::vector<double> values;
    for (auto it = from; it != to; ++it)
        values.push_back((*it).*field);
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

int soakSeconds()
{
    const int fromEnvironment = qEnvironmentVariableIntValue("TALVINO_SOAK_SECONDS");
    return fromEnvironment > 0 ? fromEnvironment : TALVINO_SOAK_SECONDS;
}

} // namespace

// Two complete peers exchange messages through their message windows (both ways, and into a
// chat-room view that opens and closes each cycle) and files through their file windows, for
// TALVINO_SOAK_SECONDS. After every cycle, once every window has been released, the process's
// resident memory and open descriptors are sampled; after the warm-up neither may grow.
class SoakTest : public TwoPeers {
protected:
    SoakTest()
    {
        befriend(b, u"甲"_s, a.ip());
        source = makeFile(u"source.bin"_s, FileSize);
    }

    // from writes text to its one buddy through a new message window, which closes on sending.
    static void write(TestPeer &from, const QString &text)
    {
        from.form1->userlist->item(0)->setSelected(true);
        from.form1->N1->trigger();
        TForm3 *window = from.form1->findChildren<TForm3 *>().last();
        window->Timer1->setInterval(10);
        window->inpu->setPlainText(text);
        window->fs->click();
    }

    // The received message windows of peer, which its user reads and closes.
    static QStringList readAndClose(TestPeer &peer, int expected)
    {
        const auto received = [&] {
            QList<TForm3 *> open;
            for (TForm3 *w : peer.form1->findChildren<TForm3 *>())
                if (w->isVisible() && w->windowTitle() == u"接收消息"_s)
                    open << w;
            return open;
        };
        EXPECT_TRUE(QTest::qWaitFor([&] { return received().size() >= expected; }, Wait));
        QStringList texts;
        for (TForm3 *w : received()) {
            texts << w->mess->toPlainText();
            w->Timer1->setInterval(10);
            w->close();
        }
        return texts;
    }

    void messagesBothWays(int cycle)
    {
        QStringList sent;
        for (int i = 0; i < MessagesEachWay; ++i) {
            sent << u"第%1轮第%2条：你好"_s.arg(cycle).arg(i);
            write(a, sent.last());
        }
        EXPECT_EQ(readAndClose(b, MessagesEachWay), sent);
        for (int i = 0; i < MessagesEachWay; ++i)
            write(b, u"收到 %1"_s.arg(i));
        EXPECT_EQ(readAndClose(a, MessagesEachWay).size(), MessagesEachWay);
    }

    void chatRoomSession()
    {
        b.form1->N7->trigger();
        TForm5 *view = b.form2->chatRoomView();
        ASSERT_NE(view, nullptr);
        view->Timer2->setInterval(10);
        for (int i = 0; i < ChatRoomMessages; ++i)
            write(a, u"聊天室消息 %1"_s.arg(i));
        EXPECT_TRUE(QTest::qWaitFor(
            [&] { return view->transcript().count(QString(51, u'-')) == ChatRoomMessages; }, Wait));
        b.form1->N7->trigger(); // back to auto-pop-up mode: the view closes and is released
    }

    void fileFromAToB()
    {
        TForm6 *window = openSendWindow();
        ASSERT_NE(window, nullptr);
        TForm7 *received = offer(window, source, u"soak"_s);
        ASSERT_NE(received, nullptr);
        const QString target = files.file(u"received.bin"_s);
        accept(received, target);
        EXPECT_TRUE(QTest::qWaitFor(
            [&] {
                return a.prompts.texts(u"message"_s).contains(u"发送完毕！"_s)
                    && b.prompts.texts(u"message"_s).contains(u"接收完毕！"_s);
            },
            Wait));
        QFile copy(target);
        EXPECT_TRUE(copy.open(QIODevice::ReadOnly));
        EXPECT_EQ(copy.readAll(), files.read(u"source.bin"_s));
        copy.close();
        QFile::remove(target);
    }

    // No message, chat-room or file window left on either peer.
    bool allReleased() const
    {
        for (const TestPeer *peer : {&a, &b}) {
            if (!peer->form1->findChildren<TForm3 *>().isEmpty()
                || !peer->form1->findChildren<TForm5 *>().isEmpty()
                || !peer->form1->findChildren<TForm6 *>().isEmpty()
                || !peer->form1->findChildren<TForm7 *>().isEmpty())
                return false;
        }
        return true;
    }

    QString source;
};

TEST_F(SoakTest, MemoryAndDescriptorsDoNotGrowWhileTwoPeersKeepTalking)
{
    const int seconds = soakSeconds();
    const double warmUp = std::max(30.0, seconds * 0.15);
    QElapsedTimer clock;
    clock.start();
    std::vector<Sample> samples;
    // Room for every sample up front: the test's own samples must not count as growth.
    samples.reserve(size_t(seconds) * 100);
    int cycles = 0;
    double lastPrinted = -1e9;
    while (clock.elapsed() < qint64(seconds) * 1000) {
        messagesBothWays(cycles);
        chatRoomSession();
        fileFromAToB();
        ASSERT_TRUE(QTest::qWaitFor([&] { return allReleased(); }, Wait)) << "a window was not released";
        ASSERT_TRUE(a.reporter.errors.isEmpty()) << a.reporter.errors.join(u'\n').toStdString();
        ASSERT_TRUE(b.reporter.errors.isEmpty()) << b.reporter.errors.join(u'\n').toStdString();
        if (::testing::Test::HasFailure())
            return;
        // The recorded boxes are the test's own memory, not the peers'.
        a.prompts.shown.clear();
        b.prompts.shown.clear();
        ++cycles;
        const Sample s{double(clock.elapsed()) / 1000, residentMiB(), heapInUseMiB(), openDescriptors()};
        if (s.seconds >= warmUp)
            samples.push_back(s);
        if (s.seconds - lastPrinted >= 30) {
            std::printf(
                "soak %6.0f s  cycles %5d  rss %7.2f MiB  heap in use %6.2f MiB  fds %d  widgets %lld\n",
                s.seconds, cycles, s.rssMiB, s.heapMiB, s.fds,
                static_cast<long long>(QApplication::allWidgets().size()));
            std::fflush(stdout);
            lastPrinted = s.seconds;
        }
    }
    ASSERT_GE(samples.size(), 2 * Compared) << "too short a run to compare";
    const auto first = samples.cbegin(), last = samples.cend();
    const double rssStart = medianOf(first, first + Compared, &Sample::rssMiB);
    const double rssEnd = medianOf(last - Compared, last, &Sample::rssMiB);
    const double heapStart = medianOf(first, first + Compared, &Sample::heapMiB);
    const double heapEnd = medianOf(last - Compared, last, &Sample::heapMiB);
    const int fdStart = samples.front().fds;
    const int fdMax = std::max_element(first, last, [](const Sample &x, const Sample &y) {
                          return x.fds < y.fds;
                      })->fds;
    std::printf(
        "soak: %d cycles (%d messages, %d files) in %.0f s; after the %.0f s warm-up: rss %.2f -> %.2f MiB "
        "(%+.2f), heap in use %.2f -> %.2f MiB (%+.2f), fds %d -> %d (max %d)\n",
        cycles, cycles * (2 * MessagesEachWay + ChatRoomMessages), cycles, double(clock.elapsed()) / 1000,
        warmUp, rssStart, rssEnd, rssEnd - rssStart, heapStart, heapEnd, heapEnd - heapStart, fdStart,
        samples.back().fds, fdMax);
    EXPECT_LE(rssEnd - rssStart, RssToleranceMiB);
    EXPECT_LE(heapEnd - heapStart, HeapToleranceMiB);
    EXPECT_LE(fdMax - fdStart, FdTolerance);
}
