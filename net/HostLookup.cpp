#include "net/HostLookup.h"

#include <QSocketNotifier>

#include <arpa/inet.h>
#include <atomic>
#include <netdb.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>

// What the helper thread and the owner share: the answer and the eventfd that wakes the owner.
struct HostLookup::Shared {
    std::atomic<bool> done{false};
    quint32 address = 0;      // host order; written before done
    QByteArray canonicalName; // written before done
    // An eventfd, not QPromise with QFutureWatcher: a Qt event posted across threads (queued call,
    // QFutureWatcher) is freed after a hand-over in Qt's futex locks that the thread sanitizer cannot see: it
    // reported a race in sendPostedEvents.
    int fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    ~Shared()
    {
        if (fd >= 0)
            ::close(fd);
    }
};

HostLookup::HostLookup(const QString &name, QObject *parent)
    : QObject(parent), shared_(std::make_shared<Shared>())
{
    if (shared_->fd < 0) {
        // No way to be woken: report the failure on the next turn of the event loop.
        QMetaObject::invokeMethod(
            this,
            [this] {
                finished_ = true;
                emit finished();
            },
            Qt::QueuedConnection);
        return;
    }
    std::thread([shared = shared_, host = name.toUtf8()] {
        addrinfo hints{};
        hints.ai_family = AF_INET;
        hints.ai_socktype = SOCK_STREAM;
        hints.ai_flags = AI_CANONNAME;
        addrinfo *found = nullptr;
        if (::getaddrinfo(host.constData(), nullptr, &hints, &found) == 0 && found) {
            shared->address = ntohl(reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
            if (found->ai_canonname)
                shared->canonicalName = found->ai_canonname;
            ::freeaddrinfo(found);
        }
        shared->done.store(true, std::memory_order_release);
        const quint64 one = 1;
        [[maybe_unused]] const ssize_t written = ::write(shared->fd, &one, sizeof one);
    }).detach();
    answered_ = new QSocketNotifier(shared_->fd, QSocketNotifier::Read, this);
    connect(answered_, &QSocketNotifier::activated, this, [this] {
        answered_->setEnabled(false);
        finished_ = true;
        if (shared_->done.load(std::memory_order_acquire)) {
            address_ = shared_->address;
            canonicalName_ = QString::fromUtf8(shared_->canonicalName);
        }
        emit finished();
    });
}

HostLookup::~HostLookup() = default;
