// The benchmarks as people use the program: two hosts joined by a cable (two network
// namespaces joined by a veth pair, see VethLink), the peers' windows on a real X display
// under a window manager (DISPLAY must name one, e.g. Xvfb with openbox, as scripts/bench.sh
// starts), each once without and once with the accessibility bus. The sending roles run on one
// host, the receiving ones on the other. Prints markdown tables of the file transfer (see
// LanTransfer.h: --sizes, --repeats, tmpfs folder --dir) and the dispatch of datagrams (see
// LanDispatch.h: --count, --repeats, --runs) and file sets (see LanSets.h: --files), each with
// its targets. Runs as root, best under scripts/isolated.sh; --only transfer, dispatch or sets
// runs one part.
//
//   lan_bench --dir TMPFS [--sizes 67108864,1073741824] [--repeats 5] [--count 200000] [--runs 5]
//             [--files 10000] [--only transfer|dispatch|sets]
//
// It also holds the zero-copy copy's roles (--role zero-recv|zero-send, see ZeroCopy.h) and the
// screen reader stand-in (--role screen-reader, see ScreenReaderStandIn.h).
#include "bench/BenchOptions.h"
#include "bench/ChildProcess.h"
#include "bench/LanDispatch.h"
#include "bench/LanSets.h"
#include "bench/LanTransfer.h"
#include "bench/ScreenReaderStandIn.h"
#include "bench/VethLink.h"
#include "bench/ZeroCopy.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char **argv)
{
    const BenchOptions o = BenchOptions::parse(argc, argv);
    if (o.role == "zero-recv")
        return zeroCopyReceiver(o);
    if (o.role == "zero-send")
        return zeroCopySender(o);
    if (o.role == "screen-reader")
        return screenReaderStandIn(argc, argv);
    // A failed run exits at once: the session buses it started end with it.
    std::atexit(ChildProcess::terminateAll);
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "lan_bench: DISPLAY names no X display for the windows\n");
        return 2;
    }
    const VethLink link;
    if (!link.unavailable().isEmpty()) {
        std::fprintf(stderr, "lan_bench: no link: %s\n", qPrintable(link.unavailable()));
        return 1;
    }
    char *self = realpath(argv[0], nullptr);
    if (!self)
        fail("find this program");
    const std::string path = self;
    std::free(self);
    const LanHosts hosts{link.namespaceName(0).toStdString(), VethLink::address(0).toStdString(),
                         link.namespaceName(1).toStdString(), VethLink::address(1).toStdString(),
                         path.substr(0, path.rfind('/') + 1)};
    if (o.only.empty() || o.only == "transfer")
        runLanTransfer(o, hosts);
    if (o.only.empty() || o.only == "dispatch")
        runLanDispatch(o, hosts);
    if (o.only.empty() || o.only == "sets")
        runLanSets(o, hosts);
    return 0;
}
