#pragma once

#include "bench/BenchOptions.h"
#include "bench/LanHosts.h"

// Message datagrams from the sending host to a chat-room peer on the receiving host (its view
// shown, "保存聊天记录" ticked, on the X display, without and with the accessibility bus)
// against a plain recvfrom loop on the same host, through dispatch_bench's roles: a flood of
// --count datagrams in each of --repeats repeats (intake ratio, median of the pairs), and
// --runs runs of 20000 datagrams paced over one second (each run's loss). Prints markdown
// tables and the targets.
void runLanDispatch(const BenchOptions &o, const LanHosts &hosts);
