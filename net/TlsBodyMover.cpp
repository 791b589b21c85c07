#include "net/TlsBodyMover.h"

#include "secure/TlsSession.h"

#include <cerrno>
#include <poll.h>
#include <unistd.h>

TlsBodyMover::TlsBodyMover(Descriptors descriptors, TlsSession &session, Counters counters, qint64 offset,
                           qint64 size, int stallTimeOutMs)
    : BodyMover(descriptors, counters.cancel, stallTimeOutMs), session_(session), counters_(counters),
      offset_(offset), size_(size), buffer_(new char[Chunk])
{}

TlsBodyMover::~TlsBodyMover() { stop(); }

BodyMover::Outcome TlsBodyMover::moveAll()
{
    qint64 at = offset_;
    const qint64 end = offset_ + size_;
    while (at < end) {
        if (ending())
            return endedOutcome();
        const qint64 k = readChunk(at, qMin(end - at, Chunk));
        if (k == 0)
            return Outcome::FileEnded;
        if (k < 0)
            return Outcome::Failed;
        // The same bytes again after each wait, until the session has taken them all.
        for (;;) {
            qint64 written = 0;
            const TlsSession::Result result = session_.write(buffer_.get(), k, written);
            if (result == TlsSession::Result::Done)
                break;
            if (result != TlsSession::Result::WantRead && result != TlsSession::Result::WantWrite) {
                sessionFailed_ = session_.systemError() == 0;
                failWith(session_.systemError());
                return Outcome::Failed;
            }
            if (!waitFor(result == TlsSession::Result::WantRead ? POLLIN : POLLOUT))
                return endedOutcome();
        }
        at += k;
        counters_.sent.fetch_add(k, std::memory_order_relaxed);
        firstBytesWent();
    }
    return Outcome::Done;
}

// Up to count bytes of the file from at: the count read, 0 at the file's end, -1 on failure.
qint64 TlsBodyMover::readChunk(qint64 at, qint64 count)
{
    for (;;) {
        const ssize_t n = ::pread(fds_.file, buffer_.get(), size_t(count), off_t(at));
        if (n >= 0)
            return n;
        if (errno != EINTR) {
            failWith(errno);
            return -1;
        }
    }
}
