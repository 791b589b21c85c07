#pragma once

// Initialises libsodium once per process (thread-safe); every entry point of secure/ calls it
// before its first use of the library. Throws std::runtime_error when libsodium cannot start
// (no usable random source).
void ensureSodium();
