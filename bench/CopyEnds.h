#pragma once

// The socket ends of the benchmarks' baseline copies (plain and zero-copy): the receiver's
// address, a receiver that listens, tells its parent it is ready and takes one connection, and
// the sender's connection and its end.
#include "bench/BenchOptions.h"

#include <QElapsedTimer>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

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

// A connection to the receiver (the benchmark fails when there is none).
inline int connectToReceiver(const BenchOptions &o)
{
    const int s = socket(AF_INET, SOCK_STREAM, 0);
    const sockaddr_in a = receiverAddress(o);
    if (connect(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) != 0)
        fail("connect");
    return s;
}

// Ends the sending side, waits until the receiver has closed (it has stored everything), prints
// the seconds since clock started and closes the socket.
inline void endSending(int s, const QElapsedTimer &clock)
{
    shutdown(s, SHUT_WR);
    char end = 0;
    while (recv(s, &end, 1, 0) > 0) {}
    std::printf("%.6f\n", double(clock.nsecsElapsed()) / 1e9);
    close(s);
}
