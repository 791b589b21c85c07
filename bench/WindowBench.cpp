// The two peers of the file-window benchmarks, started by stream_bench and lan_bench: one process
// per peer.
//
//   window_bench --role windows-recv|windows-send|sets-recv|sets-send --dir FOLDER --ip RECEIVER
//                --from SENDER --file SOURCE
//                [--platform xcb] [--a11y on|off] [--main-window shown|hidden]
#include "bench/BenchOptions.h"
#include "bench/WindowRoles.h"

int main(int argc, char **argv)
{
    const BenchOptions o = BenchOptions::parse(argc, argv);
    if (o.role == "windows-recv")
        return windowReceiver(argc, argv, o);
    if (o.role == "windows-send")
        return windowSender(argc, argv, o);
    if (o.role == "sets-recv")
        return setReceiver(argc, argv, o);
    if (o.role == "sets-send")
        return setSender(argc, argv, o);
    std::fprintf(stderr, "window_bench: run it through stream_bench or lan_bench\n");
    return 2;
}
