#pragma once

#include <arpa/inet.h>
#include <linux/if_ether.h>
#include <linux/if_packet.h>
#include <sys/socket.h>

// A non-blocking packet socket on every interface of this network namespace that sees the
// frames coming in (outgoing copies ignored) as packets without their link header, with a
// receive buffer of bufferBytes; -1 when none can be had (it needs CAP_NET_RAW). Every protocol:
// a socket for IP alone would see a bridge port's frames only after the bridge took them.
inline int openIncomingPacketSocket(int bufferBytes)
{
    const int fd = ::socket(AF_PACKET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, htons(ETH_P_ALL));
    if (fd < 0)
        return -1;
    const int one = 1;
    ::setsockopt(fd, SOL_PACKET, PACKET_IGNORE_OUTGOING, &one, sizeof one);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &bufferBytes, sizeof bufferBytes);
    return fd;
}
