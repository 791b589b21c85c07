#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <netinet/in.h>

// What every fuzz target shares: one Qt application for the whole run, an event pump with a
// bound, a scratch folder in memory, and the way a broken invariant is reported.
namespace FuzzSupport {

// The fuzzer's input as bytes. (The Qt application that every target needs is made once, in
// LLVMFuzzerInitialize, before the first input.)
QByteArray input(const uint8_t *data, size_t size);

// Runs the event loop until done() holds or timeoutMs has passed; true when done() held.
// Sleeps in the event loop between events, so a wait costs no CPU.
bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 5000);

// The socket address of a dotted IPv4 address and a port, for the targets' plain sockets.
sockaddr_in ipv4(const char *ip, quint16 port);

// A fresh folder for one target, in memory (/dev/shm) where there is one, so that the INI
// layer's synchronous writes cost no disk flush. Removed at exit.
QString scratchFolder();

// A broken invariant is a finding: prints what broke and aborts, which libFuzzer reports as a
// crash and saves the input.
[[noreturn]] void fail(const QString &what);
inline void require(bool condition, const QString &what)
{
    if (!condition)
        fail(what);
}

} // namespace FuzzSupport
