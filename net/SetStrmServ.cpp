#include "net/SetStrmServ.h"

#include "net/Exceptions.h"
#include "net/StreamFiles.h"
#include "net/Swallow.h"

#include <QFile>

#include <cerrno>
#include <cstring>
#include <optional>
#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;
namespace Format = SetStreamFormat;

// Takes the stream from the connection in blocks (whatever has arrived, up to 64 KiB at a time)
// and hands it out field by field, so that a set of many small files costs a receive per block
// rather than one per field. Blocks are read straight into the reader's buffer. Holds at most
// the largest field asked for (the manifest, bounded by MaxManifestBytes) and one block more.
class SetStrmServ::BlockReader {
public:
    static constexpr qsizetype Block = 64 * 1024;

    explicit BlockReader(RIzarorozi &socket) : socket_(socket) {}

    // The next count bytes, valid until the next call; raises when the connection ends first.
    const char *take(qsizetype count)
    {
        while (buffered() < count)
            fill();
        const char *bytes = buffer_.constData() + at_;
        at_ += count;
        return bytes;
    }
    template <typename Number> Number number() { return Format::read<Number>(take(sizeof(Number))); }
    QByteArray bytes(qsizetype count) { return QByteArray(take(count), count); }

    qsizetype buffered() const { return buffer_.size() - at_; }
    // Writes up to count of the buffered bytes into file; the count written.
    qint64 moveInto(int file, qint64 count)
    {
        const qint64 n = qMin<qint64>(count, buffered());
        StreamFiles::writeAll(file, buffer_.constData() + at_, n);
        at_ += n;
        return n;
    }
    // Waits for what arrives next and adds it; raises when the connection ends first.
    void fill()
    {
        // What is left moves to the front, so the buffer stays within a field and a block.
        const qsizetype left = buffered();
        if (at_ > 0 && left > 0)
            std::memmove(buffer_.data(), buffer_.constData() + at_, size_t(left));
        at_ = 0;
        buffer_.resize(left + Block);
        const qint64 n = socket_.ReadAvailable(buffer_.data() + left, Block);
        buffer_.resize(left + qsizetype(n));
        if (n == 0)
            throw ESockError(u"Connection closed inside the set"_s);
    }

private:
    RIzarorozi &socket_;
    QByteArray buffer_;
    qsizetype at_ = 0; // bytes of buffer_ already handed out
};

SetStrmServ::SetStrmServ(QObject *owner) : TZnGeneralServer(owner) { Port = 2921; }

SetStrmServ::SetStrmServ(ConnectionOf link) : TZnGeneralServer(link) {}

SetStrmServ::~SetStrmServ() = default;

TZnGeneralServer *SetStrmServ::NewConnectionComponent() { return new SetStrmServ(ConnectionOf{this}); }

// On the server's thread, for every accepted connection: without a sink it is abandoned (closed).
void SetStrmServ::prepareConnection(TZnGeneralServer &connection)
{
    auto *set = dynamic_cast<SetStrmServ *>(&connection);
    if (!set)
        return;
    const QString peer = connection.RemoteAddress();
    if (TlsFor)
        set->tls_ = TlsFor(peer);
    set->sink_ = SinkFor ? SinkFor(peer) : nullptr;
    if (!set->sink_)
        throw ESockError(u"No set expected from "_s + peer);
}

void SetStrmServ::ServeConnection()
{
    if (!sink_)
        return;
    bool acknowledged = false;
    QString reason;
    try {
        receiveSet();
        acknowledged = true;
    } catch (const Exception &e) {
        reason = e.message();
    } catch (const std::exception &e) {
        reason = QString::fromLocal8Bit(e.what());
    } catch (...) {
        reason = u"Failed"_s;
    }
    // Without the acknowledgement the sender sees the connection end instead.
    if (acknowledged)
        swallow([this] { awaitPeerClose(); });
    swallow([this] { RequestCloseSocket(); });
    OnPacketRecvd = nullptr;
    swallow([&] { sink_->ended(acknowledged, reason); });
    sink_.reset();
}

void SetStrmServ::receiveSet()
{
    if (tls_)
        StartTls(TlsSession::Role::Server, *tls_);
    BlockReader in(*this);
    const char *header = in.take(Format::HeaderBytes);
    const char *fields = header + Format::MagicBytes;
    if (std::memcmp(header, Format::Magic, Format::MagicBytes) != 0 || quint8(fields[0]) != Format::Version)
        throw ESockError(u"Not a set's stream"_s);
    const QByteArray setId(fields + 1, Format::SetIdBytes);
    const quint32 manifestLength = Format::read<quint32>(fields + 1 + Format::SetIdBytes);
    if (manifestLength > quint32(MaxManifestBytes))
        throw ESockError(u"Manifest too large"_s);
    const QByteArray manifest = in.bytes(manifestLength);
    QString refusal;
    if (!sink_->acceptHeader(setId, manifest, &refusal))
        throw ESockError(refusal.isEmpty() ? u"Set refused"_s : refusal);
    OnPacketRecvd = [this](RIzarorozi *) { sink_->progress(bodyBytes_ + BytesReceived()); };
    receiveRecords(in);
    // A connection cancelled after its last record arrived (its receiver was closed) delivers
    // nothing.
    if (Canceled())
        throw EAbortError(u"Socket capture aborted"_s);
    sink_->finished();
    Write(Format::acknowledgement());
}

void SetStrmServ::receiveRecords(BlockReader &in)
{
    std::optional<quint32> previous;
    for (;;) {
        if (Canceled())
            throw EAbortError(u"Socket capture aborted"_s);
        const quint32 index = in.number<quint32>();
        if (index == Format::EndIndex)
            return;
        if (previous && index <= *previous)
            throw ESockError(u"Records out of order"_s);
        previous = index;
        const quint8 kind = in.number<quint8>();
        if (kind == Format::DataKind) {
            const quint64 start = in.number<quint64>();
            const quint64 length = in.number<quint64>();
            if (!Format::validRange(start, length))
                throw ESockError(u"Invalid record range"_s);
            const int file = sink_->openFile(index, qint64(start), qint64(length));
            if (file < 0)
                throw ESockError(u"File refused"_s);
            receiveBody(in, file, qint64(start), qint64(length));
            sink_->fileDone(index);
        } else if (kind == Format::SkipKind) {
            const quint16 size = in.number<quint16>();
            if (size > MaxReasonBytes)
                throw ESockError(u"Reason too long"_s);
            sink_->fileSkipped(index, in.bytes(size));
        } else {
            throw ESockError(u"Unknown record kind"_s);
        }
    }
}

// Writes the record's length bytes into file (at start, see SetSink::openFile): what the reader
// holds, then the rest straight from the socket when it is large, through the reader otherwise.
void SetStrmServ::receiveBody(BlockReader &in, int file, qint64 start, qint64 length)
{
    const qint64 end = start + length;
    qint64 left = length;
    const auto written = [&](qint64 count) {
        left -= count;
        bodyBytes_ += count;
        if (count > 0)
            sink_->progress(bodyBytes_);
    };
    written(in.moveInto(file, left));
    if (left >= DirectBody) {
        // Large bodies take the single-file path, which writes through a QFile.
        QFile stream;
        if (!stream.open(file, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::DontCloseHandle))
            throw ESockError(u"Cannot write the received data: "_s + stream.errorString());
        CaptureStream(stream, end);
        bodyBytes_ += BytesReceived();
        if (stream.size() != end)
            throw ESockError(u"Connection closed inside a body"_s);
        return;
    }
    while (left > 0) {
        in.fill();
        written(in.moveInto(file, left));
    }
}
