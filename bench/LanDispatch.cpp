#include "bench/LanDispatch.h"

#include "bench/ChildProcess.h"
#include "bench/HostSession.h"

#include <cstdio>
#include <vector>

namespace {

using Windows = HostSession::Windows;

constexpr long PacedRate = 20000;
constexpr double TargetIntake = 0.15; // of the plain loop's, with the view shown
constexpr double TargetSealedIntake = 0.1; // of the plain loop's, sealed datagrams, with the view shown

// One way of receiving: the plain loop, or the peer without or with the accessibility bus.
struct Receiver {
    const char *name;
    Windows windows;
    bool sealed = false; // the sender seals every message (after presence told each the other's key)
};
const Receiver Plain{"plain recvfrom", Windows::None};
const Receiver Peer{"chat-room peer", Windows::Plain};
const Receiver AccessiblePeer{"chat-room peer, accessibility bus", Windows::Accessible};
const Receiver SealedPeer{"chat-room peer, sealed datagrams", Windows::Plain, true};

struct Run {
    long sent = 0;
    long received = 0;
    long entries = 0;
    double receiveSeconds = 0;
    long events = -1; // received by the screen reader stand-in, -1 without one

    long lost() const { return sent - received; }
    double intake() const { return receiveSeconds > 0 ? double(received - 1) / receiveSeconds : 0; }
};

Run run(const Receiver &receiverKind, const LanHosts &hosts, long count, long rate)
{
    const std::string program = hosts.programs + "dispatch_bench";
    std::vector<std::string> role{program, "--ip", hosts.receiverIp, "--from", hosts.senderIp};
    if (receiverKind.windows == Windows::None)
        role.insert(role.end(), {"--role", "plain"});
    else
        role.insert(role.end(), {"--role", "peer", "--view", "shown", "--save-log", "on"});
    HostSession receiving(hosts.receiverNs, receiverKind.windows);
    const HostSession sending(hosts.senderNs, Windows::None);
    ChildProcess receiver(receiving.command(role));
    if (receiver.line() != "ready\n")
        fail("receiver did not start");
    ChildProcess sender(sending.command({program, "--ip", hosts.receiverIp, "--from", hosts.senderIp, "--role",
                                         "send", "--count", std::to_string(count), "--rate", std::to_string(rate),
                                         "--sealed", receiverKind.sealed ? "on" : "off"}));
    sender.line();
    if (!sender.finish())
        fail("sender failed");
    Run r;
    r.sent = count;
    const std::string summary = receiver.line();
    if (!receiver.finish()
        || std::sscanf(summary.c_str(), "%ld %ld %lf", &r.received, &r.entries, &r.receiveSeconds) != 3) {
        std::fprintf(stderr, "lan_bench: the %s receiver failed\n", receiverKind.name);
        std::exit(1);
    }
    r.events = receiving.finishScreenReader();
    return r;
}

const char *verdict(bool met) { return met ? "met" : "**missed**"; }

} // namespace

void runLanDispatch(const BenchOptions &o, const LanHosts &hosts)
{
    std::printf("### Dispatch between two hosts\n\nMessage datagrams from %s to %s:2928 over the veth pair. The "
                "chat-room peer has its chat-room view shown and \"保存聊天记录\" ticked, its windows on Xvfb "
                "with openbox (xcb), without and with the accessibility bus; \"plain recvfrom\" is a poll and "
                "recvfrom loop on the same host. With the bus, a screen reader stand-in receives every event the "
                "peer's bridge sends.\n\n",
                hosts.senderIp.c_str(), hosts.receiverIp.c_str());
    const std::vector<Receiver> floodKinds{Plain, Peer, AccessiblePeer, SealedPeer};
    std::vector<std::vector<Run>> floods(floodKinds.size());
    for (long repeat = 0; repeat < o.repeats; ++repeat)
        for (size_t k = 0; k < floodKinds.size(); ++k)
            floods[k].push_back(run(floodKinds[k], hosts, o.count, 0));
    std::printf("Flood: %ld datagrams sent as fast as the sender can, %ld repeats, the receivers taking turns; "
                "medians over the repeats, the intake ratio the median of each repeat's ratio to the plain "
                "loop's.\n\n| receiver | taken in per s | lost | entries appended | intake ratio | screen reader "
                "events |\n|---|---|---|---|---|---|\n",
                o.count, o.repeats);
    std::vector<double> ratios(floodKinds.size());
    for (size_t k = 0; k < floodKinds.size(); ++k) {
        std::vector<double> intakes, lost, entries, paired, events;
        for (size_t i = 0; i < floods[k].size(); ++i) {
            intakes.push_back(floods[k][i].intake());
            lost.push_back(double(floods[k][i].lost()));
            entries.push_back(double(floods[k][i].entries));
            paired.push_back(floods[k][i].intake() / floods[0][i].intake());
            events.push_back(double(floods[k][i].events));
        }
        ratios[k] = median(paired);
        const std::string eventsText = median(events) >= 0 ? std::to_string(long(median(events))) : "";
        std::printf("| %s | %.0f | %.0f | %.0f | %.3f | %s |\n", floodKinds[k].name, median(intakes), median(lost),
                    k == 0 ? 0.0 : median(entries), ratios[k], eventsText.c_str());
    }
    std::fflush(stdout);

    const std::vector<Receiver> pacedKinds{Peer, AccessiblePeer};
    std::vector<std::vector<Run>> paced(pacedKinds.size());
    for (long i = 0; i < o.runs; ++i)
        for (size_t k = 0; k < pacedKinds.size(); ++k)
            paced[k].push_back(run(pacedKinds[k], hosts, PacedRate, PacedRate));
    std::printf("\nPaced: %ld datagrams spread evenly over one second, %ld runs, the receivers taking turns; "
                "datagrams lost in each run:\n\n| run | %s | %s |\n|---|---|---|\n",
                PacedRate, o.runs, pacedKinds[0].name, pacedKinds[1].name);
    std::vector<long> clean(pacedKinds.size());
    for (long i = 0; i < o.runs; ++i) {
        std::printf("| %ld | %ld | %ld |\n", i + 1, paced[0][size_t(i)].lost(), paced[1][size_t(i)].lost());
        for (size_t k = 0; k < pacedKinds.size(); ++k)
            clean[k] += paced[k][size_t(i)].lost() == 0;
    }
    std::printf("\nTargets of the chat-room peer over the link:\n\n| target | %s | %s |\n|---|---|---|\n",
                pacedKinds[0].name, pacedKinds[1].name);
    std::printf("| flood intake, view shown, >= %.2f x plain recvfrom | %.3f x: %s | %.3f x: %s |\n", TargetIntake,
                ratios[1], verdict(ratios[1] >= TargetIntake), ratios[2], verdict(ratios[2] >= TargetIntake));
    std::printf("| %ld paced over 1 s: none lost in every run | %ld of %ld runs: %s | %ld of %ld runs: %s |\n\n",
                PacedRate, clean[0], o.runs, verdict(clean[0] == o.runs), clean[1], o.runs,
                verdict(clean[1] == o.runs));
    std::printf("| target | %s |\n|---|---|\n| flood intake of sealed datagrams, view shown, >= %.2f x plain "
                "recvfrom | %.3f x: %s |\n\n",
                SealedPeer.name, TargetSealedIntake, ratios[3], verdict(ratios[3] >= TargetSealedIntake));
    std::fflush(stdout);
}
