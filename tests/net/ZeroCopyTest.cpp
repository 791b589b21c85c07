#include "StreamPeers.h"
#include "net/Exceptions.h"
#include "tests/support/Waits.h"

#include <QElapsedTimer>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <unistd.h>

using namespace StreamPeers;
using RawTcp::Socket;

namespace {

// body as a file in dir, opened for reading.
std::unique_ptr<QFile> sourceFile(const TempDir &dir, const QByteArray &body)
{
    dir.write(u"source.bin"_s, body);
    auto file = std::make_unique<QFile>(dir.file(u"source.bin"_s));
    EXPECT_TRUE(file->open(QIODevice::ReadOnly));
    return file;
}

// A raw client that sends bytes and keeps its connection open; the receiver has taken it.
Socket openPost(const QByteArray &bytes)
{
    return RawTcp::runAside([bytes] {
        Socket s = RawTcp::connectTo(serverIp, streamPort);
        RawTcp::sendAll(s, bytes);
        return s;
    });
}

} // namespace

TEST(ZeroCopy, FileBodiesArriveIntactBySendfileAndSplice)
{
    Receiver receiver;
    Sender sender;
    TempDir dir;
    const QList<qsizetype> sizes{0, 1, 65535, 65537, 5 << 20};
    for (qsizetype i = 0; i < sizes.size(); ++i) {
        const qsizetype size = sizes[i];
        SCOPED_TRACE(size);
        const QByteArray body = RawTcp::pattern(size);
        auto file = sourceFile(dir, body);
        sender.progress.clear();
        EXPECT_EQ(sender.post(*file), ack);
        ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), i + 1, 10000);
        ASSERT_EQ(receiver.messageCount(), i + 1);
        const Receiver::Message &m = receiver.messages.back();
        EXPECT_TRUE(m.body == body);
        EXPECT_EQ(m.zeroCopied, size);
        EXPECT_EQ(sender.strm.BytesZeroCopied(), size);
        EXPECT_EQ(sender.strm.BytesSent(), size);
        // Progress as the body goes, rising to the whole.
        EXPECT_EQ(sender.progress.isEmpty(), size == 0);
        EXPECT_TRUE(std::is_sorted(sender.progress.begin(), sender.progress.end()));
        EXPECT_EQ(sender.progress.isEmpty() ? 0 : sender.progress.last(), size);
        EXPECT_EQ(file->pos(), size);
        EXPECT_TRUE(receiver.leftovers().isEmpty());
    }
}

TEST(ZeroCopy, FilePostPutsExactlyTheHeaderAndTheBodyOnTheWire)
{
    Socket listener = RawTcp::listenOn("127.0.0.3", streamPort);
    TempDir dir;
    const QByteArray body = RawTcp::pattern(300000);
    const QByteArray expected = header("abc", body.size()) + body;
    auto peer = std::async(std::launch::async, [&]() -> QByteArray {
        Socket s = RawTcp::acceptOne(listener);
        const QByteArray received = RawTcp::receiveExactly(s, expected.size());
        RawTcp::sendAll(s, ack);
        return received + RawTcp::receiveAll(s); // nothing more before the close
    });
    Sender sender;
    sender.strm.Host = u"127.0.0.3"_s;
    sender.strm.FromName = "abc";
    auto file = sourceFile(dir, body);
    EXPECT_EQ(sender.post(*file), ack);
    EXPECT_TRUE(peer.get() == expected);
    EXPECT_EQ(sender.strm.BytesZeroCopied(), body.size());
}

// In memory, a pipe opened as a file, and a count from the middle of a regular file.
TEST(ZeroCopy, SourcesThatAreNotRegularFilesGoThroughTheBuffer)
{
    Receiver receiver;
    Sender sender;
    const QByteArray body = RawTcp::pattern(200000);
    EXPECT_EQ(sender.post(body), ack);
    EXPECT_EQ(sender.strm.BytesZeroCopied(), 0);

    int ends[2];
    ASSERT_EQ(::pipe(ends), 0);
    std::thread writer([&] {
        EXPECT_EQ(::write(ends[1], body.constData(), size_t(body.size())), body.size());
        ::close(ends[1]);
    });
    QFile pipe;
    ASSERT_TRUE(pipe.open(ends[0], QIODevice::ReadOnly, QFileDevice::AutoCloseHandle));
    QByteArray reply;
    sender.strm.PostStream(pipe, body.size(), reply);
    writer.join();
    EXPECT_EQ(reply, ack);
    EXPECT_EQ(sender.strm.BytesZeroCopied(), 0);

    TempDir dir;
    auto file = sourceFile(dir, body);
    ASSERT_TRUE(file->seek(1000));
    sender.strm.PostStream(*file, 70000, reply);
    EXPECT_EQ(reply, ack);
    EXPECT_EQ(sender.strm.BytesZeroCopied(), 70000);
    EXPECT_EQ(file->pos(), 71000);

    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 3, 10000);
    ASSERT_EQ(receiver.messageCount(), 3);
    EXPECT_TRUE(receiver.messages[0].body == body);
    EXPECT_TRUE(receiver.messages[1].body == body);
    EXPECT_TRUE(receiver.messages[2].body == body.mid(1000, 70000));
    EXPECT_EQ(receiver.messages[1].zeroCopied, body.size()); // the receiver's side is a file
}

// A capture takes exactly its count, into a file by splice or into memory through the buffer:
// what follows stays on the socket for the next read.
TEST(ZeroCopy, CaptureTakesExactlyItsCountIntoAFileOrMemory)
{
    Socket listener = RawTcp::listenOn("127.0.0.3", streamPort);
    RIzarorozi socket;
    socket.Host = u"127.0.0.3"_s;
    socket.Port = streamPort;
    socket.Connect();
    Socket peer = RawTcp::acceptOne(listener);
    const QByteArray body = RawTcp::pattern(300000);
    std::thread sending([&] { RawTcp::sendAll(peer, body + "AFTER" + body + "LAST"); });

    TempDir dir;
    QFile file(dir.file(u"capture.bin"_s));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write("head");
    socket.CaptureStream(file, 4 + body.size());
    EXPECT_EQ(socket.BytesZeroCopied(), body.size());
    EXPECT_EQ(file.pos(), 4 + body.size());
    EXPECT_EQ(socket.Read(5), QByteArray("AFTER"));

    QBuffer memory;
    memory.open(QIODevice::ReadWrite);
    socket.CaptureStream(memory, body.size());
    EXPECT_EQ(socket.BytesZeroCopied(), 0);
    EXPECT_EQ(socket.BytesReceived(), body.size());
    EXPECT_EQ(socket.Read(4), QByteArray("LAST"));
    sending.join();
    file.close();
    EXPECT_TRUE(dir.read(u"capture.bin"_s) == "head" + body);
    EXPECT_TRUE(memory.data() == body);
}

TEST(ZeroCopy, BytesAfterTheBodyNeverReachTheFile)
{
    Receiver receiver;
    const QByteArray body = RawTcp::pattern(5 << 20);
    EXPECT_EQ(rawExchange(header({}, body.size()) + body + QByteArray(100000, 'X')), ack);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 1, 10000);
    ASSERT_EQ(receiver.messageCount(), 1);
    EXPECT_TRUE(receiver.messages[0].body == body);
    EXPECT_EQ(receiver.messages[0].zeroCopied, body.size());
}

// The sender closes, stalls, or is still sending when the receiver is cancelled: nothing is
// delivered, nothing acknowledged, no file left.
TEST(ZeroCopy, SenderThatStopsInsideTheBodyDeliversNothing)
{
    Receiver receiver;
    const QByteArray half = header({}, 2 << 20) + RawTcp::pattern(1 << 20);
    EXPECT_EQ(rawExchange(half), QByteArray());

    receiver.server->StallTimeOut = 300;
    QElapsedTimer clock;
    clock.start();
    Socket stalled = openPost(half);
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 2, 10000);
    EXPECT_GE(clock.elapsed(), 250);
    EXPECT_EQ(RawTcp::receiveAll(stalled), QByteArray());

    receiver.server->StallTimeOut = 0; // only the cancel can end this one
    Socket waiting = openPost(half);
    ASSERT_EVENTUALLY(!receiver.leftovers().isEmpty(), 10000); // inside the body
    receiver.server->Abort();
    ASSERT_EVENTUALLY_EQ(receiver.disconnected.size(), 3, 10000);
    EXPECT_EQ(RawTcp::receiveAll(waiting), QByteArray());

    EXPECT_EQ(receiver.messageCount(), 0);
    EXPECT_TRUE(receiver.leftovers().isEmpty());
}

// The body moves on a thread of its own: a progress handler that holds the caller's thread does
// not hold the bytes, and progress comes coalesced, not once per block, however slowly the
// receiver reads.
TEST(ZeroCopy, AFileBodyMovesWithoutWaitingForTheCallersThread)
{
    TempDir dir;
    {
        Receiver receiver;
        Sender sender;
        const qsizetype size = 32 << 20;
        auto file = sourceFile(dir, RawTcp::pattern(size));
        qint64 before = -1, after = -1;
        sender.strm.OnPacketSent = [&](RIzarorozi *s) {
            if (before >= 0)
                return;
            before = s->BytesSent();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            after = s->BytesSent();
        };
        EXPECT_EQ(sender.post(*file), ack);
        EXPECT_GT(after, before) << "bytes kept moving while the handler held the thread";
        EXPECT_EQ(sender.strm.BytesSent(), size);
    }

    // A receiver that takes 16 KiB at a time, a millisecond apart.
    Socket listener = RawTcp::listenOn("127.0.0.3", streamPort);
    const qsizetype size = 4 << 20;
    const qsizetype expected = header({}, size).size() + size;
    auto peer = std::async(std::launch::async, [&] {
        Socket s = RawTcp::acceptOne(listener);
        qsizetype received = 0;
        while (received < expected) {
            received += RawTcp::receiveExactly(s, qMin<qsizetype>(16384, expected - received)).size();
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        RawTcp::sendAll(s, ack);
        return received;
    });
    Sender sender;
    sender.strm.Host = u"127.0.0.3"_s;
    auto file = sourceFile(dir, RawTcp::pattern(size));
    QElapsedTimer clock;
    clock.start();
    EXPECT_EQ(sender.post(*file), ack);
    const qint64 elapsed = clock.elapsed();
    EXPECT_EQ(peer.get(), expected);
    ASSERT_FALSE(sender.progress.isEmpty());
    EXPECT_EQ(sender.progress.last(), size);
    EXPECT_LE(sender.progress.size(), elapsed / RIzarorozi::ProgressInterval + 3)
        << "progress every " << RIzarorozi::ProgressInterval << " ms at most, in " << elapsed << " ms";
}

// An abort or a raising handler at the first progress of a file body, and a receiver that stops
// reading: the post ends with its error, the connection is closed, nothing is delivered, and
// the sender can post again.
TEST(ZeroCopy, AFileBodyEndsOnAbortARaisingHandlerOrAStall)
{
    Receiver receiver;
    TempDir dir;
    // Sparse, so that it costs no disk, and far more than an abort lets through.
    dir.write(u"sparse.bin"_s, {});
    ASSERT_TRUE(QFile::resize(dir.file(u"sparse.bin"_s), 1LL << 30));
    auto file = std::make_unique<QFile>(dir.file(u"sparse.bin"_s));
    ASSERT_TRUE(file->open(QIODevice::ReadOnly));
    struct Case {
        const char *name;
        std::function<void(TZnStrm &)> onProgress; // null: a receiver that stops reading
        QString error;
    };
    const QList<Case> cases{
        {"abort", [](TZnStrm &strm) { strm.Abort(); }, u"Socket send aborted"_s},
        {"raise", [](TZnStrm &) { throw Exception(u"handler failed"_s); }, u"handler failed"_s},
        {"stall", nullptr, u"10060:Connection timed out"_s},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        Sender sender;
        std::optional<Socket> silentListener;
        std::future<Socket> silent;
        if (c.onProgress) {
            sender.strm.OnPacketSent = [&](RIzarorozi *) { c.onProgress(sender.strm); };
        } else {
            silentListener.emplace(RawTcp::listenOn("127.0.0.3", streamPort));
            silent = std::async(std::launch::async, [&] { return RawTcp::acceptOne(*silentListener); });
            sender.strm.Host = u"127.0.0.3"_s;
            sender.strm.StallTimeOut = 200;
        }
        ASSERT_TRUE(file->seek(0));
        EXPECT_EQ(raisedBy([&] { sender.post(*file); }), c.error);
        EXPECT_FALSE(sender.strm.Connected());
        EXPECT_GT(sender.strm.BytesSent(), 0);
        EXPECT_LT(sender.strm.BytesSent(), file->size());

        sender.strm.OnPacketSent = nullptr;
        sender.strm.Host = QString::fromLatin1(serverIp);
        sender.strm.StallTimeOut = 0;
        EXPECT_EQ(sender.post("again"), ack);
    }
    ASSERT_EVENTUALLY_EQ(receiver.messageCount(), 3, 10000);
    for (const Receiver::Message &m : receiver.messages)
        EXPECT_EQ(m.body, QByteArray("again"));
    ASSERT_EVENTUALLY(receiver.leftovers().isEmpty(), 10000);
}
