#include "StreamPeers.h"
#include "TlsKeyPair.h"
#include "net/SetStrm.h"
#include "fileset/Descriptor.h"
#include "net/SetStrmServ.h"
#include "tests/support/Waits.h"

#include <QtEndian>
#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <sodium.h>

using namespace StreamPeers;

namespace {

// A sink that writes entry n into <folder>/n and records every call in order, as a text.
class FolderSink : public SetSink {
public:
    explicit FolderSink(QString folder) : folder_(std::move(folder)) {}

    QString refusal; // not empty: the header is refused with it

    QString path(quint32 index) const { return folder_ + u'/' + QString::number(index); }
    QStringList calls()
    {
        std::lock_guard guard(lock_);
        return calls_;
    }
    bool ended()
    {
        std::lock_guard guard(lock_);
        return !calls_.isEmpty() && calls_.last().startsWith(u"ended"_s);
    }
    qint64 progress() const { return progress_.load(); }

    bool acceptHeader(const QByteArray &setId, const QByteArray &manifest, QString *refusalText) override
    {
        record(u"header %1 %2"_s.arg(QString::fromLatin1(setId.toHex()), QString::fromUtf8(manifest)));
        *refusalText = refusal;
        return refusal.isEmpty();
    }
    // As the program's sink does: a file that holds less than start is refused, one that holds
    // more is cut to start.
    int openFile(quint32 index, qint64 start, qint64 length) override
    {
        record(u"file %1 from %2, %3 bytes"_s.arg(index).arg(start).arg(length));
        file_.reset();
        file_ = Descriptor(::open(QFile::encodeName(path(index)).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        struct stat status {};
        if (!file_.isOpen() || ::fstat(file_.get(), &status) != 0 || status.st_size < start
            || ::ftruncate(file_.get(), start) != 0 || ::lseek(file_.get(), start, SEEK_SET) != start)
            return -1;
        return file_.get();
    }
    void fileDone(quint32 index) override
    {
        file_.reset();
        record(u"done %1"_s.arg(index));
    }
    void fileSkipped(quint32 index, const QByteArray &reason) override
    {
        record(u"skipped %1: %2"_s.arg(index).arg(QString::fromUtf8(reason)));
    }
    void progress(qint64 bodyBytes) override { progress_ = bodyBytes; }
    void finished() override { record(u"finished"_s); }
    void ended(bool acknowledged, const QString &reason) override
    {
        record(acknowledged ? u"ended acknowledged"_s : u"ended: "_s + reason);
    }

private:
    void record(const QString &call)
    {
        std::lock_guard guard(lock_);
        calls_ << call;
    }

    const QString folder_;
    Descriptor file_;
    std::mutex lock_;
    QStringList calls_;
    std::atomic<qint64> progress_{0};
};

const QByteArray setId = QByteArray::fromHex("00112233445566778899aabbccddeeff");
const QByteArray manifest = "the manifest, opaque to the stream";

// A receiver on 127.0.0.2:2921 that gives every connection one sink, and a sender aimed at it;
// plain, or inside TLS with each end pinning the other's key.
class SetStreamEnds {
public:
    explicit SetStreamEnds(bool tls)
    {
        receiver.Port = streamPort;
        receiver.BindAddress = QString::fromLatin1(serverIp);
        receiver.StallTimeOut = 10000; // a test that goes wrong fails instead of waiting for good
        receiver.SinkFor = [this](const QString &) { return sinkFor; };
        sender.Host = QString::fromLatin1(serverIp);
        sender.Port = streamPort;
        sender.StallTimeOut = 10000;
        if (tls) {
            receiver.TlsFor = [this](const QString &) -> std::optional<TlsKeys> {
                return keysOf(receiverKey, senderKey);
            };
            sender.Tls = keysOf(senderKey, receiverKey);
        }
        receiver.Loaded();
    }

    // The reply, or the error the post raised.
    std::pair<QByteArray, QString> post(const QList<SetStrm::Record> &records)
    {
        QByteArray reply;
        const QString error = raisedBy([&] { sender.PostSet(setId, manifest, records, reply); });
        return {reply, error};
    }

    const KeyPair receiverKey, senderKey;
    TempDir sent, received;
    std::shared_ptr<FolderSink> sink = std::make_shared<FolderSink>(received.path());
    std::shared_ptr<SetSink> sinkFor = sink;
    SetStrmServ receiver;
    SetStrm sender;
};

class SetStream : public ::testing::TestWithParam<bool> {};

INSTANTIATE_TEST_SUITE_P(PlainAndTls, SetStream, ::testing::Bool(),
                         [](const auto &info) { return info.param ? "Tls" : "Plain"; });

// A sink's calls as text that GoogleTest prints readably.
std::string lines(const QStringList &calls) { return calls.join(u'\n').toStdString(); }

QString headerCall()
{
    return u"header %1 %2"_s.arg(QString::fromLatin1(setId.toHex()), QString::fromUtf8(manifest));
}

} // namespace

// One set of every kind of record: whole files of sizes around the staging thresholds, resumed
// files (the receiver's copy holds the start and some stale bytes after it), files the sender
// cannot send, and enough small files to fill the staging buffer more than once. Each arrives
// byte for byte in order, the rest as "cannot send" records, and the set is acknowledged.
TEST_P(SetStream, EveryKindOfRecordArrivesInOrder)
{
    SetStreamEnds ends(GetParam());
    enum class Source { File, Missing, Changed, Declined };
    struct Row {
        QString what;
        qint64 size;
        qint64 held = 0; // what the receiver already holds
        Source source = Source::File;
    };
    QList<Row> rows{
        {u"empty"_s, 0},
        {u"one byte"_s, 1},
        {u"small"_s, 4096},
        {u"just above the small size"_s, SetStrm::SmallBody + 1},
        {u"above the staging buffer"_s, 300000},
        {u"large"_s, 3 << 20},
        {u"resumed small"_s, 50000, 20000},
        {u"resumed large"_s, 3 << 20, (1 << 20) + 7},
        {u"resumed to its end"_s, 1000, 1000},
        {u"missing"_s, 10, 0, Source::Missing},
        {u"changed since the offer"_s, 10, 0, Source::Changed},
        {u"declined by the caller"_s, 10, 0, Source::Declined},
    };
    for (int i = 0; i < 200; ++i)
        rows.append({u"many small %1"_s.arg(i), 2000 + i});

    QList<SetStrm::Record> records;
    QStringList expectedCalls{headerCall()};
    QList<quint32> expectedStarts;
    qint64 expectedBytes = 0;
    for (qsizetype i = 0; i < rows.size(); ++i) {
        const Row &row = rows[i];
        const auto index = quint32(2 * i + 1); // not every entry has a record
        const QByteArray content = RawTcp::pattern(row.size + i).mid(i);
        const QString source = ends.sent.file(QString::number(index));
        if (row.source == Source::File || row.source == Source::Declined)
            ends.sent.write(QString::number(index), content);
        if (row.source == Source::Changed)
            ends.sent.write(QString::number(index), content + "more");
        if (row.held > 0)
            ends.received.write(QString::number(index), content.left(row.held) + "stale bytes");
        records.append({index, source, row.held, row.size, row.source == Source::Declined ? "太大" : ""});
        expectedStarts << index;
        if (row.source == Source::File) {
            expectedCalls << u"file %1 from %2, %3 bytes"_s.arg(index).arg(row.held).arg(row.size - row.held)
                          << u"done %1"_s.arg(index);
            expectedBytes += row.size - row.held;
        } else {
            const char *reason = row.source == Source::Missing ? "无法读取文件"
                : row.source == Source::Changed                ? "文件已改变"
                                                               : "太大";
            expectedCalls << u"skipped %1: %2"_s.arg(index).arg(QString::fromUtf8(reason));
        }
    }
    expectedCalls << u"finished"_s << u"ended acknowledged"_s;

    QList<quint32> starts;
    ends.sender.OnRecordStarted = [&](RIzarorozi *) { starts << ends.sender.CurrentIndex(); };
    qint64 lastProgress = 0;
    ends.sender.OnPacketSent = [&](RIzarorozi *s) { lastProgress = s->BytesSent(); };
    const auto [reply, error] = ends.post(records);
    EXPECT_EQ(error, QString());
    EXPECT_EQ(reply, ack);
    EXPECT_FALSE(ends.sender.Connected());
    ASSERT_EVENTUALLY(ends.sink->ended(), 10000);
    EXPECT_EQ(lines(ends.sink->calls()), lines(expectedCalls));
    EXPECT_EQ(starts, expectedStarts);
    EXPECT_EQ(ends.sender.BytesSent(), expectedBytes);
    EXPECT_EQ(ends.sender.BytesTotal(), expectedBytes);
    EXPECT_EQ(lastProgress, expectedBytes);
    EXPECT_EQ(ends.sink->progress(), expectedBytes);
    for (qsizetype i = 0; i < rows.size(); ++i) {
        if (rows[i].source != Source::File)
            continue;
        SCOPED_TRACE(rows[i].what.toStdString());
        const QString name = QString::number(2 * i + 1);
        EXPECT_TRUE(ends.received.read(name) == ends.sent.read(name));
    }
    EXPECT_EVENTUALLY(ends.sink.use_count() == 2, 10000) << "the connection let go of its sink";
}

// A sink that refuses the header takes no record and the sender no acknowledgement (its
// connection may end while it still sends); a connection from an address without a sink is
// closed before anything is read.
TEST_P(SetStream, RefusedSetsTakeNothing)
{
    SetStreamEnds ends(GetParam());
    ends.sent.write(u"1"_s, RawTcp::pattern(100000));
    const QList<SetStrm::Record> records{{1, ends.sent.file(u"1"_s), 0, 100000, {}}};

    ends.sink->refusal = u"清单不符"_s;
    const auto [refusedReply, refusedError] = ends.post(records);
    EXPECT_EQ(refusedReply, QByteArray()) << refusedError.toStdString();
    ASSERT_EVENTUALLY(ends.sink->ended(), 10000);
    EXPECT_EQ(lines(ends.sink->calls()), lines({headerCall(), u"ended: 清单不符"_s}));
    EXPECT_FALSE(QFile::exists(ends.sink->path(1)));
    EXPECT_EVENTUALLY(ends.sink.use_count() == 2, 10000) << "the connection let go of its sink";

    ends.sinkFor = nullptr;
    const auto [strangerReply, strangerError] = ends.post(records);
    EXPECT_EQ(strangerReply, QByteArray()) << strangerError.toStdString();
    EXPECT_FALSE(QFile::exists(ends.sink->path(1)));
}

namespace {

// Stream bytes built here field by field, independently of the components' own framing code.
QByteArray be32(quint32 v)
{
    QByteArray b(4, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray be64(quint64 v)
{
    QByteArray b(8, '\0');
    qToBigEndian(v, b.data());
    return b;
}
QByteArray streamHeader(quint32 manifestLength = quint32(manifest.size()), const QByteArray &magic = "TSET")
{
    return magic + QByteArray(1, '\x01') + setId + be32(manifestLength) + manifest;
}
QByteArray data(quint32 index, quint64 start, quint64 length, const QByteArray &body)
{
    return be32(index) + QByteArray(1, '\0') + be64(start) + be64(length) + body;
}
QByteArray skip(quint32 index, const QByteArray &reason, quint16 length)
{
    QByteArray b(2, '\0');
    qToBigEndian(length, b.data());
    return be32(index) + QByteArray(1, '\x01') + b + reason;
}
const QByteArray end = be32(0xffffffff);

} // namespace

// Streams from a client that is not ours, each broken in one way: every one ends without the
// acknowledgement and the sink learns it; the well-formed one first shows they would be taken.
TEST(SetStreamHostile, BrokenStreamsEndWithoutAcknowledgement)
{
    struct Case {
        const char *what;
        QByteArray bytes;
        QString lastCall; // the sink's call before ended
        bool acknowledged = false;
    };
    const QByteArray body = RawTcp::pattern(1000);
    const QList<Case> cases{
        {"well-formed", streamHeader() + data(3, 0, 1000, body) + skip(4, "坏", 3) + end, u"finished"_s,
         true},
        {"another magic", streamHeader(quint32(manifest.size()), "TSEX") + end, {}},
        {"a manifest above the bound", streamHeader(SetStrmServ::MaxManifestBytes + 1), {}},
        {"an index not above the one before", streamHeader() + skip(5, "a", 1) + skip(5, "b", 1) + end,
         u"skipped 5: a"_s},
        {"a reason above the bound", streamHeader() + skip(1, QByteArray(513, 'r'), 513) + end, headerCall()},
        {"an unknown kind", streamHeader() + be32(1) + QByteArray(1, '\x02') + end, headerCall()},
        {"a range past the largest offset",
         streamHeader() + data(1, quint64(1) << 62, quint64(3) << 62, {}) + end, headerCall()},
        {"a start beyond what the receiver holds", streamHeader() + data(1, 500, 10, body.left(10)) + end,
         u"file 1 from 500, 10 bytes"_s},
        {"a body cut short", streamHeader() + data(1, 0, 1000, body.left(999)),
         u"file 1 from 0, 1000 bytes"_s},
    };
    SetStreamEnds ends(false);
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ends.sink = std::make_shared<FolderSink>(ends.received.path());
        ends.sinkFor = ends.sink;
        const QByteArray reply = rawExchange(c.bytes);
        EXPECT_EQ(reply, c.acknowledged ? ack : QByteArray());
        ASSERT_EVENTUALLY(ends.sink->ended(), 10000);
        const QStringList calls = ends.sink->calls();
        ASSERT_GE(calls.size(), 1);
        EXPECT_EQ(calls.last().startsWith(u"ended acknowledged"_s), c.acknowledged) << lines(calls);
        EXPECT_EQ(calls.size() >= 2 ? calls[calls.size() - 2] : QString(), c.lastCall) << lines(calls);
        EXPECT_EVENTUALLY(ends.sink.use_count() == 2, 10000) << "the connection let go of its sink";
    }
    EXPECT_EQ(ends.received.read(u"3"_s), body);
}
