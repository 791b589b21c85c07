#include "StreamPeers.h"
#include "TlsKeyPair.h"
#include "net/Exceptions.h"

#include <QElapsedTimer>
#include <QTest>
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <poll.h>
#include <sodium.h>
#include <thread>
#include <unistd.h>

using namespace StreamPeers;
using RawTcp::Socket;

namespace {

constexpr const char *relayIp = "127.0.0.4";
constexpr const char *silentIp = "127.0.0.3";


QString expectedSuite()
{
    return crypto_aead_aes256gcm_is_available() ? u"TLS_AES_256_GCM_SHA384"_s : u"TLS_CHACHA20_POLY1305_SHA256"_s;
}

bool openSslMapped()
{
    QFile maps(u"/proc/self/maps"_s);
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libssl.so");
}

QByteArray randomBytes(qsizetype size)
{
    QByteArray bytes(size, '\0');
    randombytes_buf(bytes.data(), size_t(size));
    return bytes;
}

// A TCP relay on relayIp between one client and the receiver, on a thread of its own: what the
// client sends is recorded on its way, and may get one byte flipped or be cut short there.
class Relay {
public:
    explicit Relay(qint64 flipAt = -1, qint64 cutAt = -1) : flipAt_(flipAt), cutAt_(cutAt)
    {
        thread_ = std::thread([this] { run(); });
    }
    ~Relay() { end(); }
    // What the client sent, as far as it went (once the relay has ended).
    QByteArray fromClient()
    {
        end();
        return fromClient_;
    }

private:
    void end()
    {
        if (thread_.joinable())
            thread_.join();
    }
    void run()
    {
        Socket client = RawTcp::acceptOne(listener_);
        listener_.reset(); // the next relay may listen
        Socket server = RawTcp::connectTo(serverIp, streamPort);
        bool clientOpen = true, serverOpen = true;
        char chunk[65536];
        while (clientOpen || serverOpen) {
            pollfd watched[2] = {{clientOpen ? client.fd() : -1, POLLIN, 0}, {serverOpen ? server.fd() : -1, POLLIN, 0}};
            if (::poll(watched, 2, 20000) <= 0)
                return;
            for (int side = 0; side < 2; ++side) {
                if (watched[side].revents == 0)
                    continue;
                const Socket &from = side == 0 ? client : server;
                const Socket &to = side == 0 ? server : client;
                ssize_t n = ::recv(from.fd(), chunk, sizeof chunk, 0);
                if (n <= 0) {
                    ::shutdown(to.fd(), SHUT_WR);
                    (side == 0 ? clientOpen : serverOpen) = false;
                    continue;
                }
                if (side == 0 && !alter(chunk, n))
                    return; // cut: both sockets close here
                RawTcp::sendAll(to, QByteArray(chunk, n));
            }
        }
    }
    // Records a block from the client and applies the flip; false once the cut is reached.
    bool alter(char *block, ssize_t &n)
    {
        const qint64 at = fromClient_.size();
        if (flipAt_ >= at && flipAt_ < at + n)
            block[flipAt_ - at] ^= 0x01;
        if (cutAt_ >= 0 && at + n > cutAt_)
            n = cutAt_ - at;
        fromClient_.append(block, n);
        return cutAt_ < 0 || fromClient_.size() < cutAt_;
    }

    Socket listener_ = RawTcp::listenOn(relayIp, streamPort);
    const qint64 flipAt_;
    const qint64 cutAt_;
    QByteArray fromClient_;
    std::thread thread_;
};

// A receiver that requires TLS from every address and a sender that speaks it, each pinning
// the other's key.
class StreamTls : public ::testing::Test {
protected:
    StreamTls()
    {
        receiver.server->TlsFor = [this](const QString &peerIp) -> std::optional<TlsKeys> {
            askedFor << peerIp;
            return keysOf(receiverKey, senderKey);
        };
        sender.strm.Tls = keysOf(senderKey, receiverKey);
        // A test that goes wrong fails instead of waiting for good.
        receiver.server->StallTimeOut = 10000;
        sender.strm.StallTimeOut = 10000;
    }

    // The reply and the error text of a post of body (empty for none).
    std::pair<QByteArray, QString> post(const QByteArray &body)
    {
        QByteArray reply;
        const QString error = raisedBy([&] { reply = sender.post(body); });
        return {reply, error};
    }
    // Whether the receiver has seen count connections end (within 10 s).
    bool endedConnections(qsizetype count)
    {
        const bool ended = QTest::qWaitFor([&] { return receiver.disconnected.size() >= count; }, 10000);
        EXPECT_EQ(receiver.disconnected.size(), count);
        return ended && receiver.disconnected.size() == count;
    }
    // After ended connections to the receiver: nothing was handed on, no file left.
    void expectNothingDelivered(qsizetype ended)
    {
        ASSERT_TRUE(endedConnections(ended));
        EXPECT_EQ(receiver.messageCount(), 0);
        EXPECT_TRUE(receiver.leftovers().isEmpty());
    }

    const KeyPair receiverKey, senderKey;
    Receiver receiver;
    Sender sender;
    QStringList askedFor;
};

} // namespace

// Through the file path (read and encrypted on the sender thread) and the sequential path (a
// pipe, through the caller's thread); both ends agree on the suite this processor favours.
// OpenSSL comes with the first session, in the TLS module, and not before.
TEST_F(StreamTls, BodiesArriveIntactInsideTls)
{
    EXPECT_FALSE(openSslMapped());
    TempDir dir;
    const QList<qsizetype> sizes{0, 1, 3 * 16384 + 5, 3 << 20};
    int posts = 0;
    for (const bool fromFile : {true, false}) {
        for (const qsizetype size : sizes) {
            SCOPED_TRACE(QString(u"%1 bytes from a %2"_s).arg(size).arg(fromFile ? u"file"_s : u"pipe"_s).toStdString());
            const QByteArray body = RawTcp::pattern(size);
            sender.progress.clear();
            QByteArray reply;
            if (fromFile) {
                dir.write(u"source.bin"_s, body);
                QFile file(dir.file(u"source.bin"_s));
                ASSERT_TRUE(file.open(QIODevice::ReadOnly));
                reply = sender.post(file);
                EXPECT_EQ(file.pos(), size);
            } else {
                int ends[2];
                ASSERT_EQ(::pipe(ends), 0);
                std::thread writer([&] {
                    EXPECT_EQ(::write(ends[1], body.constData(), size_t(body.size())), body.size());
                    ::close(ends[1]);
                });
                QFile pipe;
                ASSERT_TRUE(pipe.open(ends[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
                sender.strm.PostStream(pipe, size, reply);
                writer.join();
            }
            EXPECT_EQ(reply, ack);
            ++posts;
            ASSERT_TRUE(endedConnections(posts));
            ASSERT_EQ(receiver.messageCount(), posts);
            const Receiver::Message &m = receiver.messages.back();
            EXPECT_TRUE(m.body == body);
            EXPECT_EQ(m.zeroCopied, 0);
            EXPECT_EQ(m.tlsSuite, expectedSuite());
            EXPECT_EQ(sender.strm.TlsCipherSuite(), expectedSuite());
            EXPECT_EQ(sender.strm.BytesSent(), size);
            EXPECT_EQ(sender.strm.BytesZeroCopied(), 0);
            EXPECT_EQ(sender.progress.isEmpty() ? 0 : sender.progress.last(), size);
            EXPECT_TRUE(receiver.leftovers().isEmpty());
        }
    }
    EXPECT_EQ(askedFor.size(), posts);
    EXPECT_TRUE(openSslMapped());
}

// A file body moves on the sender thread: a progress handler that holds the caller's thread
// does not hold the bytes. An abort there ends the post, and the next one goes through.
TEST_F(StreamTls, AFileBodyMovesOnTheSenderThreadAndEndsOnAbort)
{
    TempDir dir;
    dir.write(u"source.bin"_s, RawTcp::pattern(32 << 20));
    QFile file(dir.file(u"source.bin"_s));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    qint64 before = -1, after = -1;
    sender.strm.OnPacketSent = [&](RIzarorozi *s) {
        if (before >= 0)
            return;
        before = s->BytesSent();
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        after = s->BytesSent();
    };
    EXPECT_EQ(sender.post(file), ack);
    EXPECT_GT(after, before) << "bytes kept moving while the handler held the thread";

    sender.strm.OnPacketSent = [&](RIzarorozi *) { sender.strm.Abort(); };
    EXPECT_EQ(raisedBy([&] { sender.post(file); }), u"Socket send aborted"_s);
    EXPECT_FALSE(sender.strm.Connected());
    sender.strm.OnPacketSent = nullptr;
    EXPECT_EQ(sender.post("again"), ack);
    ASSERT_TRUE(endedConnections(3));
    ASSERT_EQ(receiver.messageCount(), 2);
    EXPECT_EQ(receiver.messages[1].body, QByteArray("again"));
    EXPECT_TRUE(receiver.leftovers().isEmpty());
}

// A key that is not the pinned one on either side, or an own key pair that does not hold
// together: no acknowledgement, nothing handed on.
TEST_F(StreamTls, KeysThatAreNotPinnedEndThePostUnacknowledged)
{
    const KeyPair stranger;
    struct Case {
        const char *name;
        TlsKeys senderKeys;
        TlsKeys receiverKeys;
        QString error; // the sender's, when it can tell
    };
    const QList<Case> cases{
        {"the sender pinned another key", keysOf(senderKey, stranger), keysOf(receiverKey, senderKey),
         u"TLS: The peer's key is not the one pinned for it"_s},
        {"the receiver pinned another key", keysOf(senderKey, receiverKey), keysOf(receiverKey, stranger), {}},
        {"the sender's public key is another's", {senderKey.seed, stranger.publicKey, receiverKey.publicKey},
         keysOf(receiverKey, senderKey), u"TLS: The own TLS public key does not belong to its seed"_s},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        const Case &c = cases[i];
        SCOPED_TRACE(c.name);
        sender.strm.Tls = c.senderKeys;
        receiver.server->TlsFor = [&](const QString &) -> std::optional<TlsKeys> { return c.receiverKeys; };
        sender.events.clear();
        const auto [reply, error] = post(RawTcp::pattern(100000));
        EXPECT_EQ(reply, QByteArray());
        if (!c.error.isEmpty()) {
            EXPECT_EQ(error, c.error);
        }
        EXPECT_FALSE(sender.strm.Connected());
        EXPECT_EQ(sender.events.back(), u"disconnect"_s);
        expectNothingDelivered(i + 1);
    }
}

// The receiver decides by the connecting address; a plain post where TLS is required, and a
// TLS post to a plain receiver, fail without delivering.
TEST_F(StreamTls, PlainAndTlsEndsDoNotMix)
{
    receiver.server->TlsFor = [&](const QString &peerIp) -> std::optional<TlsKeys> {
        askedFor << peerIp;
        if (peerIp == u"127.0.0.3"_s)
            return keysOf(receiverKey, senderKey);
        return std::nullopt;
    };
    sender.strm.BindAddress = u"127.0.0.3"_s;
    EXPECT_EQ(sender.post("inside"), ack);
    sender.strm.BindAddress = u"127.0.0.5"_s;
    sender.strm.Tls.reset();
    EXPECT_EQ(sender.post("plain from elsewhere"), ack);
    ASSERT_TRUE(endedConnections(2));
    EXPECT_EQ(askedFor, (QStringList{u"127.0.0.3"_s, u"127.0.0.5"_s}));
    ASSERT_EQ(receiver.messageCount(), 2);
    EXPECT_EQ(receiver.messages[0].tlsSuite, expectedSuite());
    EXPECT_EQ(receiver.messages[1].body, QByteArray("plain from elsewhere"));
    EXPECT_EQ(receiver.messages[1].tlsSuite, QString());
    receiver.messages.clear();

    sender.strm.BindAddress = u"127.0.0.3"_s;
    const auto [plainReply, plainError] = post(RawTcp::pattern(5000));
    EXPECT_EQ(plainReply, QByteArray());
    expectNothingDelivered(3);

    receiver.server->TlsFor = nullptr;
    sender.strm.Tls = keysOf(senderKey, receiverKey);
    const auto [tlsReply, tlsError] = post(RawTcp::pattern(5000));
    EXPECT_EQ(tlsReply, QByteArray());
    EXPECT_TRUE(tlsError.startsWith(u"TLS: "_s) || tlsError.startsWith(u"100"_s)) << tlsError.toStdString();
    EXPECT_FALSE(sender.strm.Connected());
    expectNothingDelivered(4);
}

// A relay that flips one byte (in the handshake, in the header, inside the body, in the last
// record) or cuts the stream inside the body: the post fails and nothing is handed on.
TEST_F(StreamTls, AlteredOrTruncatedStreamsDeliverNothing)
{
    const qsizetype size = 1 << 20;
    sender.strm.Host = QString::fromLatin1(relayIp);
    Relay probe; // where the parts of a post lie on the wire
    ASSERT_EQ(sender.post(RawTcp::pattern(size)), ack);
    ASSERT_TRUE(endedConnections(1));
    const qint64 wire = probe.fromClient().size();
    // After the handshake: the header in two records (4 and 10 bytes), the body in full
    // 16 KiB records, and the closing alert; each record carries 22 bytes beside its content.
    const qint64 overhead = 22;
    const qint64 headerStart = wire - (2 + overhead) - size - size / 16384 * overhead - (14 + 2 * overhead);
    ASSERT_GT(headerStart, 300);
    receiver.messages.clear();

    struct Case {
        const char *name;
        qint64 flipAt;
        qint64 cutAt;
    };
    const QList<Case> cases{
        {"flip in the handshake", 60, -1},
        {"flip in the header", headerStart + 10, -1},
        {"flip inside the body", wire / 2, -1},
        {"flip in the last record", wire - 60, -1},
        {"cut inside the body", -1, wire / 2},
    };
    for (qsizetype i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].name);
        Relay relay(cases[i].flipAt, cases[i].cutAt);
        const auto [reply, error] = post(RawTcp::pattern(size));
        EXPECT_EQ(reply, QByteArray());
        EXPECT_FALSE(sender.strm.Connected());
        expectNothingDelivered(i + 2);
    }
}

// What the relay sees of a post: the body and the header in the clear for a plain one, neither
// of them inside TLS.
TEST_F(StreamTls, NothingOfThePostIsReadableOnTheWire)
{
    const QByteArray marker = randomBytes(32);
    const QByteArray body = RawTcp::pattern(100000) + marker + RawTcp::pattern(100000);
    sender.strm.Host = QString::fromLatin1(relayIp);
    sender.strm.FromName = "sender-name";
    for (const bool inside : {false, true}) {
        SCOPED_TRACE(inside ? "inside TLS" : "plain");
        if (!inside)
            receiver.server->TlsFor = nullptr;
        else
            receiver.server->TlsFor = [&](const QString &) -> std::optional<TlsKeys> {
                return keysOf(receiverKey, senderKey);
            };
        sender.strm.Tls = inside ? std::optional(keysOf(senderKey, receiverKey)) : std::nullopt;
        Relay relay;
        EXPECT_EQ(sender.post(body), ack);
        const QByteArray wire = relay.fromClient();
        EXPECT_EQ(wire.contains(marker), !inside);
        EXPECT_EQ(wire.contains(header("sender-name", body.size())), !inside);
    }
    ASSERT_TRUE(QTest::qWaitFor([&] { return receiver.messageCount() == 2; }, 10000));
    EXPECT_TRUE(receiver.messages[1].body == body);
    EXPECT_EQ(receiver.messages[1].from, QByteArray("sender-name"));
}

// A client that connects and never speaks, and a receiver that never answers the handshake:
// each end's wait ends by its StallTimeOut.
TEST_F(StreamTls, SilentPeersEndByTheStallTimeOut)
{
    receiver.server->StallTimeOut = 300;
    QElapsedTimer clock;
    clock.start();
    const Socket silentClient = RawTcp::connectTo(serverIp, streamPort);
    ASSERT_TRUE(endedConnections(1));
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(RawTcp::receiveAll(silentClient), QByteArray());
    EXPECT_EQ(receiver.server->ConnectionCount(), 0);

    const Socket listener = RawTcp::listenOn(silentIp, streamPort);
    sender.strm.Host = QString::fromLatin1(silentIp);
    sender.strm.StallTimeOut = 200;
    clock.restart();
    const auto [reply, error] = post("x");
    EXPECT_EQ(error, u"10060:Connection timed out"_s);
    EXPECT_GE(clock.elapsed(), 150);
    EXPECT_LT(clock.elapsed(), 5000);
    EXPECT_FALSE(sender.strm.Connected());
}
