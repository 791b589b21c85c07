#include "net/DatagramIntake.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <system_error>
#include <ctime>
#include <unistd.h>

namespace {

void raise(int descriptor)
{
    const quint64 one = 1;
    if (::write(descriptor, &one, sizeof one) < 0) {
        // Full only if nobody reads it: the reader then has a wake-up waiting anyway.
    }
}

qint64 monotonicUs()
{
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return qint64(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void drain(int descriptor)
{
    quint64 count = 0;
    while (::read(descriptor, &count, sizeof count) > 0) {}
}

} // namespace

DatagramIntake::DatagramIntake(int socket, int bufferSize, int queueLimit)
    : socket_(socket), bufferSize_(bufferSize), queueLimit_(queueLimit), lastEmptied_(monotonicUs())
{
    signal_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    stop_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (signal_ < 0 || stop_ < 0)
        return;
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error &) {
        // No thread: the owner reads alone, as it would without an intake.
    }
}

DatagramIntake::~DatagramIntake()
{
    if (thread_.joinable()) {
        raise(stop_);
        thread_.join();
    }
    for (const int descriptor : {signal_, stop_}) {
        if (descriptor >= 0)
            ::close(descriptor);
    }
}

void DatagramIntake::clearSignal() { drain(signal_); }


bool DatagramIntake::take(Datagram &datagram)
{
    const std::lock_guard guard(lock_);
    if (!queue_.empty()) {
        datagram = std::move(queue_.front());
        queue_.pop_front();
        // The rest must not wait for the thread: a handler of this one may run an event loop
        // of its own (a box), which takes them in, as it would from the socket.
        if (!queue_.empty())
            raise(signal_);
    } else if (!receive(socket_, bufferSize_, datagram)) {
        lastEmptied_.store(monotonicUs(), std::memory_order_relaxed);
        return false;
    }
    return true;
}

bool DatagramIntake::receive(int socket, int bufferSize, Datagram &datagram)
{
    if (datagram.bytes.size() != bufferSize)
        datagram.bytes.resize(bufferSize);
    socklen_t fromLength = sizeof datagram.from;
    // MSG_TRUNC makes recvfrom return the datagram's real size, so a longer one is detected.
    const ssize_t n = ::recvfrom(socket, datagram.bytes.data(), size_t(bufferSize), MSG_TRUNC,
                                 reinterpret_cast<sockaddr *>(&datagram.from), &fromLength);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return false;
    datagram.length = n < 0 ? -1 : n;
    return true;
}

// Sleeps until the socket is readable; then gives the owner GracePeriod ms to take what waits,
// and moves whatever is still there into the queue unless the owner has meanwhile read the
// socket empty. An owner that takes datagrams but falls behind never does, so the thread
// moves them then too: the kernel's queue would otherwise overflow at the owner's pace.
void DatagramIntake::run()
{
    pthread_setname_np(pthread_self(), "datagram intake");
    for (;;) {
        pollfd watched[2] = {{socket_, POLLIN, 0}, {stop_, POLLIN, 0}};
        if (::poll(watched, 2, -1) < 0 && errno != EINTR)
            return;
        if (watched[1].revents != 0)
            return;
        if (watched[0].revents == 0)
            continue;
        pollfd stop{stop_, POLLIN, 0};
        if (::poll(&stop, 1, GracePeriod) > 0)
            return;
        if (monotonicUs() - lastEmptied_.load(std::memory_order_relaxed) >= GracePeriod * 1000)
            moveWaiting();
    }
}

// Past QueueLimit the rest stays with the kernel; the thread looks again after the next grace.
// The lock is let go after every MoveBatch datagrams, so that the owner, taking from the queue
// meanwhile, waits for a few receives at most, not for a whole flood.
void DatagramIntake::moveWaiting()
{
    constexpr int MoveBatch = 32;
    Datagram received;
    for (;;) {
        int moved = 0;
        {
            const std::lock_guard guard(lock_);
            while (moved < MoveBatch && int(queue_.size()) < queueLimit_
                   && receive(socket_, bufferSize_, received)) {
                // A copy of its own size: a queue of short datagrams holds little memory.
                queue_.push_back({QByteArray(received.bytes.constData(),
                                             qBound<qint64>(0, received.length, qint64(bufferSize_))),
                                  received.length, received.from});
                ++moved;
            }
        }
        if (moved > 0)
            raise(signal_);
        if (moved < MoveBatch)
            return; // the socket is empty, or the queue full
    }
}
