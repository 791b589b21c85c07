#include "StreamPeers.h"
#include "net/Exceptions.h"
#include "tests/support/Waits.h"

#include <QTest>
#include <gtest/gtest.h>

using namespace Qt::Literals::StringLiterals;
using RawTcp::Socket;

using namespace StreamPeers;

TEST(StreamPost, BodiesArriveIntactWithEventsInOrder)
{
    Receiver receiver;
    Sender sender;
    const QList<qsizetype> sizes{0, 1, 65536, 2 * 65536 + 100};
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        SCOPED_TRACE(sizes[i]);
        const QByteArray body = RawTcp::pattern(sizes[i]);
        sender.events.clear();
        sender.progress.clear();
        receiver.events.clear();
        EXPECT_EQ(sender.post(body), ack);

        ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), i + 1, 10000);
        ASSERT_EQ(receiver.messageCount(), i + 1);
        const Receiver::Message &m = receiver.messages.back();
        EXPECT_EQ(m.body, body);
        EXPECT_EQ(m.from, QByteArray());
        EXPECT_FALSE(m.onGuiThread);
        EXPECT_TRUE(m.linkedToServer);
        EXPECT_EQ(receiver.events, (QStringList{u"contact"_s, u"msg"_s, u"disconnect"_s}));
        EXPECT_EQ(receiver.server->ConnectionCount(), 0);
        EXPECT_TRUE(receiver.leftovers().isEmpty());

        // connect, one "sent" per successful send, messageSent, disconnect
        const qsizetype sends = sender.progress.size();
        QStringList expected{u"connect"_s};
        for (qsizetype s = 0; s < sends; ++s)
            expected << u"sent"_s;
        expected << u"messageSent"_s << u"disconnect"_s;
        EXPECT_EQ(sender.events, expected);
        EXPECT_EQ(sends == 0, body.isEmpty());
        EXPECT_GE(sends, (body.size() + 65535) / 65536);
        for (qsizetype s = 1; s < sends; ++s)
            EXPECT_GT(sender.progress[s], sender.progress[s - 1]);
        EXPECT_EQ(sender.strm.BytesSent(), body.size());
        EXPECT_EQ(sender.strm.BytesTotal(), body.size());
    }
}

// The sender leaves from its bind address, on every fresh socket; an address it cannot take
// leaves the choice to the system and the post still goes through.
TEST(StreamPost, PostLeavesFromTheBindAddress)
{
    Receiver receiver;
    Sender sender;
    sender.strm.BindAddress = u"127.0.0.3"_s;
    for (int round = 1; round <= 2; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(sender.post("x"), ack);
        ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), round, 10000);
        ASSERT_EQ(receiver.messageCount(), round);
        EXPECT_EQ(receiver.messages.back().peerAddress, u"127.0.0.3"_s);
    }
    sender.strm.BindAddress = u"192.0.2.1"_s; // not an address of this host
    EXPECT_EQ(sender.post("y"), ack);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 3, 10000);
    ASSERT_EQ(receiver.messageCount(), 3);
    EXPECT_EQ(receiver.messages.back().body, QByteArray("y"));
    EXPECT_NE(receiver.messages.back().peerAddress, u"192.0.2.1"_s);
}

TEST(StreamPost, RawClientGetsExactlyTheAcknowledgement)
{
    Receiver receiver;
    const QByteArray body = RawTcp::pattern(3000);
    EXPECT_EQ(rawExchange(header({}, body.size()) + body), ack);
    ASSERT_EVENTUALLY_EQ(receiver.messageCount(), 1, 10000);
    EXPECT_EQ(receiver.messages[0].body, body);
}

TEST(StreamPost, RawListenerSeesTheHeaderThenTheBody)
{
    Socket listener = RawTcp::listenOn("127.0.0.3", streamPort);
    auto peer = std::async(std::launch::async, [&]() -> QByteArray {
        Socket s = RawTcp::acceptOne(listener);
        const QByteArray received = RawTcp::receiveExactly(s, 14 + 1234);
        RawTcp::sendAll(s, ack);
        return received + RawTcp::receiveAll(s); // nothing more before the close
    });
    Sender sender;
    sender.strm.Host = u"127.0.0.3"_s;
    const QByteArray body = RawTcp::pattern(1234);
    EXPECT_EQ(sender.post(body), ack);
    const QByteArray received = peer.get();
    EXPECT_EQ(received.left(14), "0000      1234");
    EXPECT_EQ(received.mid(14), body);
}

TEST(StreamPost, HeaderVariants)
{
    Receiver receiver;
    EXPECT_EQ(rawExchange("  12"
                          "abcdefghijkl"
                          "         5"
                          "hello"),
              ack);
    EXPECT_EQ(rawExchange("-001"
                          "         5"
                          "world"),
              ack);
    ASSERT_EVENTUALLY_EQ(receiver.messageCount(), 2, 10000);
    EXPECT_EQ(receiver.messages[0].from, "abcdefghijkl");
    EXPECT_EQ(receiver.messages[0].body, "hello");
    EXPECT_EQ(receiver.messages[1].from, QByteArray());
    EXPECT_EQ(receiver.messages[1].body, "world");

    // Letters, a negative length and a header cut short: no acknowledgement, no message.
    EXPECT_EQ(rawExchange("abcd"
                          "         5"
                          "hello"),
              QByteArray());
    EXPECT_EQ(rawExchange("0000"
                          "        -5"),
              QByteArray());
    EXPECT_EQ(rawExchange("0010"
                          "abc"),
              QByteArray());
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 5, 10000);
    EXPECT_EQ(receiver.messageCount(), 2);
}

TEST(StreamPost, OnlyTheAnnouncedBodyIsTakenAndAcknowledged)
{
    Receiver receiver;
    // Shorter than announced: the sender closed early.
    EXPECT_EQ(rawExchange(header({}, 100) + RawTcp::pattern(50)), QByteArray());
    // Longer than announced: the extra bytes never reach the body.
    EXPECT_EQ(rawExchange(header({}, 10) + "0123456789EXTRA"), ack);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 2, 10000);
    ASSERT_EQ(receiver.messageCount(), 1);
    EXPECT_EQ(receiver.messages[0].body, "0123456789");
    EXPECT_TRUE(receiver.leftovers().isEmpty());
}

TEST(StreamPost, RaisingHandlerGetsNoAcknowledgement)
{
    Receiver receiver;
    receiver.server->OnMSG = [](TZnStrmServ *, const QByteArray &, QFile *) {
        throw Exception(u"Cannot create file target"_s);
    };
    Sender sender;
    EXPECT_EQ(sender.post(RawTcp::pattern(70000)), QByteArray());
    EXPECT_EQ(sender.events.back(), u"disconnect"_s);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 1, 10000);
    EXPECT_TRUE(receiver.leftovers().isEmpty());
}

TEST(StreamPost, HandlerMovesTheBodyIntoPlace)
{
    Receiver receiver;
    const QString target = receiver.dir.file(u"received.bin"_s);
    receiver.onBody = [&](QFile *strm) { EXPECT_TRUE(strm->rename(target)); };
    Sender sender;
    const QByteArray body = RawTcp::pattern(200000);
    EXPECT_EQ(sender.post(body), ack);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 1, 10000);
    EXPECT_EQ(receiver.dir.read(u"received.bin"_s), body);
    EXPECT_TRUE(receiver.leftovers().isEmpty());
}

TEST(StreamPost, AbortDuringAPost)
{
    Receiver receiver;
    Sender sender;
    sender.strm.OnPacketSent = [&](RIzarorozi *) { sender.strm.Abort(); };
    EXPECT_EQ(raisedBy([&] { sender.post(RawTcp::pattern(8 << 20)); }), u"Socket send aborted"_s);
    EXPECT_EQ(sender.events, (QStringList{u"connect"_s, u"disconnect"_s, u"disconnect"_s}));
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 1, 10000);
    EXPECT_EQ(receiver.messageCount(), 0);
    EXPECT_TRUE(receiver.leftovers().isEmpty());
    // The sender can post again afterwards.
    sender.strm.OnPacketSent = nullptr;
    EXPECT_EQ(sender.post("again"), ack);
}

TEST(StreamPost, TwoPostsInARowUseTwoConnections)
{
    Receiver receiver;
    Sender sender;
    EXPECT_EQ(sender.post("first"), ack);
    EXPECT_EQ(sender.post("second"), ack);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 2, 10000);
    EXPECT_EQ(receiver.messageCount(), 2);
    EXPECT_TRUE(receiver.messages[0].linkedToServer && receiver.messages[1].linkedToServer);
    EXPECT_EQ(receiver.server->ConnectionCount(), 0);
}

TEST(StreamPost, AbortAndDestructionEndServedConnections)
{
    Receiver receiver;
    Socket idle = RawTcp::connectTo(serverIp, streamPort);
    ASSERT_EVENTUALLY_EQ(receiver.server->ConnectionCount(), 1, 10000);
    receiver.server->Abort();
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 1, 10000);
    EXPECT_EQ(receiver.server->ConnectionCount(), 0);
    EXPECT_EQ(RawTcp::receiveAll(idle), QByteArray());

    Socket waiting = RawTcp::connectTo(serverIp, streamPort);
    ASSERT_EVENTUALLY_EQ(receiver.server->ConnectionCount(), 1, 10000);
    receiver.server.reset(); // cancels and waits for the connection's thread
    EXPECT_EQ(receiver.disconnected.size(), 1);
    EXPECT_EQ(RawTcp::receiveAll(waiting), QByteArray());
}

TEST(StreamPost, CancelledServerAcceptsNoMore)
{
    Receiver receiver;
    int contacts = 0;
    receiver.server->OnClientContact = [&](RIzarorozi *) { ++contacts; };
    receiver.server->Cancel();
    Socket first = RawTcp::connectTo(serverIp, streamPort);
    ASSERT_EVENTUALLY_EQ(contacts, 1, 10000);
    EXPECT_EQ(receiver.server->ConnectionCount(), 0);
    Socket second = RawTcp::connectTo(serverIp, streamPort);
    QTest::qWait(100);
    EXPECT_EQ(contacts, 1); // no further accept notification: the server stays deaf
}
