#include "app/QuitSignals.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The pipe's write end for the handler, which can reach nothing else; -1 while no object
// listens.
std::atomic<int> handlerPipe{-1};
static_assert(std::atomic<int>::is_always_lock_free, "the handler reads it without a lock");

// Bytes read from the pipe at a wake-up.
constexpr int ReadChunk = 64;

void onSignal(int number)
{
    const int savedErrno = errno;
    const int fd = handlerPipe.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const auto byte = static_cast<unsigned char>(number);
        // A full pipe already holds a wake-up: the byte may be dropped.
        (void)!::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

} // namespace

QuitSignals::QuitSignals(QObject *parent) : QObject(parent)
{
    int fds[2] = {-1, -1};
    if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0)
        return;
    int expected = -1;
    if (!handlerPipe.compare_exchange_strong(expected, fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        return;
    }
    readEnd_ = fds[0];
    writeEnd_ = fds[1];
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &action, &previous_[i]);
    notifier_ = new QSocketNotifier(qintptr(readEnd_), QSocketNotifier::Read, this);
    connect(notifier_, &QSocketNotifier::activated, this, &QuitSignals::readPipe);
}

QuitSignals::~QuitSignals()
{
    if (writeEnd_ < 0)
        return;
    for (size_t i = 0; i < Handled.size(); ++i)
        ::sigaction(Handled[i], &previous_[i], nullptr);
    handlerPipe.store(-1);
    delete notifier_;
    ::close(readEnd_);
    ::close(writeEnd_);
}

// One read a wake-up: the notifier wakes again while bytes are left.
void QuitSignals::readPipe()
{
    unsigned char bytes[ReadChunk];
    ssize_t got = 0;
    do
        got = ::read(readEnd_, bytes, sizeof bytes);
    while (got < 0 && errno == EINTR);
    if (got > 0)
        emit received(bytes[0]);
}
