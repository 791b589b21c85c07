#pragma once

#include "bench/BenchOptions.h"
#include "bench/LanHosts.h"

// Sends a file between the link's two hosts, from a tmpfs folder (--dir) to the same folder,
// four ways taking turns in each repeat: the plain TCP copy of stream_bench, the zero-copy
// copy (sendfile and splice), and the file windows of two complete peers on the X display,
// once without and once with the accessibility bus. Prints markdown tables: the figures of each
// size, each role's CPU seconds per thread at the largest size, and the file windows' targets.
void runLanTransfer(const BenchOptions &o, const LanHosts &hosts);
