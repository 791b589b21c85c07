// Fifty complete peers in one process on 127.0.0.2 to 127.0.0.51: each befriends ten others
// through its add-friend dialog and sends them messages, first paced at 1000 datagrams per
// second over all senders, then as fast as the one event loop sends them. Prints the messages
// lost and the delivery latency (from the send to the end of the addressee's dispatch, which
// appends the message to its chat-room transcript). Binds 50 loopback addresses: run it in a
// network namespace of its own (scripts/isolated.sh).
//
//   scale_bench [--peers 50] [--friends 10] [--messages 10] [--rates 1000,0]
#include "bench/BenchOptions.h"
#include "bench/BenchPeer.h"
#include "bench/ScaleRun.h"

#include <QApplication>
#include <cstdio>
#include <cstring>

int main(int argc, char **argv)
{
    ScaleRun::Options options;
    std::vector<long long> rates{1000, 0};
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--peers"))
            options.peers = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--friends"))
            options.friends = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--messages"))
            options.messagesPerFriend = std::atoi(argv[i + 1]);
        else if (!std::strcmp(argv[i], "--rates"))
            rates = BenchOptions::numbers(argv[i + 1]);
    }
    useOffscreenPlatform();
    QApplication app(argc, argv);
    ScaleRun run(options);
    QString why;
    if (!run.start(&why)) {
        std::fprintf(stderr, "scale_bench: %s\n", why.toUtf8().constData());
        return 1;
    }
    std::printf(
        "### Scale\n\n%d complete peers in one process (127.0.0.%d to 127.0.0.%d), each in chat-room mode; "
        "each befriended %d others through its add-friend dialog and sends each of them %d messages. "
        "Latency: from the send to the end of the addressee's dispatch (entry appended).\n\n",
        options.peers, options.firstHost, options.firstHost + options.peers - 1, options.friends,
        options.messagesPerFriend);
    std::printf(
        "| senders' pace, datagrams/s in total | sent | lost | misdelivered | entries appended | "
        "median latency ms | p99 latency ms | max ms | errors |\n|---|---|---|---|---|---|---|---|---|\n");
    int failures = 0;
    for (const long long rate : rates) {
        const ScaleRun::Result r = run.sendMessages(double(rate));
        std::printf("| %s | %ld | %ld | %ld | %ld | %.2f | %.2f | %.2f | %d |\n",
                    rate > 0 ? std::to_string(rate).c_str() : "unpaced", r.sent, r.lost(), r.misdelivered,
                    r.appended, r.medianMs, r.p99Ms, r.maxMs, r.errors);
        std::fflush(stdout);
        if (rate > 0 && rate <= 1000 && r.lost() > 0)
            ++failures;
    }
    std::printf("\n");
    return failures == 0 ? 0 : 1;
}
