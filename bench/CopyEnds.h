#pragma once

// The socket ends of the benchmarks' baseline copies (plain and zero-copy): the receiver's
// address, and a receiver that listens, tells its parent it is ready and takes one connection.
#include "bench/BenchOptions.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

// The receiver's address, --ip:--port.
inline sockaddr_in receiverAddress(const BenchOptions &o)
{
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(uint16_t(o.port));
    inet_pton(AF_INET, o.ip.c_str(), &a.sin_addr);
    return a;
}

// Listens on the receiver's address, prints "ready" and the start CPU, and returns the one
// connection it accepts (negative when the accept failed).
inline int acceptOneCopy(const BenchOptions &o)
{
    const int listener = socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    const sockaddr_in a = receiverAddress(o);
    if (bind(listener, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0 || listen(listener, 1) != 0)
        fail("listen");
    ready();
    reportStartCpu();
    return accept(listener, nullptr, nullptr);
}
