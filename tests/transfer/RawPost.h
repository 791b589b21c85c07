#pragma once

#include <QByteArray>
#include <QHostAddress>
#include <QTcpSocket>
#include <QTest>

// A peer that is not our code: a plain TCP socket from address posts one stream (header and
// body) to ip:2921 and keeps whatever comes back, to see whether a receiver serves it. The
// header announces the body's size unless announced (0 or more) says otherwise.
class RawPost {
public:
    RawPost(const QString &address, const QString &ip, const QByteArray &body, qint64 announced = -1)
    {
        QObject::connect(&socket_, &QTcpSocket::readyRead, &socket_, [this] { reply += socket_.readAll(); });
        socket_.bind(QHostAddress(address), 0);
        socket_.connectToHost(QHostAddress(ip), 2921);
        const qint64 size = announced < 0 ? body.size() : announced;
        socket_.write("0000" + QByteArray::number(size).rightJustified(10, ' ') + body);
    }

    // Until the receiver has acknowledged (16 bytes back) or closed the connection.
    bool waitAnswered(int timeoutMs = 10000)
    {
        return QTest::qWaitFor([&] { return reply.size() >= 16 || closed(); }, timeoutMs);
    }
    bool closed() const { return socket_.state() == QAbstractSocket::UnconnectedState; }
    bool allWritten() const { return socket_.bytesToWrite() == 0; }
    void close() { socket_.close(); }

    QByteArray reply;

private:
    QTcpSocket socket_;
};
