#include "secure/Sodium.h"

#include <sodium.h>

#include <stdexcept>

void ensureSodium()
{
    // A function-local static is initialised once, other threads waiting; a failed start
    // throws, which leaves it uninitialised, so the next call tries again.
    static const bool started = [] {
        if (sodium_init() < 0)
            throw std::runtime_error("libsodium could not be initialised");
        return true;
    }();
    (void)started;
}
