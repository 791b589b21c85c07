#pragma once

#include "fuzz/FuzzSupport.h"

#include <QByteArrayList>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

// A plain UDP socket of another peer (not our code), bound to ip:port.
class RawPeer {
public:
    RawPeer(const char *ip, quint16 port) : fd_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0))
    {
        const sockaddr_in a = FuzzSupport::ipv4(ip, port);
        FuzzSupport::require(fd_ >= 0 && ::bind(fd_, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0,
                             QStringLiteral("cannot bind a raw peer"));
    }
    ~RawPeer() { ::close(fd_); }
    RawPeer(const RawPeer &) = delete;
    RawPeer &operator=(const RawPeer &) = delete;

    quint16 port() const
    {
        sockaddr_in a{};
        socklen_t length = sizeof a;
        ::getsockname(fd_, reinterpret_cast<sockaddr *>(&a), &length);
        return ntohs(a.sin_port);
    }
    bool sendTo(const char *ip, quint16 port, const QByteArray &bytes) const
    {
        const sockaddr_in a = FuzzSupport::ipv4(ip, port);
        return ::sendto(fd_, bytes.constData(), size_t(bytes.size()), 0,
                        reinterpret_cast<const sockaddr *>(&a), sizeof a)
            == bytes.size();
    }
    // Every datagram that has arrived, without waiting.
    QByteArrayList drain() const
    {
        QByteArrayList all;
        char buffer[70000];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT)) >= 0;)
            all << QByteArray(buffer, n);
        return all;
    }

private:
    int fd_;
};
