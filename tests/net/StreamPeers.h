#pragma once

#include "RawTcp.h"
#include "harness/TempDir.h"
#include "net/TZnStrm.h"
#include "net/TZnStrmServ.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QStringList>
#include <QThread>
#include <memory>
#include <mutex>

// A stream receiver and a stream sender on loopback, recording what passes, for the tests of
// the stream post.
namespace StreamPeers {

using namespace Qt::Literals::StringLiterals;

inline const QByteArray ack = QByteArray("OK") + QByteArray(14, ' ');
inline constexpr const char *serverIp = "127.0.0.2";
inline constexpr quint16 streamPort = 2921;

// A listening stream receiver on 127.0.0.2:2921 that records what reaches it, with the
// thread each event ran on.
struct Receiver {
    struct Message {
        QByteArray from;
        QByteArray body;
        bool onGuiThread = true;
        bool linkedToServer = false;
        QString peerAddress;   // where the connection came from
        qint64 zeroCopied = 0; // of the body, by splice into the file
        QString tlsSuite;      // the connection's cipher suite, empty for a plain one
    };

    TempDir dir;
    std::unique_ptr<TZnStrmServ> server = std::make_unique<TZnStrmServ>();
    std::mutex lock;
    QStringList events;
    QList<Message> messages;
    QList<RIzarorozi *> disconnected;
    std::function<void(QFile *)> onBody; // runs inside OnMSG after the body was read

    Receiver()
    {
        server->Port = streamPort;
        server->BindAddress = QString::fromLatin1(serverIp);
        server->TempFolder = dir.path();
        server->OnClientContact = [this](RIzarorozi *) { record(u"contact"_s); };
        server->OnMSG = [this](TZnStrmServ *sender, const QByteArray &from, QFile *strm) {
            Message m{from,
                      strm->readAll(),
                      QThread::currentThread() == QCoreApplication::instance()->thread(),
                      sender != server.get() && sender->Server() == server.get(),
                      sender->RemoteAddress(),
                      sender->BytesZeroCopied(),
                      sender->TlsCipherSuite()};
            {
                std::lock_guard guard(lock);
                messages << m;
            }
            record(u"msg"_s);
            if (onBody)
                onBody(strm);
        };
        server->OnDisconnect = [this](RIzarorozi *connection) {
            record(u"disconnect"_s);
            std::lock_guard guard(lock);
            disconnected << connection;
        };
        server->Loaded();
    }
    void record(const QString &event)
    {
        std::lock_guard guard(lock);
        events << event;
    }
    int messageCount()
    {
        std::lock_guard guard(lock);
        return int(messages.size());
    }
    QStringList leftovers() const { return QDir(dir.path()).entryList({u"*.part"_s}); }
};

// A sender aimed at the receiver, recording its events.
struct Sender {
    TZnStrm strm;
    QStringList events;
    QList<qint64> progress;
    Sender()
    {
        strm.Host = QString::fromLatin1(serverIp);
        strm.Port = streamPort;
        strm.OnConnect = [this](RIzarorozi *) { events << u"connect"_s; };
        strm.OnPacketSent = [this](RIzarorozi *s) {
            events << u"sent"_s;
            progress << s->BytesSent();
        };
        strm.OnMessageSent = [this](RIzarorozi *) { events << u"messageSent"_s; };
        strm.OnDisconnect = [this](RIzarorozi *) { events << u"disconnect"_s; };
    }
    QByteArray post(const QByteArray &body)
    {
        QBuffer stream;
        stream.setData(body);
        stream.open(QIODevice::ReadOnly);
        return post(stream);
    }
    QByteArray post(QIODevice &stream)
    {
        QByteArray reply;
        strm.PostStream(stream, reply);
        return reply;
    }
};

// A client that is not ours: sends the bytes, closes its sending side, and returns all that
// came back before the receiver closed.
inline QByteArray rawExchange(const QByteArray &request)
{
    return RawTcp::runAside([request] {
        RawTcp::Socket s = RawTcp::connectTo(serverIp, streamPort);
        RawTcp::sendAll(s, request);
        ::shutdown(s.fd(), SHUT_WR);
        return RawTcp::receiveAll(s);
    });
}

inline QByteArray header(const QByteArray &name, qint64 size)
{
    return QByteArray::number(name.size()).rightJustified(4, '0') + name
        + QByteArray::number(size).rightJustified(10, ' ');
}

} // namespace StreamPeers
