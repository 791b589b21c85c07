#pragma once

#include <QString>
#include <functional>

// What every fuzz target shares: one Qt application for the whole run, an event pump with a
// bound, a scratch folder in memory, and the way a broken invariant is reported.
namespace FuzzSupport {

// Creates the QCoreApplication once (libFuzzer calls the target many times in one process).
void ensureApplication();

// Runs the event loop until done() holds or timeoutMs has passed; true when done() held.
// Sleeps in the event loop between events, so a wait costs no CPU.
bool pumpUntil(const std::function<bool()> &done, int timeoutMs = 5000);

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
