// The socket base's operations inside TLS: the handshake, and sending and receiving through the
// session with the same waits as on the bare socket (a session that needs the socket readable or
// writable waits for it as a send or a receive does, stall time-out and cancel included).
#include "net/RIzarorozi.h"

#include "net/Exceptions.h"
#include "net/StreamFiles.h"
#include "net/TlsBodyMover.h"

#include <QIODevice>

#include <cerrno>

using namespace Qt::Literals::StringLiterals;

using Result = TlsSession::Result;

void RIzarorozi::StartTls(TlsSession::Role role, const TlsKeys &keys)
{
    report(8, u"Start TLS"_s);
    if (tls_)
        throw ESockError(u"TLS already started"_s);
    TimeOutScope timeOut(*this);
    OpScope op(*this);
    tlsSuite_.clear();
    tls_ = TlsSession::open(fd_, role, keys);
    for (Result result = session().handshake(); result != Result::Done && !cancel_; result = session().handshake())
        tlsWait(result);
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"TLS handshake aborted"_s);
    }
    tlsSuite_ = session().cipherSuite();
    report(4, u"TLS "_s + tlsSuite_);
}

// The running session. A handler that closed the socket during a wait or a progress report
// ended it: the operation then fails as it does on a closed bare socket.
TlsSession &RIzarorozi::session()
{
    if (!tls_)
        checkError(ENOTCONN);
    return *tls_;
}

// Waits for what the session asked for; a failure is raised.
void RIzarorozi::tlsWait(Result result)
{
    if (result == Result::WantRead || result == Result::WantWrite)
        waitSocket(result == Result::WantWrite);
    else if (result == Result::Failed)
        raiseTlsFailure();
}

// A failed socket call gives its error text as on the bare socket, anything else "TLS: " and the
// reason.
void RIzarorozi::raiseTlsFailure()
{
    checkError(session().systemError());
    const QString text = u"TLS: "_s + session().failureText();
    report(1, text);
    throw ESockError(text);
}

void RIzarorozi::tlsSend(const char *data, qint64 size)
{
    while (!cancel_) {
        qint64 written = 0;
        const Result result = session().write(data, size, written);
        if (result == Result::Done)
            return;
        tlsWait(result);
    }
}

// As Read: exactly Count bytes, or empty when the peer ended the session first; Count 0 takes
// what the session can give without waiting.
QByteArray RIzarorozi::tlsRead(int Count)
{
    qint64 n = 0;
    if (Count == 0) {
        const Result result = session().read(buffer_.get(), 65535, n);
        if (result == Result::Failed)
            raiseTlsFailure();
        return result == Result::Done ? QByteArray(buffer_.get(), n) : QByteArray();
    }
    QByteArray result;
    result.reserve(Count);
    while (result.size() < Count && !cancel_) {
        const Result step = session().read(buffer_.get(), Count - result.size(), n);
        if (step == Result::Done) {
            result.append(buffer_.get(), n);
            readDisarmed_ = false;
        } else if (step == Result::Closed) {
            return {};
        } else {
            tlsWait(step);
        }
    }
    if (cancel_) {
        cancel_ = false;
        throw EAbortError(u"Socket send aborted"_s);
    }
    return result;
}

// A regular file goes on a thread of its own as sendfile does (see tlsSendFile); anything else
// through the calling thread in large chunks, OnPacketSent after each.
void RIzarorozi::tlsSendBody(QIODevice &Stream, int file, qint64 start, qint64 size)
{
    const qint64 sentBefore = bytesSent_;
    if (file >= 0 && tlsSendFile(file, start, size))
        Stream.seek(start + bytesSent_ - sentBefore); // where reading the bytes would have left it
    else
        tlsSendRead(Stream, size);
}

// Sends size bytes of file from offset through the session, read and encrypted on the mover's
// thread while this thread's event loop runs (progress as for sendFile). False, with nothing
// sent, when no mover could be had.
bool RIzarorozi::tlsSendFile(int file, qint64 offset, qint64 size)
{
    TlsBodyMover mover({fd_, file, wakeFd_}, session(), {cancel_, bytesSent_}, offset, size, StallTimeOut);
    if (!mover.valid())
        return false;
    if (moveBody(mover) == BodyMover::Outcome::Failed) {
        if (mover.sessionFailed())
            raiseTlsFailure();
        checkError(mover.error());
    }
    return true;
}

void RIzarorozi::tlsSendRead(QIODevice &Stream, qint64 size)
{
    const std::unique_ptr<char[]> chunk(new char[TlsBodyMover::Chunk]);
    qint64 left = size;
    while (left > 0 && !cancel_) {
        const qint64 k = Stream.read(chunk.get(), qMin(left, TlsBodyMover::Chunk));
        if (k <= 0)
            throw ESockError(u"Cannot read the stream: "_s + Stream.errorString());
        left -= k;
        tlsSend(chunk.get(), k);
        if (!cancel_)
            packetSent(k);
    }
}

// As receiveInto, through the session: each block written to the stream is as large as the
// records that have arrived allow, up to one chunk.
void RIzarorozi::tlsReceiveInto(QIODevice &Stream, qint64 held, qint64 Size)
{
    const std::unique_ptr<char[]> chunk(new char[TlsBodyMover::Chunk]);
    while (!cancel_ && (Size == -1 || held < Size)) {
        const qint64 wanted = Size == -1 ? TlsBodyMover::Chunk : qMin(Size - held, TlsBodyMover::Chunk);
        qint64 filled = 0;
        Result result = Result::Done;
        while (filled < wanted && result == Result::Done) {
            qint64 n = 0;
            result = session().read(chunk.get() + filled, wanted - filled, n);
            filled += n;
        }
        if (filled > 0) {
            StreamFiles::writeAll(Stream, chunk.get(), filled);
            held += filled;
            blockReceived(filled);
        }
        if (result == Result::Closed || Size == -1)
            break;
        if (result != Result::Done)
            tlsWait(result);
    }
}

void RIzarorozi::awaitTlsClose()
{
    OpScope op(*this);
    while (!cancel_) {
        qint64 n = 0;
        const Result result = session().read(buffer_.get(), BufferSize, n);
        if (result == Result::Done)
            continue;
        if (result != Result::WantRead && result != Result::WantWrite)
            return;
        waitSocket(result == Result::WantWrite);
    }
}
