#include "bench/WindowRoles.h"

#include "bench/BenchPeer.h"
#include "bench/WindowSession.h"
#include "net/TZnStrm.h"
#include "transfer/TForm6.h"
#include "transfer/TForm7.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"
#include "ui/TForm2.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>

using namespace Qt::Literals::StringLiterals;

namespace {

// The peer is ready for the transfer: its endpoint bound and, with --main-window shown, its
// main window shown as a person has it (which runs its start-up steps), with a nickname saved
// by an earlier run, so that it does not ask for one.
void startPeer(BenchPeer &peer, const BenchOptions &o, const QString &nickname)
{
    if (!peer.form1->receiving())
        fail("bind the datagram port");
    if (o.mainWindow != "shown")
        return;
    peer.storeNickname(nickname);
    peer.start();
}

// Runs the event loop until the peer's first box; true when that was the expected end message.
// A role that has not ended after ten minutes gives up, so the benchmark always stops.
bool runUntilEndMessage(QApplication &app, BenchPeer &peer, const QString &expected)
{
    bool ended = false;
    peer.prompts.onShown = [&](const QString &text) {
        ended = text == expected;
        app.quit();
    };
    QTimer::singleShot(600000, &app, [&app] {
        std::fprintf(stderr, "stream_bench: the file windows did not finish\n");
        app.quit();
    });
    app.exec();
    return ended;
}

} // namespace

int windowReceiver(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(QString::fromStdString(o.ip));
    startPeer(peer, o, u"接收者"_s);
    peer.prompts.saveAnswer = QString::fromStdString(o.dir + "/received-windows.bin");
    // The user presses "接收" as soon as the offer's window is there, and then waits.
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, &app, [&] {
        TForm7 *window = peer.files->receiveWindow();
        if (window && !window->accepted()) {
            window->Button1->click();
            user.stop();
        }
    });
    user.start(5);
    ready();
    reportStartCpu();
    const bool received = runUntilEndMessage(app, peer, u"接收完毕！"_s);
    return received && accessibilityAsAsked(o) ? 0 : 1;
}

int windowSender(int argc, char **argv, const BenchOptions &o)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    requirePlatform(o);
    BenchPeer peer(QString::fromStdString(o.from));
    startPeer(peer, o, u"发送者"_s);
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
