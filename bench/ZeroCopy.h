#pragma once

#include "bench/BenchOptions.h"

// A zero-copy file copy over TCP, the fastest a transfer between two hosts can be: the sender
// hands the file to the socket with sendfile(2), the receiver moves the socket's bytes through
// a pipe of 1 MiB into the file with splice(2), so that no byte passes through either
// process's memory. Same lines on standard output as the plain copy of stream_bench: the
// receiver prints "ready" once it listens at --ip:--port and then its start CPU, and writes
// DIR/received-zero.bin; the sender prints its start CPU, sends --file and prints the seconds
// from its connect to the receiver's close.
int zeroCopyReceiver(const BenchOptions &o);
int zeroCopySender(const BenchOptions &o);
