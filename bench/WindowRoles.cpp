#include "bench/WindowRoles.h"

#include "bench/BenchPeer.h"
#include "bench/WindowSession.h"
#include "core/PeerSecurity.h"
#include "net/TZnStrm.h"
#include "transfer/TForm6.h"
#include "transfer/SetReceiveWindow.h"
#include "transfer/SetSendWindow.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"
#include "ui/PresencePage.h"
#include "ui/TForm2.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QPushButton>
#include <QTimer>

#include <functional>

using namespace Qt::Literals::StringLiterals;

namespace {

// The peer is ready for the transfer: its endpoint bound and, with --main-window shown, its
// main window shown as a person has it (which runs its start-up steps), with a nickname saved
// by an earlier run, so that it does not ask for one.
// Encrypting peers bind every address, as the program does, so that each hears the other's
// presence broadcasts; the others bind their own address.
QString bindAddress(const BenchOptions &o, const std::string &own)
{
    return QString::fromStdString(o.sealed == "on" ? "0.0.0.0" : own);
}

// With --sealed on, presence finds the other peer (at otherIp, when given) and the two
// encrypt: the role waits until their datagrams are sealed. Otherwise presence is off, so the
// transfer is plain. Peers of the single-file roles do not take file sets, so that a file goes
// through the single-file windows; those of the set roles do.
enum class Sets { Refused, Taken };

void startPeer(BenchPeer &peer, const BenchOptions &o, const QString &nickname, const QString &otherIp = {},
               Sets sets = Sets::Refused)
{
    if (!peer.form1->receiving())
        fail("bind the datagram port");
    const bool sealed = o.sealed == "on";
    if (!sealed)
        peer.form2->presencePage->presenceOn->setChecked(false);
    peer.form1->setAnnounceFileSets(sets == Sets::Taken);
    if (o.mainWindow != "shown")
        return;
    peer.storeNickname(nickname);
    peer.start();
    if (!sealed || otherIp.isEmpty())
        return;
    // Presence runs in this loop; the check looks every 20 ms, for at most 30 s.
    QEventLoop loop;
    QTimer look, giveUp;
    QObject::connect(&look, &QTimer::timeout, &loop, [&] {
        if (peer.form1->security().linkTo(otherIp) == PeerSecurity::Link::Sealed
            && (sets == Sets::Refused || peer.files->takesSets(otherIp)))
            loop.quit();
    });
    QObject::connect(&giveUp, &QTimer::timeout, &loop, &QEventLoop::quit);
    look.start(20);
    giveUp.start(30000);
    loop.exec();
    if (peer.form1->security().linkTo(otherIp) != PeerSecurity::Link::Sealed
        || (sets == Sets::Taken && !peer.files->takesSets(otherIp))) {
        std::fprintf(stderr, "window_bench: %s never announced its key\n", otherIp.toUtf8().constData());
        std::exit(1);
    }
}

// A role that has not ended after this long gives up, so the benchmark always stops.
constexpr int RoleTimeLimitMs = 600000;

// Runs the event loop until the peer's first box; true when that was the expected end message.
bool runUntilEndMessage(QApplication &app, BenchPeer &peer, const QString &expected)
{
    bool ended = false;
    peer.prompts.onShown = [&](const QString &text) {
        ended = text == expected;
        app.quit();
    };
    QTimer::singleShot(RoleTimeLimitMs, &app, [&app] {
        std::fprintf(stderr, "window_bench: the file windows did not finish\n");
        app.quit();
    });
    app.exec();
    return ended;
}

// A receiving role once its peer runs: the user presses what press() finds as soon as it is
// there (press says so by returning true), then waits for "接收完毕！". The role's exit status.
int receiveAsTheUser(QApplication &app, BenchPeer &peer, const BenchOptions &o, const std::function<bool()> &press)
{
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &app, [&] {
        if (press())
            user.stop();
    });
    user.start(5);
    ready();
    reportStartCpu();
    const bool received = runUntilEndMessage(app, peer, u"接收完毕！"_s);
    return received && accessibilityAsAsked(o) ? 0 : 1;
}

} // namespace

int windowReceiver(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(bindAddress(o, o.ip));
    startPeer(peer, o, u"接收者"_s);
    // Encrypted, the offer is taken only once the sender's key is known (the file then comes
    // inside TLS); the sender waits for the receiver's key before it offers.
    const QString from = QString::fromStdString(o.from);
    const auto keyKnown = [&] {
        return o.sealed != "on" || peer.form1->security().linkTo(from) == PeerSecurity::Link::Sealed;
    };
    peer.prompts.saveAnswer = QString::fromStdString(o.dir + "/received-windows.bin");
    // The user presses "接收" as soon as the offer's window is there.
    return receiveAsTheUser(app, peer, o, [&] {
        TForm7 *window = peer.files->receiveWindow();
        if (!window || window->accepted() || !keyKnown())
            return false;
        window->Button1->click();
        return true;
    });
}

int windowSender(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(bindAddress(o, o.from));
    startPeer(peer, o, u"发送者"_s, QString::fromStdString(o.ip));
    peer.prompts.openAnswer = QString::fromStdString(o.file);
    peer.files->openSendFileWindow(QString::fromStdString(o.ip));
    TForm6 *window = peer.files->sendWindow();
    QElapsedTimer clock;
    const auto connected = window->fsd->OnConnect;
    window->fsd->OnConnect = [&clock, connected](RIzarorozi *sender) {
        clock.start();
        connected(sender);
    };
    reportStartCpu();
    window->Button1->click();
    if (!runUntilEndMessage(app, peer, u"发送完毕！"_s) || !accessibilityAsAsked(o))
        return 1;
    std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
    return 0;
}

int setReceiver(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(bindAddress(o, o.ip));
    startPeer(peer, o, u"接收者"_s, {}, Sets::Taken);
    const QString from = QString::fromStdString(o.from);
    peer.prompts.folderAnswer = QString::fromStdString(o.dir);
    // The user chooses the folder and presses "接收" as soon as the set's window is there.
    return receiveAsTheUser(app, peer, o, [&] {
        if (peer.form1->security().linkTo(from) != PeerSecurity::Link::Sealed)
            return false;
        for (SetReceiveWindow *window : peer.files->setReceiveWindows())
            if (!window->accepted()) {
                window->changeFolder->click();
                window->acceptButton->click();
                return true;
            }
        return false;
    });
}

int setSender(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    const QString to = QString::fromStdString(o.ip);
    BenchPeer peer(bindAddress(o, o.from));
    startPeer(peer, o, u"发送者"_s, to, Sets::Taken);
    peer.files->offerPaths(to, {QString::fromStdString(o.file)});
    const QList<SetSendWindow *> windows = peer.files->setSendWindows();
    if (windows.isEmpty())
        fail("open a set's send window");
    SetSendWindow *window = windows.last();
    QElapsedTimer clock;
    bool acknowledged = false;
    double seconds = 0;
    QObject::connect(window, &SetSendWindow::streamEnded, &app, [&](qint64, bool whole) {
        seconds = double(clock.nsecsElapsed()) / 1e9;
        acknowledged = whole;
        app.quit();
    });
    QTimer::singleShot(RoleTimeLimitMs, &app, [&app] {
        std::fprintf(stderr, "window_bench: the set did not finish\n");
        app.quit();
    });
    reportStartCpu();
    clock.start();
    window->sendButton->click();
    app.exec();
    if (!acknowledged || !accessibilityAsAsked(o))
        return 1;
    std::printf("%.6f\n", seconds);
    return 0;
}
