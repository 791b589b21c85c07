#pragma once

#include "bench/BenchOptions.h"
#include "bench/LanHosts.h"

// File sets between the link's two hosts, from a tmpfs folder (--dir) to a fresh folder of the
// same tmpfs: a tree of --files small files, and one file of the largest --sizes. Against tar
// over a plain TCP pipe (socat) between the hosts, the set windows of two complete peers on the
// X display, once without and once with the accessibility bus; for the large file also the
// encrypted single-file windows. Prints markdown tables with each repeat's ratios to tar and the
// targets.
void runLanSets(const BenchOptions &o, const LanHosts &hosts);
