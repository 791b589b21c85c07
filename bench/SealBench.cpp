// How many 200-byte datagrams one thread seals, opens, and seals and opens in turn per second
// of its CPU time (sealed envelopes between two peers whose session keys are already derived),
// so that other processes on the machine do not lower the figures. Each figure comes from about
// --seconds (2) of the thread's CPU time; envelopes for the opening run are sealed beforehand in
// batches whose sealing is not timed.
//
//   seal_bench [--seconds 2]
#include "secure/Envelope.h"
#include "secure/IdentityKey.h"
#include "secure/SealedChannel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

namespace {

constexpr int InnerSize = 200;
constexpr int Batch = 20000;

struct Pair {
    IdentityKey a = IdentityKey::generate();
    IdentityKey b = IdentityKey::generate();
    SealedChannel fromA{a, {}, {}};
    SealedChannel atB{b, {}, {}};
    QByteArray aId = a.keyId();
    QByteArray aKey = a.publicKey();
    QByteArray bKey = b.publicKey();
    std::function<QByteArray(const QByteArray &)> lookup = [this](const QByteArray &id) {
        return id == aId ? aKey : QByteArray();
    };
};

// Nanoseconds of CPU time the calling thread has used.
qint64 threadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// Time spent by this thread since start().
class CpuClock {
public:
    void start() { start_ = threadCpuNs(); }
    qint64 nsecsElapsed() const { return threadCpuNs() - start_; }

private:
    qint64 start_ = 0;
};

[[noreturn]] void fail(const char *what)
{
    std::fprintf(stderr, "seal_bench: %s\n", what);
    std::exit(1);
}

double sealRate(Pair &p, const QByteArray &inner, double seconds)
{
    CpuClock clock;
    clock.start();
    long done = 0;
    while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        for (int i = 0; i < 1000; ++i)
            if (p.fromA.seal(p.bKey, InnerKind::BaseDatagram, inner).size() != Envelope::Overhead + InnerSize)
                fail("sealing failed");
        done += 1000;
    }
    return double(done) / (double(clock.nsecsElapsed()) / 1e9);
}

double openRate(Pair &p, const QByteArray &inner, double seconds)
{
    std::vector<QByteArray> sealed(Batch);
    qint64 spentNs = 0;
    long done = 0;
    while (spentNs < qint64(seconds * 1e9)) {
        for (QByteArray &envelope : sealed)
            envelope = p.fromA.seal(p.bKey, InnerKind::BaseDatagram, inner);
        CpuClock clock;
        clock.start();
        for (const QByteArray &envelope : sealed)
            if (!p.atB.open(envelope, p.lookup))
                fail("opening failed");
        spentNs += clock.nsecsElapsed();
        done += Batch;
    }
    return double(done) / (double(spentNs) / 1e9);
}

double roundTripRate(Pair &p, const QByteArray &inner, double seconds)
{
    CpuClock clock;
    clock.start();
    long done = 0;
    while (clock.nsecsElapsed() < qint64(seconds * 1e9)) {
        for (int i = 0; i < 1000; ++i)
            if (!p.atB.open(p.fromA.seal(p.bKey, InnerKind::BaseDatagram, inner), p.lookup))
                fail("sealing and opening failed");
        done += 1000;
    }
    return double(done) / (double(clock.nsecsElapsed()) / 1e9);
}

} // namespace

int main(int argc, char **argv)
{
    double seconds = 2;
    for (int i = 1; i + 1 < argc; i += 2)
        if (std::strcmp(argv[i], "--seconds") == 0)
            seconds = std::atof(argv[i + 1]);
    Pair p;
    const QByteArray inner(InnerSize, 'm');
    // The session keys are derived by the first envelope, before any timing.
    if (!p.atB.open(p.fromA.seal(p.bKey, InnerKind::BaseDatagram, inner), p.lookup))
        fail("the first envelope did not open");

    const double seal = sealRate(p, inner, seconds);
    const double open = openRate(p, inner, seconds);
    const double both = roundTripRate(p, inner, seconds);
    std::printf("### Sealed envelopes\n\nOne thread, %d-byte inner datagrams (%d-byte envelopes), about %.1f CPU s "
                "each, rates per CPU second; target: seal+open well over 200000 per second.\n\n",
                InnerSize, Envelope::Overhead + InnerSize, seconds);
    std::printf("| operation | per second |\n|---|---|\n");
    std::printf("| seal per second | %.0f |\n", seal);
    std::printf("| open per second | %.0f |\n", open);
    std::printf("| seal+open per second | %.0f |\n\n", both);
    std::printf("seal+open target (200000 per second): %s\n", both > 200000 ? "met" : "missed");
    return 0;
}
