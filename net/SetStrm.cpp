#include "net/SetStrm.h"

#include "net/Exceptions.h"
#include "net/SetStreamFormat.h"
#include "net/Swallow.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

using namespace Qt::Literals::StringLiterals;
namespace Format = SetStreamFormat;

namespace {

// Refuses, before anything is sent, what the stream's framing cannot carry.
void checkSet(const QByteArray &setId, const QByteArray &manifest, const QList<SetStrm::Record> &records)
{
    if (setId.size() != Format::SetIdBytes)
        throw ESockError(u"Invalid set id"_s);
    if (manifest.size() > Format::MaxManifestBytes)
        throw ESockError(u"Manifest too large"_s);
    const SetStrm::Record *previous = nullptr;
    for (const SetStrm::Record &record : records) {
        if (record.index == Format::EndIndex || (previous && record.index <= previous->index))
            throw ESockError(u"Records out of order"_s);
        if (record.skipReason.size() > Format::MaxReasonBytes)
            throw ESockError(u"Reason too long"_s);
        if (record.skipReason.isEmpty() && (record.start < 0 || record.start > record.expectedSize))
            throw ESockError(u"Range check error"_s);
        previous = &record;
    }
}

qint64 bodyBytes(const QList<SetStrm::Record> &records)
{
    qint64 total = 0;
    for (const SetStrm::Record &record : records) {
        if (record.skipReason.isEmpty())
            total += record.expectedSize - record.start;
    }
    return total;
}

// Reads exactly size bytes from offset unless the file ends first; the count read.
qint64 readFully(int file, qint64 offset, char *data, qint64 size)
{
    qint64 done = 0;
    while (done < size) {
        const ssize_t n = ::pread(file, data + done, size_t(size - done), off_t(offset + done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    return done;
}

// A descriptor open for reading, closed when it goes.
class ReadDescriptor {
public:
    explicit ReadDescriptor(const QString &path)
        : fd_(::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC))
    {}
    ~ReadDescriptor()
    {
        if (fd_ >= 0)
            ::close(fd_);
    }
    ReadDescriptor(const ReadDescriptor &) = delete;
    ReadDescriptor &operator=(const ReadDescriptor &) = delete;

    int get() const { return fd_; }
    // The descriptor for a QFile that closes it.
    int release() { return std::exchange(fd_, -1); }
    // The file's size; -1 when it cannot be had or the file is no regular file.
    qint64 size() const
    {
        struct stat status {};
        return fd_ >= 0 && ::fstat(fd_, &status) == 0 && S_ISREG(status.st_mode) ? qint64(status.st_size) : -1;
    }

private:
    int fd_;
};

} // namespace

SetStrm::SetStrm(QObject *owner) : RIzarorozi(owner) { Port = 2921; }

SetStrm::~SetStrm() { beginDestruction(); }

void SetStrm::PostSet(const QByteArray &setId, const QByteArray &manifest, const QList<Record> &records,
                      QByteArray &Reply)
{
    Reply.clear();
    checkSet(setId, manifest, records);
    if (UnreadableReason.size() > Format::MaxReasonBytes || ChangedReason.size() > Format::MaxReasonBytes)
        throw ESockError(u"Reason too long"_s);
    countBodiesTogether(bodyBytes(records));
    reportedSent_ = 0;
    lastProgress_.invalidate();
    Connect();
    try {
        if (Tls)
            StartTls(TlsSession::Role::Client, *Tls);
        QByteArray header;
        Format::appendHeader(header, setId, manifest);
        SendBuffer(header.constData(), int(header.size()));
        staging_.reserve(StagingBytes);
        for (const Record &record : records)
            sendRecord(record);
        Format::appendEnd(staging_);
        flush();
        reportProgress(true);
        Reply = Read(Format::AcknowledgementBytes);
    } catch (...) {
        staging_ = QByteArray();
        stagedBody_ = 0;
        swallow([this] { Disconnect(); }); // the post's own failure is the one to report
        throw;
    }
    staging_ = QByteArray();
    Disconnect();
}

void SetStrm::sendRecord(const Record &record)
{
    currentIndex_.store(record.index, std::memory_order_relaxed);
    if (OnRecordStarted)
        OnRecordStarted(this);
    if (!record.skipReason.isEmpty()) {
        stageSkip(record.index, record.skipReason);
        return;
    }
    // A plain descriptor: a set of many small files opens one per file, and a QFile's object
    // and its own looks at the file cost more than the reading.
    ReadDescriptor source(record.path);
    if (source.get() < 0) {
        skipFile(record, UnreadableReason);
    } else if (source.size() != record.expectedSize) {
        skipFile(record, ChangedReason);
    } else if (record.expectedSize - record.start > SmallBody) {
        QFile file;
        if (!file.open(source.release(), QIODevice::ReadOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle))
            skipFile(record, UnreadableReason);
        else
            sendLargeBody(file, record);
    } else if (!stageSmallBody(source.get(), record)) {
        skipFile(record, ChangedReason); // it shrank since its size was asked
    }
}

// The file goes as a "cannot send" record: its bytes leave the total, so progress can reach it.
void SetStrm::skipFile(const Record &record, const QByteArray &reason)
{
    setBytesTotal(BytesTotal() - (record.expectedSize - record.start));
    stageSkip(record.index, reason);
}

void SetStrm::stageSkip(quint32 index, const QByteArray &reason)
{
    makeRoom(Format::RecordLeadBytes + Format::ReasonLengthBytes + reason.size());
    Format::appendSkip(staging_, index, reason);
}

// The record header and the body into the staging buffer. False, with nothing staged, when the
// file holds fewer bytes than its size promised.
bool SetStrm::stageSmallBody(int file, const Record &record)
{
    const qint64 length = record.expectedSize - record.start;
    makeRoom(Format::DataHeaderBytes + length);
    const qsizetype mark = staging_.size();
    Format::appendDataHeader(staging_, record.index, record.start, length);
    const qsizetype body = staging_.size();
    staging_.resize(body + length);
    if (readFully(file, record.start, staging_.data() + body, length) != length) {
        staging_.resize(mark);
        return false;
    }
    stagedBody_ += length;
    return true;
}

// The record header goes with what is staged; the body then goes as a single-file post's body
// does. A file that shrinks while it goes fails the post: its header promised the bytes.
void SetStrm::sendLargeBody(QFile &file, const Record &record)
{
    const qint64 length = record.expectedSize - record.start;
    Format::appendDataHeader(staging_, record.index, record.start, length);
    flush();
    if (!file.seek(record.start))
        throw ESockError(u"Cannot read the stream: "_s + file.errorString());
    for (qint64 left = length; left > 0;) {
        const qint64 piece = qMin(left, LargestSend);
        SendStream(file, piece);
        left -= piece;
    }
}

void SetStrm::makeRoom(qint64 bytes)
{
    if (staging_.size() + bytes > StagingBytes)
        flush();
}

void SetStrm::flush()
{
    if (!staging_.isEmpty())
        SendBuffer(staging_.constData(), int(staging_.size()));
    staging_.resize(0); // keeps its capacity for the next records
    addBytesSent(stagedBody_);
    stagedBody_ = 0;
    reportProgress(false);
    pumpNow();
}

// OnPacketSent for bodies sent from the staging buffer, at most every ProgressInterval ms
// unless forced (the set's last bytes went).
void SetStrm::reportProgress(bool force)
{
    const qint64 sent = BytesSent();
    if (!OnPacketSent || sent == reportedSent_)
        return;
    if (!force && lastProgress_.isValid() && lastProgress_.elapsed() < ProgressInterval)
        return;
    reportedSent_ = sent;
    lastProgress_.start();
    OnPacketSent(this);
}

void SetStrm::Abort()
{
    if (!Connected())
        return;
    Cancel();
    Disconnect();
}
