#include "net/HostLookup.h"

#include <QPromise>

#include <arpa/inet.h>
#include <netdb.h>
#include <system_error>
#include <thread>

namespace {

HostLookup::Answer lookUp(const QByteArray &host)
{
    HostLookup::Answer answer;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_CANONNAME;
    addrinfo *found = nullptr;
    if (::getaddrinfo(host.constData(), nullptr, &hints, &found) == 0 && found) {
        answer.address = ntohl(reinterpret_cast<const sockaddr_in *>(found->ai_addr)->sin_addr.s_addr);
        if (found->ai_canonname)
            answer.canonicalName = QString::fromUtf8(found->ai_canonname);
        ::freeaddrinfo(found);
    }
    return answer;
}

} // namespace

HostLookup::HostLookup(const QString &name, QObject *parent) : QObject(parent)
{
    connect(&watcher_, &QFutureWatcher<Answer>::finished, this, [this] {
        finished_ = true;
        if (watcher_.future().resultCount() > 0) {
            const Answer answer = watcher_.result();
            address_ = answer.address;
            canonicalName_ = answer.canonicalName;
        }
        emit finished();
    });
    QPromise<Answer> promise;
    watcher_.setFuture(promise.future());
    promise.start();
    // A thread of its own, not a pool's: a look-up that hangs must not hold up the next one.
    try {
        std::thread([promise = std::move(promise), host = name.toUtf8()]() mutable {
            promise.addResult(lookUp(host));
            promise.finish();
        }).detach();
    } catch (const std::system_error &) {
        // No thread: the promise, destroyed unfinished, reports a failed look-up.
    }
}

HostLookup::~HostLookup() = default;
