#pragma once

#include "bench/BenchOptions.h"

// The two peers of the file-window benchmark, each a process of its own with a main window (shown
// with --main-window shown, else hidden) and its file windows on the offscreen platform, or the one QT_QPA_PLATFORM names (--platform and
// --a11y make a role fail unless its windows are on that platform and its accessibility bridge
// is so, see WindowSession.h). The receiver (at --ip) accepts the first offer into
// DIR/received-windows.bin and ends with its end message; the sender (at --from) offers --file
// through a send-file window, posts it when the accept arrives and prints the seconds from the
// start of the connection to its end message. Each prints the CPU time its start took once it is
// ready for the transfer (the sender before it offers the file). Both return 0 only when the transfer
// succeeded.
int windowReceiver(int argc, char **argv, const BenchOptions &o);
int windowSender(int argc, char **argv, const BenchOptions &o);

// The two peers of a file set between two hosts (--sealed on: sets go between peers that found
// each other's keys). The receiver (at --ip) accepts the first set into the folder --dir and
// ends with its end message; the sender (at --from) offers --file (a file or a folder) as one
// set, presses "发送" and prints the seconds from that press to the receiver's acknowledgement.
// Each prints the CPU time its start took once it is ready, as above.
int setReceiver(int argc, char **argv, const BenchOptions &o);
int setSender(int argc, char **argv, const BenchOptions &o);
