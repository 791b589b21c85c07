#include "net/BodyMover.h"

#include <QDeadlineTimer>

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace {

void drain(int descriptor)
{
    quint64 count = 0;
    while (::read(descriptor, &count, sizeof count) > 0) {}
}

} // namespace

BodyMover::BodyMover(Descriptors descriptors, const std::atomic<bool> &cancel, int stallTimeOutMs)
    : fds_(descriptors), cancel_(cancel), stallTimeOutMs_(stallTimeOutMs)
{
    signal_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
}

BodyMover::~BodyMover()
{
    stop();
    if (signal_ >= 0)
        ::close(signal_);
}

void BodyMover::start()
{
    thread_ = std::thread([this] {
        pthread_setname_np(pthread_self(), "file sender"); // for the system's per-thread figures
        loop();
    });
}

void BodyMover::run() { loop(); }

void BodyMover::stop()
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

void BodyMover::loop()
{
    outcome_ = moveAll();
    signal();
}

void BodyMover::signal()
{
    const quint64 one = 1;
    if (::write(signal_, &one, sizeof one) < 0) {
        // Full only if the owner never reads it; it then no longer waits for it.
    }
}

void BodyMover::firstBytesWent()
{
    if (signalledFirst_)
        return;
    signalledFirst_ = true;
    signal();
}

BodyMover::Outcome BodyMover::endedOutcome() const
{
    if (ending())
        return cancel_ ? Outcome::Cancelled : Outcome::Halted;
    return error_ != 0 ? Outcome::Failed : Outcome::Stalled;
}

// A wake-up with nothing to end (left over from an earlier cancel) is taken and the wait goes on.
bool BodyMover::waitFor(short events)
{
    pollfd watched[2] = {{fds_.socket, events, 0}, {fds_.wake, POLLIN, 0}};
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
