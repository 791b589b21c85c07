#pragma once

#include "core/ContactStore.h"
#include "core/Dispatcher.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/RawPeer.h"
#include "net/TZnUDP.h"
#include "tests/core/RecordingWindows.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedPrompts.h"

#include <QFile>

// One receiving peer on 127.0.0.1 (any free port) whose endpoint runs the dispatcher, with
// recording windows, scripted prompts and a recording reporter, and two raw peers, the friend
// on 127.0.0.2 and a stranger on 127.0.0.3, on one port that the peer's answers go to.
struct DispatcherHarness {
    static constexpr const char *PeerIp = "127.0.0.1";
    static constexpr const char *FriendIp = "127.0.0.2";
    static constexpr const char *StrangerIp = "127.0.0.3";

    DispatcherHarness()
    {
        dispatcher.setFileWindows(&windows);
        lwudp.BindAddress = QString::fromLatin1(PeerIp);
        lwudp.SetLocalPort(0);
        lwudp.RemotePort = friendPeer.port();
        lwudp.OnDataReceived = [this](TZnUDP *sender, int bytes, const QString &fromIp, int port) {
            ++dispatched;
            dispatcher.lwudpDataReceived(sender, bytes, fromIp, port);
        };
        FuzzSupport::require(lwudp.BoundPort() != 0, QStringLiteral("the endpoint did not bind"));
    }

    // myinfo.ini holds exactly bytes.
    void writeStore(const QByteArray &bytes)
    {
        QFile file(store.fileName());
        FuzzSupport::require(file.open(QIODevice::WriteOnly | QIODevice::Truncate)
                                 && file.write(bytes) == bytes.size(),
                             QStringLiteral("cannot write myinfo.ini"));
    }

    // Sends bytes to the peer from the friend or the stranger; false when it did not leave.
    bool send(bool fromStranger, const QByteArray &bytes) const
    {
        return (fromStranger ? strangerPeer : friendPeer).sendTo(PeerIp, quint16(lwudp.BoundPort()), bytes);
    }

    QString folder = FuzzSupport::scratchFolder();
    ScriptedPrompts prompts;
    RecordingReporter reporter;
    RecordingWindows windows;
    TZnUDP lwudp;
    ContactStore store{folder, prompts};
    Dispatcher dispatcher{lwudp, store, windows, prompts, reporter};
    RawPeer friendPeer{FriendIp, 0};
    RawPeer strangerPeer{StrangerIp, friendPeer.port()};
    // Datagrams taken in by the endpoint (dispatched, waiting or dropped by the dispatcher).
    int dispatched = 0;
};
