// The data operations of the socket base: sending and receiving bytes, texts, lines and whole
// streams over an established connection.
#include "net/RIzarorozi.h"

#include "net/Exceptions.h"
#include "net/StreamFiles.h"
#include "net/WinsockErrno.h"

#include <QCoreApplication>
#include <QIODevice>

#include <cerrno>
#include <cstring>
#include <limits>
#include <sys/socket.h>

using namespace Qt::Literals::StringLiterals;

namespace {

bool wouldBlock(int error) { return error == EAGAIN || error == EWOULDBLOCK; }

} // namespace

void RIzarorozi::SendBuffer(const char *Buffer, int Count)
{
    report(4, u"Sending Buffer"_s);
    TimeOutScope timeOut(*this);
    OpScope op(*this);
    if (!cancel_) {
        if (Count == 0)
            Count = int(qstrnlen(Buffer, BufferSize));
        if (tls_)
            tlsSend(Buffer, Count);
        int remaining = tls_ ? 0 : Count; // the session took it all
        while (remaining > 0 && !cancel_) {
            const ssize_t n = ::send(fd_, Buffer + Count - remaining, size_t(remaining), MSG_NOSIGNAL);
            if (n == 0)
                break;
            if (n > 0) {
                remaining -= int(n);
                continue;
            }
            const int error = errno;
            if (error == EINTR)
                continue;
            checkError(error);
            waitSocket(true); // a full socket: sleep until there is room
        }
    }
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"Socket send aborted"_s);
    }
}

void RIzarorozi::Write(const QByteArray &Text)
{
    report(8, u"Write"_s);
    if (Text.size() > BufferSize)
        throw ESockError(u"Text too long to send"_s);
    std::memcpy(buffer_.get(), Text.constData(), size_t(Text.size()));
    buffer_[Text.size()] = '\0';
    SendBuffer(buffer_.get(), 0);
}

void RIzarorozi::Writeln(const QByteArray &Text)
{
    report(8, u"Writeln"_s);
    Write(Text + "\r\n");
}

// Takes exactly Count bytes, waiting as long as it takes (no time-out). A peer that closes
// before Count bytes have arrived gives an empty result; the bytes already taken are dropped.
QByteArray RIzarorozi::Read(int Count)
{
    report(8, u"Read( "_s + QString::number(Count) + u" )"_s);
    if (Count < 0 || Count > 65535)
        throw ESockError(u"Invalid read count"_s);
    OpScope op(*this);
    if (tls_)
        return tlsRead(Count);
    if (Count == 0) {
        const ssize_t waiting = ::recv(fd_, buffer_.get(), BufferSize, MSG_PEEK | MSG_DONTWAIT);
        if (waiting < 0 && !wouldBlock(errno))
            checkError(errno);
        if (waiting <= 0)
            return {};
        Count = int(qMin<ssize_t>(waiting, 65535));
    }
    QByteArray result;
    result.reserve(Count);
    while (result.size() < Count && !cancel_) {
        const ssize_t n = ::recv(fd_, buffer_.get(), size_t(Count - result.size()), 0);
        if (n > 0) {
            result.append(buffer_.get(), n);
            readDisarmed_ = false;
            continue;
        }
        if (n == 0)
            return {};
        const int error = errno;
        if (error == EINTR)
            continue;
        checkError(error);
        waitSocket(false);
    }
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"Socket send aborted"_s);
    }
    return result;
}

qint64 RIzarorozi::ReadAvailable(char *Into, qint64 Max)
{
    if (Max <= 0)
        throw ESockError(u"Invalid read count"_s);
    OpScope op(*this);
    while (!cancel_) {
        if (tls_) {
            qint64 n = 0;
            const TlsSession::Result step = session().read(Into, Max, n);
            if (step == TlsSession::Result::Done) {
                readDisarmed_ = false;
                return n;
            }
            if (step == TlsSession::Result::Closed)
                return 0;
            tlsWait(step);
            continue;
        }
        const ssize_t n = ::recv(fd_, Into, size_t(Max), 0);
        if (n > 0) {
            readDisarmed_ = false;
            return n;
        }
        if (n == 0)
            return 0;
        const int error = errno;
        if (error == EINTR)
            continue;
        checkError(error);
        waitSocket(false);
    }
    cancel_ = false;
    throw EAbortError(u"Socket send aborted"_s);
}

// Takes one line, LF included. Bytes before the LF are taken as they arrive, so the socket
// never stays readable while the line is unfinished. A peer that closes (or a socket that is
// not connected) before the LF gives an empty result.
QByteArray RIzarorozi::ReadLn()
{
    report(8, u"ReadLn"_s);
    if (tls_)
        throw ESockError(u"ReadLn is not available inside TLS"_s);
    TimeOutScope timeOut(*this);
    OpScope op(*this);
    QByteArray line;
    while (!cancel_) {
        const ssize_t k = ::recv(fd_, buffer_.get(), BufferSize, MSG_PEEK);
        if (k == 0)
            return {};
        if (k > 0) {
            const char *lf = static_cast<const char *>(std::memchr(buffer_.get(), '\n', size_t(k)));
            const ssize_t take = lf ? lf - buffer_.get() + 1 : k;
            const ssize_t n = ::recv(fd_, buffer_.get(), size_t(take), 0);
            if (n > 0)
                line.append(buffer_.get(), n);
            readDisarmed_ = false;
            if (lf && n == take)
                return line;
            continue;
        }
        const int error = errno;
        if (error == EINTR)
            continue;
        if (WinsockErrno::fromErrno(error) == 10057) {
            lastError_ = 10057;
            return {};
        }
        checkError(error);
        waitSocket(false);
    }
    cancel_ = false;
    throw EAbortError(u"Socket readln aborted"_s);
}

void RIzarorozi::Transaction(const QByteArray &Command, QByteArray &Reply)
{
    report(8, u"Transaction"_s);
    replyNumber_ = 0;
    Writeln(Command);
    lastReply_ = ReadLn();
    if (!lastReply_.isEmpty()) {
        report(1, QString::fromLatin1(lastReply_));
        qsizetype digits = 0;
        while (digits < lastReply_.size() && digits < 10 && lastReply_[digits] >= '0'
               && lastReply_[digits] <= '9')
            ++digits;
        if (digits > 0) {
            const qlonglong number = lastReply_.left(digits).toLongLong();
            if (number > std::numeric_limits<qint16>::max())
                throw ESockError(u"Reply number out of range"_s);
            replyNumber_ = int(number);
        }
    }
    Reply = lastReply_;
}

// Sends the whole stream from its start (see sendBody).
void RIzarorozi::SendStream(QIODevice &Stream)
{
    report(8, u"SendStream"_s);
    if (Stream.isSequential() || !Stream.seek(0))
        throw ESockError(u"Stream cannot be sent from its start"_s);
    sendBody(Stream, Stream.size());
}

// Sends Count bytes from where the stream stands: the way to send from a pipe or another
// sequential device, whose size cannot be asked beforehand.
void RIzarorozi::SendStream(QIODevice &Stream, qint64 Count)
{
    report(8, u"SendStream"_s);
    if (Count < 0)
        throw ESockError(u"Range check error"_s);
    sendBody(Stream, Count);
}

// Sends size bytes of the stream; a full socket is waited for. A regular file goes by
// sendfile(2) on a thread of its own, its progress coalesced (see sendFile). Anything else (or
// a file the system cannot send from) is read into the buffer and sent from there, raising
// OnPacketSent after every send that moved bytes and pumping the event loop between sends (at
// most every few milliseconds, so that pumping costs next to nothing at loopback speed).
// Inside TLS the bytes are encrypted on their way, so nothing goes by sendfile (see tlsSendBody).
void RIzarorozi::sendBody(QIODevice &Stream, qint64 size)
{
    OpScope op(*this);
    if (!cancel_) {
        if (size > std::numeric_limits<qint32>::max())
            throw ESockError(u"Range check error"_s);
        if (!countBodiesTogether_) {
            bytesSent_ = 0;
            bytesTotal_ = size;
        }
        bytesZeroCopied_ = 0;
        const int file = StreamFiles::regularFileHandle(Stream);
        const qint64 start = Stream.pos();
        const qint64 sentBefore = bytesSent_;
        if (tls_)
            tlsSendBody(Stream, file, start, size);
        else if (file >= 0 && sendFile(file, start, size))
            Stream.seek(start + bytesSent_ - sentBefore); // where reading the bytes would have left it
        else
            sendRead(Stream, size);
    }
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"Socket send aborted"_s);
    }
}

// The read and send path, in chunks of at most 65536 bytes.
void RIzarorozi::sendRead(QIODevice &Stream, qint64 size)
{
    qint64 left = size;
    while (left > 0 && !cancel_) {
        const qint64 k = Stream.read(buffer_.get(), qMin<qint64>(left, BufferSize));
        if (k <= 0)
            throw ESockError(u"Cannot read the stream: "_s + Stream.errorString());
        left -= k;
        qint64 remaining = k;
        while (remaining > 0 && !cancel_) {
            const ssize_t n = ::send(fd_, buffer_.get() + k - remaining, size_t(remaining), MSG_NOSIGNAL);
            if (n == 0)
                return;
            if (n < 0) {
                const int error = errno;
                if (error != EINTR) {
                    checkError(error);
                    waitSocket(true);
                }
                continue;
            }
            remaining -= n;
            packetSent(n);
        }
    }
}

void RIzarorozi::packetSent(qint64 count)
{
    bytesSent_ += count;
    if (OnPacketSent)
        OnPacketSent(this);
    pumpNow();
}

// Appends received bytes to the stream until it holds Size bytes (never more: each receive
// asks only for what is still missing), the peer closes or the socket is not connected.
// Size -1 receives once. Each block re-arms the time-out, which does not restart a running one.
// A body for a regular file goes from the socket into the file by splice(2); inside TLS every
// body is decrypted through a buffer instead.
void RIzarorozi::CaptureStream(QIODevice &Stream, qint64 Size)
{
    report(8, u"Capture Stream"_s);
    bytesReceived_ = 0;
    bytesZeroCopied_ = 0;
    TimeOutScope timeOut(*this);
    OpScope op(*this);
    qint64 held = Stream.size();
    const int file = Size == -1 || tls_ ? -1 : StreamFiles::regularFileHandle(Stream);
    if (tls_)
        tlsReceiveInto(Stream, held, Size);
    else if (file < 0 || !spliceInto(Stream, file, held, Size))
        receiveInto(Stream, held, Size);
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"Socket capture aborted"_s);
    }
}

// The receive and write path of CaptureStream, through the buffer.
void RIzarorozi::receiveInto(QIODevice &Stream, qint64 held, qint64 Size)
{
    while (!cancel_ && (Size == -1 || held < Size)) {
        const qint64 wanted = Size == -1 ? BufferSize : qMin<qint64>(Size - held, BufferSize);
        const ssize_t k = ::recv(fd_, buffer_.get(), size_t(wanted), 0);
        if (k == 0)
            break;
        if (k > 0) {
            StreamFiles::writeAll(Stream, buffer_.get(), k);
            held += k;
            blockReceived(k);
        } else {
            const int error = errno;
            if (error == EINTR)
                continue;
            if (WinsockErrno::fromErrno(error) == 10057) {
                lastError_ = 10057;
                break;
            }
            checkError(error);
            if (Size == -1) {
                QCoreApplication::processEvents();
                break;
            }
            waitSocket(false);
            continue;
        }
        if (Size == -1)
            break;
    }
}

void RIzarorozi::blockReceived(qint64 count)
{
    readDisarmed_ = false;
    bytesReceived_ += count;
    if (OnPacketRecvd)
        OnPacketRecvd(this);
    TimerOn();
    pumpNow();
}

void RIzarorozi::awaitPeerClose()
{
    if (TlsStarted()) {
        awaitTlsClose();
        return;
    }
    while (!Canceled()) {
        const ssize_t n = ::recv(Socket(), buffer(), BufferSize, 0);
        if (n > 0)
            continue;
        if (n == 0)
            return;
        if (errno == EINTR)
            continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK)
            return;
        waitReadable();
    }
}
