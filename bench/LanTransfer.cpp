#include "bench/LanTransfer.h"

#include "bench/ChildProcess.h"
#include "bench/HostSession.h"
#include "bench/ThreadCpu.h"
#include "bench/TransferFiles.h"

#include <cstdio>
#include <map>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

using Windows = HostSession::Windows;

// The targets of the file windows, with and without the accessibility bus.
constexpr double TargetVsZeroCopy = 0.9;  // throughput, at least this share of the zero-copy copy's
constexpr double TargetVsPlain = 1.0;     // throughput, at least this share of the plain copy's
constexpr double TargetCpu = 0.8;         // CPU of both processes, at most this share of the plain copy's
constexpr double TargetPeakGrowthMiB = 4; // receiver's peak at the largest size over its peak at the smallest
constexpr double TargetEncryptedVsPlain = 0.6; // encrypted file windows: throughput, this share of the plain copy's

// One way of copying the file: its roles are ROLE-recv and ROLE-send of program.
struct Kind {
    const char *name;
    std::string program;
    std::string role;
    Windows windows;
    bool sealed = false; // the peers find each other and the file goes inside TLS
};

using Threads = std::map<std::string, double>; // CPU seconds by thread name

struct Transfer {
    double elapsed = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
    double startCpu = 0; // what both used until they were ready for the transfer
    double receiverPeakMiB = 0;
    Threads senderThreads;
    Threads receiverThreads;
    long events = -1; // received by the screen reader stand-ins of both hosts, -1 without them

    double cpu() const { return senderCpu + receiverCpu; }
};

double lineNumber(ChildProcess &child) { return std::atof(child.line().c_str()); }

Transfer transfer(const Kind &kind, const BenchOptions &o, const LanHosts &hosts)
{
    const auto args = [&](const char *side) {
        std::vector<std::string> args{kind.program, "--role", kind.role + side, "--dir", o.dir,
                                      "--ip", hosts.receiverIp, "--from", hosts.senderIp, "--port",
                                      std::to_string(o.port), "--file", o.dir + "/source.bin"};
        if (kind.windows != Windows::None)
            args.insert(args.end(), {"--main-window", "shown", "--sealed", kind.sealed ? "on" : "off"});
        return args;
    };
    HostSession receiving(hosts.receiverNs, kind.windows), sending(hosts.senderNs, kind.windows);
    ThreadCpu threads;
    ChildProcess receiver(receiving.command(args("-recv")));
    threads.watch(receiver.pid());
    if (receiver.line() != "ready\n")
        fail("receiver did not start");
    Transfer t;
    t.startCpu = lineNumber(receiver);
    ChildProcess sender(sending.command(args("-send")));
    threads.watch(sender.pid());
    t.startCpu += lineNumber(sender);
    const std::string elapsed = sender.line();
    threads.sample();
    const bool sent = sender.finish();
    threads.sample();
    const bool received = receiver.finish();
    threads.stop();
    const long senderEvents = sending.finishScreenReader(), receiverEvents = receiving.finishScreenReader();
    if (senderEvents >= 0 && receiverEvents >= 0)
        t.events = senderEvents + receiverEvents;
    const std::string copy = o.dir + "/received-" + kind.role + ".bin";
    if (!sent || !received || elapsed.empty() || !sameContent(o.dir + "/source.bin", copy)) {
        std::fprintf(stderr, "lan_bench: the %s transfer failed\n", kind.name);
        std::exit(1);
    }
    std::remove(copy.c_str());
    t.elapsed = std::atof(elapsed.c_str());
    t.senderCpu = sender.cpuSeconds();
    t.receiverCpu = receiver.cpuSeconds();
    t.receiverPeakMiB = double(receiver.peakKiB()) / 1024;
    t.senderThreads = threads.secondsByName(sender.pid());
    t.receiverThreads = threads.secondsByName(receiver.pid());
    return t;
}

template <typename Figure>
double medianOf(const std::vector<Transfer> &runs, Figure figure)
{
    std::vector<double> values;
    for (const Transfer &t : runs)
        values.push_back(figure(t));
    return median(values);
}

// The median over the repeats of the ratio of each repeat's figure of ours to theirs.
template <typename Figure>
double pairedRatio(const std::vector<Transfer> &ours, const std::vector<Transfer> &theirs, Figure figure)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size(); ++i)
        ratios.push_back(figure(ours[i]) / figure(theirs[i]));
    return median(ratios);
}

double speed(const Transfer &t) { return 1 / t.elapsed; }
double cpu(const Transfer &t) { return t.cpu(); }
double peak(const Transfer &t) { return t.receiverPeakMiB; }

// The runs of every kind at one size, in the order of kinds().
using Runs = std::vector<std::vector<Transfer>>;

void printRows(long long size, const std::vector<Kind> &kinds, const Runs &runs)
{
    const std::vector<Transfer> &plain = runs[0], &zero = runs[1];
    for (size_t k = 0; k < kinds.size(); ++k) {
        const std::vector<Transfer> &r = runs[k];
        const double events = medianOf(r, [](const Transfer &t) { return double(t.events); });
        char eventsText[32] = "";
        if (events >= 0)
            std::snprintf(eventsText, sizeof eventsText, "%.0f", events);
        std::printf("| %s | %s | %.0f | %.2f | %.2f | %.3f | %.3f | %.3f | %.2f | %.1f | %s |\n", sizeText(size).c_str(),
                    kinds[k].name, double(size) / medianOf(r, [](const Transfer &t) { return t.elapsed; }) / (1 << 20),
                    pairedRatio(r, zero, speed), pairedRatio(r, plain, speed),
                    medianOf(r, [](const Transfer &t) { return t.senderCpu; }),
                    medianOf(r, [](const Transfer &t) { return t.receiverCpu; }),
                    medianOf(r, [](const Transfer &t) { return t.startCpu; }), pairedRatio(r, plain, cpu),
                    medianOf(r, peak), eventsText);
    }
    std::fflush(stdout);
}

// Each thread name's CPU seconds, the median over the repeats (a repeat without that thread
// counts 0), of the sender's or the receiver's process.
Threads medianThreads(const std::vector<Transfer> &runs, Threads Transfer::*side)
{
    std::set<std::string> names;
    for (const Transfer &t : runs)
        for (const auto &[name, seconds] : t.*side)
            names.insert(name);
    Threads medians;
    for (const std::string &name : names)
        medians[name] = medianOf(runs, [&](const Transfer &t) {
            const auto found = (t.*side).find(name);
            return found == (t.*side).end() ? 0.0 : found->second;
        });
    return medians;
}

void printThreads(long long size, const std::vector<Kind> &kinds, const Runs &runs)
{
    std::printf("CPU seconds per thread at %s (threads of one name added up; medians over the repeats; sampled "
                "from /proc every 50 ms, so a thread's last 50 ms may be missing), and the whole processes' "
                "as the kernel reported them at their end:\n\n",
                sizeText(size).c_str());
    for (size_t k = 0; k < kinds.size(); ++k) {
        std::printf("%s:\n\n| thread | sender CPU s | receiver CPU s |\n|---|---|---|\n", kinds[k].name);
        const Threads sender = medianThreads(runs[k], &Transfer::senderThreads);
        const Threads receiver = medianThreads(runs[k], &Transfer::receiverThreads);
        std::set<std::string> names;
        for (const auto &[name, seconds] : sender)
            names.insert(name);
        for (const auto &[name, seconds] : receiver)
            names.insert(name);
        for (const std::string &name : names) {
            const auto cell = [&name](const Threads &threads) {
                const auto found = threads.find(name);
                char text[32] = "";
                if (found != threads.end())
                    std::snprintf(text, sizeof text, "%.3f", found->second);
                return std::string(text);
            };
            std::printf("| %s | %s | %s |\n", name.c_str(), cell(sender).c_str(), cell(receiver).c_str());
        }
        std::printf("| whole process | %.3f | %.3f |\n\n",
                    medianOf(runs[k], [](const Transfer &t) { return t.senderCpu; }),
                    medianOf(runs[k], [](const Transfer &t) { return t.receiverCpu; }));
    }
}

const char *verdict(bool met) { return met ? "met" : "**missed**"; }

// The file windows' targets at the largest size, judged on medians of paired ratios; the
// receiver's memory is flat when its peak at the largest size is at most TargetPeakGrowthMiB
// over its peak at the smallest.
void printTargets(const BenchOptions &o, const std::vector<Kind> &kinds, const Runs &smallest, const Runs &largest)
{
    std::printf("Targets of the file windows at %s over the link, medians of the %ld repeats' paired ratios "
                "(CPU: both processes whole, as the kernel reports them); receiver memory flat: its median peak "
                "at %s at most %.0f MiB over its median peak at %s:\n\n",
                sizeText(o.sizes.back()).c_str(), o.repeats, sizeText(o.sizes.back()).c_str(), TargetPeakGrowthMiB,
                sizeText(o.sizes.front()).c_str());
    std::printf("| target | %s | %s |\n|---|---|---|\n", kinds[2].name, kinds[3].name);
    const auto line = [&](const char *target, auto judge) {
        std::printf("| %s | %s | %s |\n", target, judge(2).c_str(), judge(3).c_str());
    };
    const auto cell = [](double figure, const char *unit, bool met) {
        char text[64];
        std::snprintf(text, sizeof text, "%.2f%s: %s", figure, unit, verdict(met));
        return std::string(text);
    };
    line("throughput >= 0.9 x zero-copy", [&](size_t k) {
        const double r = pairedRatio(largest[k], largest[1], speed);
        return cell(r, " x", r >= TargetVsZeroCopy);
    });
    line("throughput >= 1.0 x plain TCP", [&](size_t k) {
        const double r = pairedRatio(largest[k], largest[0], speed);
        return cell(r, " x", r >= TargetVsPlain);
    });
    line("CPU of both processes <= 0.8 x plain TCP", [&](size_t k) {
        const double r = pairedRatio(largest[k], largest[0], cpu);
        return cell(r, " x", r <= TargetCpu);
    });
    line("(not a target) CPU of both processes less their start, x plain TCP's", [&](size_t k) {
        const auto transferCpu = [](const Transfer &t) { return t.cpu() - t.startCpu; };
        char text[32];
        std::snprintf(text, sizeof text, "%.2f x", pairedRatio(largest[k], largest[0], transferCpu));
        return std::string(text);
    });
    line("receiver memory flat", [&](size_t k) {
        if (o.sizes.size() < 2)
            return std::string("not judged: one size");
        const double growth = medianOf(largest[k], peak) - medianOf(smallest[k], peak);
        return cell(growth, " MiB more", growth <= TargetPeakGrowthMiB);
    });
    std::printf("\n");
}

// The encrypted file windows' targets: throughput against the plain copy, memory flat.
void printEncryptedTargets(const BenchOptions &o, const std::vector<Kind> &kinds, const Runs &smallest,
                           const Runs &largest)
{
    const size_t k = kinds.size() - 1;
    std::printf("Targets of the %s (TLS 1.3 between two peers that found each other's keys through presence; "
                "the offer pins them) at %s:\n\n| target | %s |\n|---|---|\n",
                kinds[k].name, sizeText(o.sizes.back()).c_str(), kinds[k].name);
    const double r = pairedRatio(largest[k], largest[0], speed);
    std::printf("| throughput >= %.1f x plain TCP | %.2f x: %s |\n", TargetEncryptedVsPlain, r,
                verdict(r >= TargetEncryptedVsPlain));
    if (o.sizes.size() < 2) {
        std::printf("| receiver memory flat | not judged: one size |\n\n");
        return;
    }
    const double growth = medianOf(largest[k], peak) - medianOf(smallest[k], peak);
    std::printf("| receiver memory flat | %.2f MiB more: %s |\n\n", growth, verdict(growth <= TargetPeakGrowthMiB));
}

} // namespace

void runLanTransfer(const BenchOptions &o, const LanHosts &hosts)
{
    const std::vector<Kind> kinds{
        {"plain TCP", hosts.programs + "stream_bench", "plain", Windows::None},
        {"zero-copy", hosts.programs + "lan_bench", "zero", Windows::None},
        {"file windows", hosts.programs + "window_bench", "windows", Windows::Plain},
        {"file windows, accessibility bus", hosts.programs + "window_bench", "windows", Windows::Accessible},
        {"file windows, encrypted", hosts.programs + "window_bench", "windows", Windows::Plain, true},
    };
    std::printf("### File transfer between two hosts\n\nFrom %s to %s over a veth pair, tmpfs to tmpfs, each side "
                "a process of its own in its host's namespace; the file windows' peers, their main windows shown, "
                "on Xvfb with openbox (xcb), without and with the accessibility bus (each such role checks that "
                "its platform is xcb and that its accessibility bridge is active or inactive as asked, and a "
                "role that is not ends the benchmark; with the bus, a screen reader stand-in on each host receives "
                "every event the bridges send, counted in the last column). The kinds take turns in each of %ld repeats; "
                "figures are medians over the repeats, ratios medians of each repeat's paired ratio "
                "(throughput: ours / theirs; CPU: ours / plain TCP's, both processes whole).\n\n",
                hosts.senderIp.c_str(), hosts.receiverIp.c_str(), o.repeats);
    std::printf("| size | copy | MiB/s | throughput vs zero-copy | throughput vs plain | sender CPU s | "
                "receiver CPU s | start CPU s | CPU vs plain | receiver peak MiB | screen reader events |\n"
                "|---|---|---|---|---|---|---|---|---|---|---|\n");
    Runs smallest, largest;
    for (const long long size : o.sizes) {
        makeSource(o.dir + "/source.bin", size);
        Runs runs(kinds.size());
        for (long repeat = 0; repeat < o.repeats; ++repeat)
            for (size_t k = 0; k < kinds.size(); ++k) {
                ::sync();
                runs[k].push_back(transfer(kinds[k], o, hosts));
            }
        std::remove((o.dir + "/source.bin").c_str());
        printRows(size, kinds, runs);
        if (smallest.empty())
            smallest = runs;
        largest = runs;
    }
    std::printf("\n");
    if (o.sizes.empty())
        return;
    printThreads(o.sizes.back(), kinds, largest);
    printTargets(o, kinds, smallest, largest);
    printEncryptedTargets(o, kinds, smallest, largest);
}
