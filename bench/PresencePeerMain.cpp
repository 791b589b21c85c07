// One complete peer with presence, driven through standard input and output (see
// PresenceConsole), for the presence tests and benchmark, which run one in each network
// namespace of a bridge network. Offscreen unless another platform is asked for.
//
//   presence_peer [--ip 0.0.0.0] [--nick NAME] [--status 0|1] [--presence on|off]
//                 [--keepalive-ms 60000] [--answer-delay-ms 500] [--interfaces eth0,eth1]
//                 [--dir FOLDER] [--chat-room on|off] [--file-sets on|off]
#include "bench/BenchPeer.h"
#include "bench/PresencePeer.h"
#include "transfer/TransferWindows.h"
#include "ui/TForm1.h"

#include <QApplication>
#include <QTimer>

int main(int argc, char **argv)
{
    useOffscreenPlatform();
    QApplication app(argc, argv);
    const PresencePeerOptions options = PresencePeerOptions::parse(QCoreApplication::arguments());
    BenchPeer peer(options.ip, options.dir);
    if (!peer.form1->receiving()) {
        std::fprintf(stderr, "presence_peer: cannot bind %s:2928\n", options.ip.toUtf8().constData());
        return 1;
    }
    PresenceConsole console(peer, *peer.form1->presence());
    QObject::connect(&console, &PresenceConsole::quitRequested, &app, &QCoreApplication::quit,
                     Qt::QueuedConnection);
    if (!options.nick.isEmpty())
        peer.storeNickname(options.nick); // as a run before would have: no first-run box
    console.prepare(options);
    peer.start(); // the main window starts presence
    console.started(options);
    // Sets that did not arrive whole come back paused, after the main window (as in the program).
    QTimer::singleShot(0, peer.form1.get(), [&peer] { peer.files->restoreSets(); });
    return QApplication::exec(); // the main window's goodbye goes as the peer goes
}
