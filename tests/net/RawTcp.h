#pragma once

#include "net/Exceptions.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QTest>

#include <arpa/inet.h>
#include <chrono>
#include <functional>
#include <future>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

// Plain blocking TCP sockets for tests: peers that are not our code. Their blocking calls run
// on a helper thread (runAside) while the test's thread pumps its event loop, so that our
// components, which live on the test's thread, keep working.
namespace RawTcp {

inline sockaddr_in address(const char *ip, quint16 port)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    ::inet_pton(AF_INET, ip, &a.sin_addr);
    return a;
}

// Closes its socket when it goes out of scope.
class Socket {
public:
    explicit Socket(int fd = -1) : fd_(fd) {}
    Socket(Socket &&other) noexcept : fd_(other.release()) {}
    Socket &operator=(Socket &&other) noexcept
    {
        reset(other.release());
        return *this;
    }
    ~Socket() { reset(); }
    int fd() const { return fd_; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1)
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_;
};

// Receives time out after 20 s, so a test that goes wrong fails instead of hanging.
inline void boundReceives(int fd)
{
    const timeval limit{20, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

inline Socket listenOn(const char *ip, quint16 port, int backlog = 4)
{
    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    const int one = 1;
    ::setsockopt(s.fd(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = address(ip, port);
    if (::bind(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0
        || ::listen(s.fd(), backlog) != 0)
        s.reset();
    return s;
}

inline Socket acceptOne(const Socket &listener)
{
    pollfd p{listener.fd(), POLLIN, 0};
    if (::poll(&p, 1, 20000) <= 0)
        return Socket();
    Socket s(::accept(listener.fd(), nullptr, nullptr));
    boundReceives(s.fd());
    return s;
}

inline Socket connectTo(const char *ip, quint16 port)
{
    Socket s(::socket(AF_INET, SOCK_STREAM, 0));
    const sockaddr_in a = address(ip, port);
    if (::connect(s.fd(), reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        s.reset();
    boundReceives(s.fd());
    return s;
}

inline bool sendAll(const Socket &s, const QByteArray &bytes)
{
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(s.fd(), bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
        if (n <= 0)
            return false;
        done += n;
    }
    return true;
}

// Everything up to the peer's close (or an error, or the 20 s limit).
inline QByteArray receiveAll(const Socket &s)
{
    QByteArray all;
    char chunk[65536];
    for (;;) {
        const ssize_t n = ::recv(s.fd(), chunk, sizeof chunk, 0);
        if (n <= 0)
            return all;
        all.append(chunk, n);
    }
}

inline QByteArray receiveExactly(const Socket &s, qsizetype count)
{
    QByteArray all;
    char chunk[65536];
    while (all.size() < count) {
        const ssize_t n = ::recv(s.fd(), chunk, size_t(qMin<qsizetype>(count - all.size(), sizeof chunk)), 0);
        if (n <= 0)
            break;
        all.append(chunk, n);
    }
    return all;
}

// Runs work on a helper thread and pumps this thread's event loop until it is done (at most
// 30 s). Returns the work's result.
template <typename Work> auto runAside(Work work)
{
    auto result = std::async(std::launch::async, std::move(work));
    const bool done = QTest::qWaitFor(
        [&] { return result.wait_for(std::chrono::seconds(0)) == std::future_status::ready; }, 30000);
    Q_UNUSED(done);
    return result.get();
}

// A body of recognisable bytes.
inline QByteArray pattern(qsizetype size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (qsizetype i = 0; i < size; ++i)
        bytes[i] = char((i * 7 + i / 251) & 0xff);
    return bytes;
}

} // namespace RawTcp

// The text of the exception an action raised, or an empty text when it raised none.
inline QString raisedBy(const std::function<void()> &action)
{
    try {
        action();
    } catch (const Exception &e) {
        return e.message();
    }
    return {};
}
