#pragma once

#include "core/ContactStore.h"
#include "core/Dispatcher.h"
#include "harness/TempDir.h"
#include "net/TZnUDP.h"
#include "tests/core/RecordingWindows.h"
#include "tests/support/RecordingReporter.h"
#include "tests/support/ScriptedPrompts.h"

#include <QByteArrayList>
#include <QTest>
#include <array>
#include <gtest/gtest.h>

// One complete peer for dispatcher tests: its own folder, store, prompts, reporter, windows
// recorder (for the main window and the file windows) and a real endpoint bound to address:2928 whose
// datagrams go through the dispatcher. Every datagram is also logged before it is dispatched.
class DispatcherPeer {
public:
    static constexpr int Port = 2928;

    explicit DispatcherPeer(const QString &address_)
        : address(address_), store(dir.path(), prompts), dispatcher(lwudp, store, windows, prompts, reporter)
    {
        dispatcher.setFileWindows(&windows);
        lwudp.BindAddress = address;
        lwudp.RemotePort = Port;
        lwudp.SetLocalPort(Port);
        lwudp.OnDataReceived = [this](TZnUDP *sender, int bytes, const QString &fromIp, int port) {
            std::array<char, TZnUDP::ReceiveBufferSize> buffer{};
            int length = 0;
            sender->ReadDatagram(buffer.data(), int(buffer.size()), length);
            received << (length < 0 ? QByteArray("<failed>") : QByteArray(buffer.data(), length));
            dispatcher.lwudpDataReceived(sender, bytes, fromIp, port);
        };
    }

    bool bound() const { return lwudp.BoundPort() == Port; }
    QByteArray ini() const { return dir.read(QStringLiteral("myinfo.ini")); }
    // Sends raw bytes from this peer's endpoint to another address's port 2928.
    void sendRaw(const QString &ip, const QByteArray &bytes)
    {
        lwudp.RemoteHost = ip;
        lwudp.SendDatagram(bytes, int(bytes.size()));
    }
    // Waits (bounded, event-driven) until count datagrams have arrived here.
    bool waitForDatagrams(qsizetype count)
    {
        return QTest::qWaitFor([&] { return received.size() >= count; }, 5000);
    }
    // Sends bytes to peer and waits until peer has received (and so dispatched) them.
    bool deliver(DispatcherPeer &peer, const QByteArray &bytes)
    {
        const qsizetype before = peer.received.size();
        sendRaw(peer.address, bytes);
        return peer.waitForDatagrams(before + 1);
    }
    // Everything this peer received after the first `from` datagrams, once a probe that peer
    // sends now has arrived: datagrams are delivered in order on loopback, so whatever peer
    // sent before the probe is in the list.
    QByteArrayList receivedUntilProbeFrom(DispatcherPeer &peer, qsizetype from)
    {
        EXPECT_TRUE(peer.deliver(*this, QByteArrayLiteral("9probe"))) << "the probe did not arrive";
        QByteArrayList result = received.mid(from);
        if (!result.isEmpty() && result.last() == "9probe")
            result.removeLast();
        return result;
    }

    QString address;
    TempDir dir;
    ScriptedPrompts prompts;
    RecordingReporter reporter;
    RecordingWindows windows;
    TZnUDP lwudp;
    ContactStore store;
    Dispatcher dispatcher;
    QByteArrayList received;
};
