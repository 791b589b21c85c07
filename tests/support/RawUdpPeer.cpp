#include "tests/support/RawUdpPeer.h"

#include <QNetworkDatagram>
#include <QTest>

RawUdpPeer::RawUdpPeer(const QString &address, quint16 port) : address_(address), port_(port)
{
    socket_.bind(address_, port_);
    QObject::connect(&socket_, &QUdpSocket::readyRead, &socket_, [this] { readAll(); });
}

void RawUdpPeer::send(const QString &ip, const QByteArray &datagram)
{
    socket_.writeDatagram(datagram, QHostAddress(ip), port_);
}

bool RawUdpPeer::waitForDatagrams(int count, int timeoutMs)
{
    return QTest::qWaitFor([&] { return received.size() >= count; }, timeoutMs);
}

void RawUdpPeer::readAll()
{
    while (socket_.hasPendingDatagrams())
        received << socket_.receiveDatagram().data();
}
