#include "net/SendFileMover.h"

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/sendfile.h>

namespace {

// sendfile(2) has no MSG_NOSIGNAL: SIGPIPE is blocked on this thread during the call and the one
// a closed peer raised is taken back, so that such a peer gives EPIPE as send does. A caller
// that blocks SIGPIPE itself keeps what it gets.
ssize_t sendFileQuietly(int socket, int file, off_t *at, size_t count)
{
    sigset_t pipeSignal, before;
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    pthread_sigmask(SIG_BLOCK, &pipeSignal, &before);
    const ssize_t n = ::sendfile(socket, file, at, count);
    const int error = errno;
    if (!sigismember(&before, SIGPIPE)) { // also after a count: the call may end short with EPIPE
        const timespec now{0, 0};
        while (::sigtimedwait(&pipeSignal, nullptr, &now) == SIGPIPE) {}
    }
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = error;
    return n;
}

} // namespace

SendFileMover::SendFileMover(Descriptors descriptors, Counters counters, qint64 offset, qint64 size,
                             int stallTimeOutMs)
    : BodyMover(descriptors, counters.cancel, stallTimeOutMs), counters_(counters), offset_(offset), size_(size)
{}

SendFileMover::~SendFileMover() { stop(); }

bool SendFileMover::cannotServe() const
{
    return outcome() == Outcome::Failed && (error() == EINVAL || error() == ENOSYS) && counters_.sent.load() == 0;
}

BodyMover::Outcome SendFileMover::moveAll()
{
    off_t at = off_t(offset_);
    const off_t end = at + off_t(size_);
    while (at < end) {
        if (ending())
            return endedOutcome();
        const ssize_t n = sendFileQuietly(fds_.socket, fds_.file, &at, size_t(qMin<qint64>(end - at, Chunk)));
        if (n > 0) {
            counters_.zeroCopied.fetch_add(n, std::memory_order_relaxed);
            counters_.sent.fetch_add(n, std::memory_order_relaxed);
            firstBytesWent();
            continue;
        }
        if (n == 0)
            return Outcome::FileEnded;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            failWith(error);
            return Outcome::Failed;
        }
        if (!waitFor(POLLOUT))
            return endedOutcome();
    }
    return Outcome::Done;
}
