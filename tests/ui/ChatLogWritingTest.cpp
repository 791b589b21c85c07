// The chat log as the message windows write it: each entry appended once, when it is made,
// whatever the order in which the windows close, after the bytes an older log already holds.
#include "core/ChatLog.h"
#include "core/Gbk.h"
#include "core/Packet.h"
#include "tests/support/RawUdpPeer.h"
#include "tests/support/TestPeer.h"
#include "tests/support/Waits.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"
#include "ui/TForm3.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>

#include <QThread>

#include <algorithm>
#include <array>
#include <atomic>
#include <fcntl.h>
#include <optional>
#include <sys/file.h>
#include <thread>
#include <unistd.h>

using namespace Qt::Literals::StringLiterals;

namespace {

// Long enough for a write that does not wait to have happened.
constexpr unsigned long WaitForWrongAppendMs = 200;

// What three messages from one stranger say, in the order they are sent.
const QStringList Texts{u"早上好"_s, u"在吗？"_s, u"回我\r\n第二行"_s};

// A log entry of a stranger's message: name, stamp, CR, text, CR, and the CR LF that ends it.
QString entryPattern(const QString &text)
{
    return u"陌生人:\\[[^\\]\\r\\n]+\\]\\r"_s + QRegularExpression::escape(text) + u"\\r\\r\\n"_s;
}

// B on 127.0.0.2 with the save option on; strangers send it messages.
class ChatLogWriting : public ::testing::Test {
protected:
    ChatLogWriting()
    {
        peer.storeNickname(u"阿红"_s);
        peer.start();
        peer.form2->bcf->setChecked(true);
    }

    QString logPath() const { return peer.dir.file(u"chatdat/陌生人.txt"_s); }
    QByteArray log() const { return peer.dir.read(u"chatdat/陌生人.txt"_s); }

    // The open message windows of one sender, oldest first.
    QList<TForm3 *> windowsOf(const QString &ip) const
    {
        QList<TForm3 *> found;
        for (TForm3 *window : peer.form1->findChildren<TForm3 *>())
            if (window->isVisible() && window->ip->text() == ip)
                found << window;
        return found;
    }

    // The sender's messages, each in a window of its own, once all are open.
    QList<TForm3 *> receive(RawUdpPeer &sender, const QStringList &texts)
    {
        for (const QString &text : texts)
            sender.send(peer.ip(), Packet::message(text));
        EXPECT_EVENTUALLY(windowsOf(sender.address()).size() == texts.size());
        return windowsOf(sender.address());
    }

    TestPeer peer;
};

} // namespace

// Three windows of one sender, closed in each of the six orders, over no log, a log this
// program wrote and a log from elsewhere (bare LF breaks, no break at its end): the file keeps
// the older bytes as they were, then holds each message once, in arrival order, written as the
// window opened; closing writes nothing.
TEST_F(ChatLogWriting, EveryEntryIsLoggedOnceWhateverOrderTheWindowsCloseIn)
{
    struct OlderLog {
        const char *what;
        std::optional<QByteArray> bytes;
        QByteArray separator; // what goes between the older bytes and the first new entry
    };
    const std::array<OlderLog, 3> olderLogs{{
        {"no log", std::nullopt, ""},
        {"a log of this program", Gbk::encode(u"阿红:[2024-01-02 03:04:05]\r旧消息\r\r\n"_s), ""},
        {"a log from elsewhere", Gbk::encode(u"旧的\n记录"_s), "\r\n"},
    }};
    int sender = 10;
    for (const OlderLog &older : olderLogs) {
        std::array<int, 3> order{0, 1, 2};
        do {
            SCOPED_TRACE(testing::Message()
                         << older.what << ", closed in the order " << order[0] << order[1] << order[2]);
            QFile::remove(logPath());
            if (older.bytes)
                peer.dir.write(u"chatdat/陌生人.txt"_s, *older.bytes);
            RawUdpPeer stranger(u"127.0.0.%1"_s.arg(sender++));
            const QList<TForm3 *> windows = receive(stranger, Texts);
            ASSERT_EQ(windows.size(), 3);
            const QByteArray before = older.bytes.value_or(QByteArray());
            const QByteArray written = log();
            ASSERT_TRUE(written.startsWith(QByteArray(before + older.separator))) << written.toStdString();
            const QString added = Gbk::decode(written.mid(before.size() + older.separator.size()));
            EXPECT_TRUE(QRegularExpression(u"^"_s + entryPattern(Texts[0]) + entryPattern(Texts[1])
                                           + entryPattern(Texts[2]) + u"$"_s)
                            .match(added)
                            .hasMatch())
                << added.toStdString();
            // Each pane: the log as it was at opening, then the window's own message.
            for (int i = 0; i < 3; ++i) {
                EXPECT_EQ(windows[i]->chatLogPath(), logPath());
                EXPECT_TRUE(QRegularExpression(entryPattern(Texts[i]) + u"$"_s)
                                .match(windows[i]->historyText())
                                .hasMatch())
                    << windows[i]->historyText().toStdString();
            }
            EXPECT_EQ(windows[2]->historyText().count(u"陌生人:["_s), 3);

            for (int i : order) {
                windows[i]->close();
                EXPECT_FALSE(windows[i]->isVisible());
                EXPECT_EQ(log(), written) << "closing writes nothing";
            }
        } while (std::next_permutation(order.begin(), order.end()));
    }
    EXPECT_TRUE(peer.reporter.errors.isEmpty()) << peer.reporter.errors.join(u'\n').toStdString();
}

// A log that cannot be written (chatdat is a file) is reported at each attempt, the entries
// wait in their window, and closing the window writes them once the log can be written.
TEST_F(ChatLogWriting, EntriesThatCouldNotBeWrittenAreWrittenOnceByClosing)
{
    peer.dir.write(u"chatdat"_s, "a file where the folder should be");
    RawUdpPeer stranger(u"127.0.0.9"_s);
    const QList<TForm3 *> windows = receive(stranger, {u"你好"_s});
    ASSERT_EQ(windows.size(), 1);
    TForm3 *window = windows.first();
    const QString cannot = u"Cannot create file "_s + logPath();

    struct Step {
        const char *what;
        std::function<void()> act;
        int errors;
        bool open;
    };
    const std::array<Step, 4> steps{{
        {"the message arrives", [] {}, 1, true},
        {"the reply is sent",
         [&] {
             window->inpu->setPlainText(u"好的"_s);
             window->fs->click();
         },
         2, true},
        {"closing fails too", [&] { window->close(); }, 3, true},
        {"closing once the log can be written",
         [&] {
             QFile::remove(peer.dir.file(u"chatdat"_s));
             window->close();
         },
         3, false},
    }};
    for (const Step &step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(peer.reporter.errors, QStringList(step.errors, cannot));
        EXPECT_EQ(window->isVisible(), step.open);
    }
    ASSERT_TRUE(stranger.waitForDatagrams(1)) << "the reply went out although it was not logged";
    EXPECT_TRUE(
        QRegularExpression(u"^"_s + entryPattern(u"你好"_s) + u"阿红:\\[[^\\]]+\\]\\r好的\\r\\r\\n$"_s)
            .match(Gbk::decode(log()))
            .hasMatch())
        << log().toStdString();
}

// Another running copy appending to the same log holds its lock: an append waits for it, and
// only then looks at the file's last bytes, so its entry goes on a line of its own after the
// other one's, which ended mid-line.
TEST(ChatLogAppend, AnAppendWaitsForAnotherWritersLockAndGoesAfterItsBytes)
{
    const QTemporaryDir dir;
    const QString path = dir.filePath(u"chatdat/x.txt"_s);
    ChatLog::append(path, u"旧\r\n"_s);
    const int other = ::open(QFile::encodeName(path).constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
    ASSERT_GE(other, 0);
    ASSERT_EQ(::flock(other, LOCK_EX), 0);
    std::atomic<bool> appended = false;
    std::thread window([&] {
        ChatLog::append(path, u"新"_s);
        appended = true;
    });
    // Time for an append that took no lock to go through (a wrong one; a right one waits).
    QThread::msleep(WaitForWrongAppendMs);
    EXPECT_FALSE(appended);
    const QByteArray others = Gbk::encode(u"别的"_s);
    EXPECT_EQ(::write(other, others.constData(), size_t(others.size())), others.size());
    ::flock(other, LOCK_UN);
    window.join();
    ::close(other);
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), Gbk::encode(u"旧\r\n别的\r\n新"_s));
}
