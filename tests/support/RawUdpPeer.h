#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QList>
#include <QUdpSocket>

// A peer that is not our code: a plain UDP socket on address:2928 that sends datagrams and
// keeps every datagram it receives, to check the bytes a peer puts on the wire.
class RawUdpPeer {
public:
    explicit RawUdpPeer(const QString &address, quint16 port = 2928);

    QString address() const { return address_.toString(); }
    bool isBound() const { return socket_.state() == QAbstractSocket::BoundState; }
    // Sends one datagram to ip, on the same port.
    void send(const QString &ip, const QByteArray &datagram);
    // Waits (bounded) until at least count datagrams have arrived.
    bool waitForDatagrams(int count, int timeoutMs = 5000);

    QList<QByteArray> received;

private:
    void readAll();

    QHostAddress address_;
    quint16 port_;
    QUdpSocket socket_;
};
