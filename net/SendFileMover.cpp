#include "net/SendFileMover.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <csignal>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/sendfile.h>
#include <unistd.h>

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

void drain(int descriptor)
{
    quint64 count = 0;
    while (::read(descriptor, &count, sizeof count) > 0) {}
}

} // namespace

SendFileMover::SendFileMover(Descriptors descriptors, Counters counters, qint64 offset, qint64 size,
                             int stallTimeOutMs)
    : fds_(descriptors), counters_(counters), offset_(offset), size_(size), stallTimeOutMs_(stallTimeOutMs)
{
    signal_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

SendFileMover::~SendFileMover()
{
    stop();
    if (signal_ >= 0)
        ::close(signal_);
}

void SendFileMover::start()
{
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "file sender"); // for the system's per-thread figures
        loop();
    });
}

void SendFileMover::run() { loop(); }

void SendFileMover::stop()
{
    if (!finished()) {
        halt_ = true;
        const quint64 one = 1;
        if (::write(fds_.wake, &one, sizeof one) < 0) {
            // Full only if nobody reads it; the flag alone then suffices.
        }
    }
    if (thread_.joinable())
        thread_.join();
}

bool SendFileMover::cannotServe() const
{
    return outcome() == Outcome::Failed && (error_ == EINVAL || error_ == ENOSYS) && counters_.sent.load() == 0;
}

void SendFileMover::loop()
{
    outcome_ = moveAll();
    signal();
}

void SendFileMover::signal()
{
    const quint64 one = 1;
    if (::write(signal_, &one, sizeof one) < 0) {
        // Full only if the owner never reads it; it then no longer waits for it.
    }
}

SendFileMover::Outcome SendFileMover::moveAll()
{
    off_t at = off_t(offset_);
    const off_t end = at + off_t(size_);
    bool firstSignalled = false;
    while (at < end) {
        if (ending())
            return counters_.cancel ? Outcome::Cancelled : Outcome::Halted;
        const ssize_t n = sendFileQuietly(fds_.socket, fds_.file, &at, size_t(qMin<qint64>(end - at, Chunk)));
        if (n > 0) {
            counters_.zeroCopied.fetch_add(n, std::memory_order_relaxed);
            counters_.sent.fetch_add(n, std::memory_order_relaxed);
            if (!firstSignalled) {
                firstSignalled = true;
                signal();
            }
            continue;
        }
        if (n == 0)
            return Outcome::FileEnded;
        const int error = errno;
        if (error == EINTR)
            continue;
        if (error != EAGAIN && error != EWOULDBLOCK) {
            error_ = error;
            return Outcome::Failed;
        }
        if (!waitWritable()) {
            if (ending())
                return counters_.cancel ? Outcome::Cancelled : Outcome::Halted;
            return error_ != 0 ? Outcome::Failed : Outcome::Stalled;
        }
    }
    return Outcome::Done;
}

// Blocks until the socket has room, the wake-up descriptor is written to end the loop, or the
// stall time passes. A wake-up with nothing to end (left over from an earlier cancel) is taken
// and the wait goes on. False when the loop is to end (error_ set for a failure).
bool SendFileMover::waitWritable()
{
    pollfd watched[2] = {{fds_.socket, POLLOUT, 0}, {fds_.wake, POLLIN, 0}};
    const QDeadlineTimer stall = stallTimeOutMs_ > 0 ? QDeadlineTimer(stallTimeOutMs_)
                                                     : QDeadlineTimer(QDeadlineTimer::Forever);
    while (!ending()) {
        const int n = ::poll(watched, 2, stall.isForever() ? -1 : int(stall.remainingTime()));
        if (n > 0) {
            if (watched[0].revents != 0)
                return true;
            if (!ending())
                drain(fds_.wake);
            continue;
        }
        if (n == 0)
            return false;
        if (errno != EINTR) {
            error_ = errno;
            return false;
        }
    }
    return false;
}
