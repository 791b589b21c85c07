// The tray icon and the desktop notices against real desktop parts, run by tests/desktop/run.sh:
// an X server with a window manager, a tray host and a notification daemon on a private
// session bus. Peer A (阿明, 127.0.0.2) writes to peer B (阿红, 127.0.0.3), which has its
// desktop presence. The tests drive the desktop from outside as a person would (xdotool
// clicks and keys, dunstctl) and read what the daemon shows (dunstctl history).
#include "tests/ui/Conversation.h"
#include "tests/ui/NearbyPair.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TransferWindows.h"
#include "ui/DesktopPresence.h"
#include "ui/TrayIcon.h"

#include <QDBusConnection>
#include <QDir>
#include <QDrag>
#include <QLabel>
#include <QMimeData>
#include <QMouseEvent>
#include <QUrl>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMenu>
#include <QProcess>
#include <QScreen>
#include <QSignalSpy>
#include <QSystemTrayIcon>
#include <QTemporaryDir>

using namespace Qt::Literals::StringLiterals;

namespace {

// Runs a desktop tool (bounded) and returns what it wrote.
QByteArray tool(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(1000);
        ADD_FAILURE() << program.toStdString() << " did not finish";
    }
    return process.readAllStandardOutput();
}

QPoint centreOf(const QRect &rect) { return rect.center(); }

void click(const QPoint &at, int button)
{
    tool(u"xdotool"_s, {u"mousemove"_s, QString::number(at.x()), QString::number(at.y()), u"click"_s,
                        QString::number(button)});
}

int dunstCount(const QString &which) { return tool(u"dunstctl"_s, {u"count"_s, which}).trimmed().toInt(); }

int allNotices() { return dunstCount(u"displayed"_s) + dunstCount(u"waiting"_s) + dunstCount(u"history"_s); }

// The notices in dunst's history, newest first: each with its summary, body and the message as
// dunst formats it (Pango markup, in which the text it shows literally stands escaped).
QList<QJsonObject> history()
{
    const QJsonDocument json = QJsonDocument::fromJson(tool(u"dunstctl"_s, {u"history"_s}));
    QList<QJsonObject> notices;
    for (const QJsonValue &list : json.object().value(u"data"_s).toArray())
        for (const QJsonValue &notice : list.toArray())
            notices << notice.toObject();
    return notices;
}

QString field(const QJsonObject &notice, const QString &name)
{
    return notice.value(name).toObject().value(u"data"_s).toString();
}

// Saves the screen's rect as name under $SHOTS_DIR, when that is set.
void screenshot(const QString &name, const QRect &rect)
{
    const QString dir = qEnvironmentVariable("SHOTS_DIR");
    if (dir.isEmpty())
        return;
    QTest::qWait(600); // the daemon and the menu finish drawing; only for the picture
    QScreen *screen = QGuiApplication::primaryScreen();
    screen->grabWindow(0).copy(rect.intersected(screen->geometry())).save(QDir(dir).filePath(name));
}

class DesktopTest : public Conversation {
protected:
    void SetUp() override
    {
        Conversation::SetUp();
        ASSERT_TRUE(QTest::qWaitFor([] { return TrayIcon::available(); }, 10000)) << "no tray host";
        presence = std::make_unique<DesktopPresence>(*b.form1, *b.form2, true, [] { return QDBusConnection::sessionBus(); },
                                                     AutostartEntry(config.path(), u"/usr/bin/talvino"_s));
        tool(u"dunstctl"_s, {u"close-all"_s});
    }
    void TearDown() override { presence.reset(); }

    // A writes text to B from its message window.
    void aSays(const QString &text)
    {
        TForm3 *window = writeToFirstBuddy(a);
        ASSERT_NE(window, nullptr);
        window->inpu->setPlainText(text);
        window->fs->click();
    }
    // The one notice B raised, once the daemon shows it and it was closed into the history.
    QJsonObject onlyNotice(QSignalSpy &shown, int before)
    {
        EXPECT_TRUE(!shown.isEmpty() || shown.wait(10000));
        EXPECT_TRUE(QTest::qWaitFor([&] { return allNotices() == before + 1; }, 10000));
        QTest::qWait(300); // a second notice would be on its way by now
        EXPECT_EQ(shown.size(), 1);
        EXPECT_EQ(allNotices(), before + 1);
        if (shown.isEmpty())
            return {};
        const int id = shown.first().first().toInt();
        tool(u"dunstctl"_s, {u"close-all"_s});
        QJsonObject found;
        const bool inHistory = QTest::qWaitFor(
            [&] {
                for (const QJsonObject &notice : history())
                    if (notice.value(u"id"_s).toObject().value(u"data"_s).toInt() == id)
                        found = notice;
                return !found.isEmpty();
            },
            5000);
        EXPECT_TRUE(inHistory) << "notice " << id << " is not in the history";
        return found;
    }
    // The information boxes B showed about the tray.
    qsizetype trayBoxes() const { return b.prompts.texts(u"information"_s).count(DesktopPresence::trayHint()); }

    QTemporaryDir config;
    std::unique_ptr<DesktopPresence> presence;
};

} // namespace

TEST_F(DesktopTest, TheTrayIconAppearsItsMenuWorksAndClosingHidesTheMainWindowThere)
{
    TrayIcon &tray = *presence->tray();
    ASSERT_TRUE(QTest::qWaitFor([&] { return tray.icon->geometry().width() > 0; }, 10000))
        << "the tray host did not embed the icon";
    befriend(); // B ends in normal status
    b.form1->N19->trigger();

    // The tray host may still be moving the icon into place: click again where it is now.
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            click(centreOf(tray.icon->geometry()), 3);
            return QTest::qWaitFor([&] { return tray.menu->isVisible(); }, 1000);
        },
        10000))
        << "right click opens the menu";
    const QRect menuRect(tray.menu->mapToGlobal(QPoint(0, 0)), tray.menu->size());
    screenshot(u"tray-menu.png"_s, menuRect.united(tray.icon->geometry()).adjusted(-60, -12, 60, 40));
    // "一般状态" chosen in the tray's menu: the main window shows it.
    click(tray.menu->mapToGlobal(centreOf(tray.menu->actionGeometry(b.form1->N18))), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.form1->N18->isChecked(); }, 5000));
    EXPECT_EQ(b.form1->statusText(), u"一般状态"_s);

    // Closed by the window manager (Alt+F4): hidden into the tray, with the box once.
    const QString id = QString::number(b.form1->winId());
    // Focused as a person does it, by a click on its title bar (the window manager may refuse
    // an activation request while the menu's grab ends).
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            tool(u"xdotool"_s, {u"windowactivate"_s, id});
            click(b.form1->frameGeometry().topLeft() + QPoint(30, (b.form1->geometry().top() - b.form1->frameGeometry().top()) / 2), 1);
            return QTest::qWaitFor([&] { return b.form1->isActiveWindow(); }, 1000);
        },
        10000))
        << tool(u"xdotool"_s, {u"getactivewindow"_s}).toStdString() << " is active, not " << id.toStdString();
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            if (b.form1->isActiveWindow())
                tool(u"xdotool"_s, {u"key"_s, u"alt+F4"_s});
            return QTest::qWaitFor([&] { return !b.form1->isVisible(); }, 1000);
        },
        10000));
    EXPECT_EQ(trayBoxes(), 1);

    // A click on the icon brings it back; "退出" in the menu ends the program.
    click(centreOf(tray.icon->geometry()), 1);
    ASSERT_TRUE(QTest::qWaitFor([&] { return b.form1->isVisible(); }, 5000));
    QSignalSpy closed(b.form1.get(), &TForm1::closed);
    ASSERT_TRUE(QTest::qWaitFor(
        [&] {
            click(centreOf(tray.icon->geometry()), 3);
            return QTest::qWaitFor([&] { return tray.menu->isVisible(); }, 1000);
        },
        10000));
    click(tray.menu->mapToGlobal(centreOf(tray.menu->actionGeometry(tray.quitItem))), 1);
    ASSERT_TRUE(!closed.isEmpty() || closed.wait(5000));
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(DesktopTest, AMessageRaisesExactlyOneNoticeWhoseActionOpensItsWindowAndClearsTheCount)
{
    befriend();
    QSignalSpy shown(&presence->notifier, &DesktopNotifier::shown);
    const int before = allNotices();
    aSays(u"今晚一起吃饭吗？"_s);
    TForm3 *in = waitForWindow(b);
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明 (1)"_s);
    screenshot(u"notification.png"_s, QRect(QGuiApplication::primaryScreen()->geometry().width() - 430, 0, 430, 170));
    in->showMinimized();
    ASSERT_TRUE(QTest::qWaitFor([&] { return in->isMinimized(); }, 5000));

    ASSERT_TRUE(!shown.isEmpty() || shown.wait(10000));
    ASSERT_TRUE(QTest::qWaitFor([] { return dunstCount(u"displayed"_s) == 1; }, 10000));
    tool(u"dunstctl"_s, {u"action"_s, u"0"_s});
    ASSERT_TRUE(QTest::qWaitFor([&] { return !in->isMinimized() && in->isActiveWindow(); }, 10000))
        << "the action opens the message's window";
    ASSERT_TRUE(QTest::qWaitFor([&] { return presence->unread.total() == 0; }, 5000));
    EXPECT_EQ(b.form1->userlist->item(0)->text(), u"[1]阿明"_s);

    const QJsonObject notice = onlyNotice(shown, before);
    EXPECT_EQ(field(notice, u"summary"_s), u"[1]阿明"_s);
    EXPECT_EQ(field(notice, u"body"_s), u"今晚一起吃饭吗？"_s);
    EXPECT_EQ(field(notice, u"appname"_s), u"Talvino"_s);
    EXPECT_TRUE(b.reporter.errors.isEmpty());
}

TEST_F(DesktopTest, MarkupInANicknameOrMessageIsShownLiterally)
{
    a.storeNickname(u"<b>粗</b>&"_s);
    a.form2->setNickname(u"<b>粗</b>&"_s);
    befriend();
    QSignalSpy shown(&presence->notifier, &DesktopNotifier::shown);
    const int before = allNotices();
    aSays(u"<i>斜</i> & <u>x</u>"_s);
    const QJsonObject notice = onlyNotice(shown, before);
    EXPECT_EQ(field(notice, u"summary"_s), u"[1]<b>粗</b>&"_s);
    // The daemon renders body markup: the body went in escaped, and the message it shows holds
    // the characters as entities, so they show as written and nothing turns bold or italic.
    EXPECT_EQ(field(notice, u"body"_s), u"&lt;i&gt;斜&lt;/i&gt; &amp; &lt;u&gt;x&lt;/u&gt;"_s);
    const QString message = field(notice, u"message"_s);
    EXPECT_TRUE(message.contains(u"&lt;i&gt;斜&lt;/i&gt; &amp; &lt;u&gt;x&lt;/u&gt;"_s)) << message.toStdString();
    EXPECT_TRUE(message.contains(u"&lt;b&gt;粗&lt;/b&gt;&amp;"_s)) << message.toStdString();
    EXPECT_FALSE(message.contains(u"<i>"_s) || message.contains(u"<u>"_s)) << message.toStdString();
}

// The program itself, started at login with the autostart entry's flag: its start-up steps
// run (the friend list of the last run is erased) and its icon sits in the tray, but no window
// shows until the icon is clicked.
TEST(DesktopProgramTest, StartedWithTheTrayFlagItStartsHiddenInTheTray)
{
    const QString program = qEnvironmentVariable("TALVINO_PROGRAM");
    if (program.isEmpty())
        GTEST_SKIP() << "TALVINO_PROGRAM names no program";
    ASSERT_TRUE(QTest::qWaitFor([] { return TrayIcon::available(); }, 10000)) << "no tray host";
    QTemporaryDir home;
    const QString config = home.filePath(u"config/talvino"_s);
    ASSERT_TRUE(QDir().mkpath(config));
    QFile ini(config + u"/myinfo.ini"_s);
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write("[MainSection]\r\nName=" + Gbk::encode(u"阿明"_s) + "\r\n[UserSection]\r\nCount=1\r\n1=[1]x\r\n");
    ini.close();

    QProcess talvino;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(u"HOME"_s, home.path());
    environment.insert(u"XDG_CONFIG_HOME"_s, home.filePath(u"config"_s));
    environment.insert(u"XDG_DATA_HOME"_s, home.filePath(u"data"_s));
    talvino.setProcessEnvironment(environment);
    talvino.start(program, {u"--tray"_s});
    ASSERT_TRUE(talvino.waitForStarted(10000));
    const QString pid = QString::number(talvino.processId());
    const auto visibleWindows = [&] {
        return QString::fromLatin1(tool(u"xdotool"_s, {u"search"_s, u"--onlyvisible"_s, u"--pid"_s, pid}))
            .split(u'\n', Qt::SkipEmptyParts);
    };
    const auto fileHolds = [&](const QByteArray &bytes) {
        QFile file(ini.fileName());
        return file.open(QIODevice::ReadOnly) && file.readAll().contains(bytes);
    };
    EXPECT_TRUE(QTest::qWaitFor([&] { return !fileHolds("UserSection"); }, 10000)) << "the start-up steps ran";
    ASSERT_TRUE(QTest::qWaitFor([&] { return visibleWindows().size() == 1; }, 10000)) << "the tray icon";
    // The icon is small; the main window is 150 pixels wide.
    const auto mainWindowShown = [&] {
        for (const QString &window : visibleWindows()) {
            const QByteArray shell = tool(u"xdotool"_s, {u"getwindowgeometry"_s, u"--shell"_s, window});
            const qsizetype at = shell.indexOf("WIDTH=");
            if (at >= 0 && shell.mid(at + 6).split('\n').first().toInt() >= 100)
                return true;
        }
        return false;
    };
    EXPECT_FALSE(mainWindowShown()) << "the main window stays hidden";
    const QString icon = visibleWindows().first();
    tool(u"xdotool"_s, {u"mousemove"_s, u"--window"_s, icon, u"5"_s, u"5"_s, u"click"_s, u"1"_s});
    EXPECT_TRUE(QTest::qWaitFor(mainWindowShown, 10000)) << "a click on the icon shows the main window";
    talvino.terminate();
    if (!talvino.waitForFinished(5000))
        talvino.kill();
    talvino.waitForFinished(5000);
}

namespace {

// A window that, pressed, drags the given files as a file manager does.
class FileDragSource : public QLabel {
public:
    explicit FileDragSource(QStringList paths) : QLabel(u"拖我"_s), paths_(std::move(paths))
    {
        setFixedSize(160, 120);
        setAlignment(Qt::AlignCenter);
    }

protected:
    void mousePressEvent(QMouseEvent *) override
    {
        auto *drag = new QDrag(this);
        auto *mime = new QMimeData;
        QList<QUrl> urls;
        for (const QString &path : paths_)
            urls << QUrl::fromLocalFile(path);
        mime->setUrls(urls);
        drag->setMimeData(mime);
        drag->exec(Qt::CopyAction);
    }

private:
    QStringList paths_;
};

// Files dragged from another window and dropped on a buddy in the main window's list, through
// the X server's drag and drop with the window manager running: the buddy is offered them.
TEST_F(Conversation, FilesDraggedOntoABuddyUnderTheWindowManagerAreOffered)
{
    befriend();
    QTemporaryDir folder;
    const QStringList paths{folder.filePath(u"一.txt"_s), folder.filePath(u"二.txt"_s)};
    for (const QString &path : paths) {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("x");
    }
    TransferWindows &files = *a.files;
    linkPresence(a, b.ip());
    linkPresence(b, a.ip());
    ASSERT_TRUE(QTest::qWaitFor([&] { return files.takesSets(b.ip()); }, 10000));
    a.form1->move(40, 40);
    a.form1->show();
    FileDragSource source(paths);
    source.move(400, 60);
    source.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(a.form1.get()) && QTest::qWaitForWindowExposed(&source));
    QTest::qWait(300); // the window manager has placed both

    QListWidget *list = a.form1->userlist;
    const QPoint from = source.mapToGlobal(source.rect().center());
    const QPoint to = list->viewport()->mapToGlobal(list->visualItemRect(list->item(0)).center());
    QProcess person;
    QStringList steps{u"mousemove"_s, QString::number(from.x()), QString::number(from.y()), u"sleep"_s, u"0.3"_s,
                      u"mousedown"_s, u"1"_s};
    for (int i = 1; i <= 10; ++i) {
        const QPoint at = from + (to - from) * i / 10;
        steps << u"sleep"_s << u"0.1"_s << u"mousemove"_s << QString::number(at.x()) << QString::number(at.y());
    }
    steps << u"sleep"_s << u"0.3"_s << u"mouseup"_s << u"1"_s;
    person.start(u"xdotool"_s, steps);
    const bool offered = QTest::qWaitFor([&] { return !files.setSendWindows().isEmpty(); }, 15000);
    person.waitForFinished(5000);
    ASSERT_TRUE(offered) << "nothing was offered";
    EXPECT_EQ(files.setSendWindows().constFirst()->chosenPaths(), paths);
    EXPECT_EQ(files.setSendWindows().constFirst()->peerIp(), b.ip());
}

} // namespace
