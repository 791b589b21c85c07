// The program itself, ended from outside while a message window is open and the chat log is
// on: by the signals a desktop or a terminal sends (SIGTERM at logout or shutdown, SIGHUP,
// SIGINT) and by losing its display. Each run gets an X server of its own (Xvfb, no window
// manager), so that killing it touches nothing else, and a home of its own. The test acts as a
// person does: Enter on the first start's box, a click on the log option in the settings
// window (xdotool), a stranger's message datagram from a plain UDP socket.
#include "core/Gbk.h"
#include "core/Packet.h"
#include "core/PeerContext.h"
#include "harness/FakeMediaPlayer.h"
#include "tests/support/TestPeer.h"
#include "ui/TForm2.h"

#include <QCheckBox>
#include <QProcess>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTemporaryDir>
#include <QTest>
#include <QUdpSocket>
#include <gtest/gtest.h>

#include <array>
#include <csignal>

using namespace Qt::Literals::StringLiterals;

namespace {

// A desktop tool's run, an X server's start, a window's appearance.
constexpr int ToolMs = 10000;
// A program asked to end (or whose display went) has ended by then.
constexpr int EndMs = 5000;

// Runs xdotool on display (bounded) and returns what it wrote.
QByteArray xdotool(const QString &display, const QStringList &arguments)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"DISPLAY"_s, display);
    process.setProcessEnvironment(environment);
    process.start(u"xdotool"_s, arguments);
    if (!process.waitForFinished(ToolMs)) {
        process.kill();
        process.waitForFinished(ToolMs);
        ADD_FAILURE() << "xdotool " << arguments.join(u' ').toStdString() << " did not finish";
    }
    return process.readAllStandardOutput();
}

// An X server of its own, ended when it goes or on demand.
class PrivateDisplay {
public:
    PrivateDisplay()
    {
        // Xvfb names the display it found free on the descriptor given (its standard output)
        // once it listens. Without -noreset it starts afresh whenever its last client leaves,
        // and turns the next one away meanwhile.
        server_.start(u"Xvfb"_s,
                      {u"-displayfd"_s, u"1"_s, u"-noreset"_s, u"-screen"_s, u"0"_s, u"1024x768x24"_s,
                       u"-nolisten"_s, u"tcp"_s});
        if (!server_.waitForStarted(ToolMs)
            || !QTest::qWaitFor([&] { return server_.canReadLine(); }, ToolMs))
            return;
        name_ = u":"_s + QString::fromLatin1(server_.readLine().trimmed());
    }
    ~PrivateDisplay() { end(); }
    PrivateDisplay(const PrivateDisplay &) = delete;
    PrivateDisplay &operator=(const PrivateDisplay &) = delete;

    QString name() const { return name_; }
    void end()
    {
        if (server_.state() == QProcess::NotRunning)
            return;
        server_.terminate();
        if (!server_.waitForFinished(ToolMs))
            server_.kill();
        server_.waitForFinished(ToolMs);
    }

private:
    QProcess server_;
    QString name_;
};

// The visible window of process pid on display whose title is title, once it shows; empty
// when none did in time.
QString windowTitled(const QString &display, qint64 pid, const QString &title)
{
    QString found;
    (void)QTest::qWaitFor(
        [&] {
            const QByteArray ids = xdotool(
                display, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, QString::number(pid)});
            for (const QByteArray &id : ids.split('\n')) {
                if (!id.isEmpty()
                    && QString::fromUtf8(
                           xdotool(display, {u"getwindowname"_s, QString::fromLatin1(id)}).trimmed())
                        == title)
                    found = QString::fromLatin1(id);
            }
            return !found.isEmpty();
        },
        ToolMs);
    return found;
}

// Where the log option's box sits in the settings window, as this build lays the window out.
QPoint logOptionInSettings()
{
    QTemporaryDir folder;
    TestPeerBoxes boxes;
    PeerContext context;
    context.keepFilesIn(folder.path());
    context.prompts = &boxes.prompts;
    context.dialogs = &boxes.prompts;
    context.fontDialog = &boxes.prompts;
    context.reporter = &boxes.reporter;
    TForm2 settings(context, new FakeMediaPlayer);
    settings.setAttribute(Qt::WA_DontShowOnScreen);
    settings.show();
    QStyleOptionButton option;
    option.initFrom(settings.bcf);
    const QRect box = settings.bcf->style()->subElementRect(QStyle::SE_CheckBoxIndicator, &option,
                                                            settings.bcf);
    return settings.bcf->mapTo(&settings, box.center());
}

} // namespace

// Each ending, the program ends promptly, by itself (a signal: with status 0), and the
// message that was on screen is in the log once.
TEST(ProgramEndTest, AskedToEndOrLosingItsDisplayTheProgramEndsWithTheMessageLogged)
{
    const QString program = qEnvironmentVariable("TALVINO_PROGRAM");
    if (program.isEmpty())
        GTEST_SKIP() << "TALVINO_PROGRAM names no program";
    const QPoint logOption = logOptionInSettings();
    struct Ending {
        const char *what;
        int signal;         // 0: the display goes
        bool whileBoxWaits; // sent while the first start's box waits for an answer, before any message
    };
    const std::array<Ending, 5> endings{{
        {"SIGTERM", SIGTERM, false},
        {"SIGHUP", SIGHUP, false},
        {"SIGINT", SIGINT, false},
        {"the display lost", 0, false},
        {"SIGTERM while a box waits for an answer", SIGTERM, true},
    }};
    for (const Ending &ending : endings) {
        SCOPED_TRACE(ending.what);
        PrivateDisplay display;
        ASSERT_FALSE(display.name().isEmpty()) << "Xvfb did not start";
        QTemporaryDir home;
        QProcess talvino;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(u"HOME"_s, home.path());
        environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
        environment.insert(u"XDG_DATA_HOME"_s, home.filePath(u"data"_s));
        environment.insert(u"DISPLAY"_s, display.name());
        environment.insert(u"QT_QPA_PLATFORM"_s, u"xcb"_s);
        talvino.setProcessEnvironment(environment);
        talvino.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        talvino.start(program, {});
        ASSERT_TRUE(talvino.waitForStarted(ToolMs));
        const qint64 pid = talvino.processId();
        const auto stop = qScopeGuard([&] {
            if (talvino.state() != QProcess::NotRunning) {
                talvino.kill();
                talvino.waitForFinished(ToolMs);
            }
        });

        // The first start asks for a nickname: Enter on the box opens the settings window,
        // where the log option is ticked.
        const QString box = windowTitled(display.name(), pid, u"Information"_s);
        ASSERT_FALSE(box.isEmpty()) << "the first start's box";
        const auto end = [&] {
            if (ending.signal != 0)
                ::kill(pid_t(pid), ending.signal);
            else
                display.end();
            ASSERT_TRUE(talvino.waitForFinished(EndMs)) << "the program did not end";
            EXPECT_EQ(talvino.exitStatus(), QProcess::NormalExit)
                << "ended, not killed by the signal or a crash";
            if (ending.signal != 0) {
                EXPECT_EQ(talvino.exitCode(), 0);
            }
        };
        const QString logPath = home.filePath(u"data/talvino/chatdat/陌生人.txt"_s);
        if (ending.whileBoxWaits) {
            end();
            EXPECT_FALSE(QFile::exists(logPath));
            continue;
        }
        xdotool(display.name(), {u"windowfocus"_s, u"--sync"_s, box, u"key"_s, u"Return"_s});
        const QString settings = windowTitled(display.name(), pid, u"系统选项设置"_s);
        ASSERT_FALSE(settings.isEmpty()) << "the settings window";
        xdotool(display.name(),
                {u"mousemove"_s, u"--window"_s, settings, QString::number(logOption.x()),
                 QString::number(logOption.y()), u"click"_s, u"1"_s});

        // A stranger's message opens its window.
        const QString text = u"下班前的消息（%1）"_s.arg(QString::fromLatin1(ending.what));
        QUdpSocket stranger;
        ASSERT_TRUE(stranger.bind(QHostAddress(u"127.0.0.3"_s), 0));
        stranger.writeDatagram(Packet::message(text), QHostAddress(u"127.0.0.1"_s), 2928);
        ASSERT_FALSE(windowTitled(display.name(), pid, u"接收消息"_s).isEmpty()) << "the message's window";

        end();
        if (HasFatalFailure())
            return;
        QFile log(logPath);
        ASSERT_TRUE(log.open(QIODevice::ReadOnly)) << "no chat log";
        const QString logged = Gbk::decode(log.readAll());
        EXPECT_TRUE(QRegularExpression(u"^陌生人:\\[[^\\]]+\\]\\r"_s + QRegularExpression::escape(text)
                                       + u"\\r\\r\\n$"_s)
                        .match(logged)
                        .hasMatch())
            << logged.toStdString();
    }
}
