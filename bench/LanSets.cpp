#include "bench/LanSets.h"

#include "bench/ChildProcess.h"
#include "bench/HostSession.h"
#include "bench/SetFiles.h"
#include "bench/TarCopy.h"
#include "bench/TransferFiles.h"
#include "fileset/SetWalk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QThread>

#include <cmath>
#include <cstdio>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Windows = HostSession::Windows;

constexpr double TargetSmallFiles = 1.5; // the set's time at most this many times tar's
constexpr double TargetLargeFile = 0.9;  // the set's throughput at least this share of the encrypted single file's
constexpr int ListenWaitMs = 10000;      // for tar's receiving socat to listen

// One way of copying: tar over TCP, or the roles ROLE-recv and ROLE-send of window_bench.
struct Kind {
    const char *name;
    std::string role; // empty for tar
    Windows windows;
};

// What a copy of one shape is: the chosen path (a folder or a file) under the source folder,
// and where each kind's copy of it lands under the destination folder.
struct Shape {
    const char *name;
    QString source;   // what is offered or archived
    QString received; // the copy of source under a destination folder, by the name it keeps
};

struct Copy {
    double seconds = 0;
    double senderCpu = 0;
    double receiverCpu = 0;
    long events = -1; // received by the screen reader stand-ins of both hosts, -1 without them
};

std::string text(const QString &s) { return s.toStdString(); }

// The data folder as an absolute path: a set is offered by absolute paths.
QString absoluteDir(const BenchOptions &o) { return QDir(QString::fromStdString(o.dir)).absolutePath(); }

// tar -c of source through socat to socat and tar -x into folder on the other host.
Copy tarCopy(const BenchOptions &o, const LanHosts &hosts, const QString &source, const QString &folder)
{
    HostSession receiving(hosts.receiverNs, Windows::None), sending(hosts.senderNs, Windows::None);
    const QFileInfo chosen(source);
    const std::optional<TarCopy> tar = ::tarCopy(
        hosts.receiverIp, o.port + 1, text(chosen.absolutePath()), text(chosen.fileName()), text(folder),
        [&](const std::vector<std::string> &c) { return receiving.command(c); },
        [&](const std::vector<std::string> &c) { return sending.command(c); }, ListenWaitMs);
    if (!tar)
        fail("the tar copy failed");
    Copy c;
    c.seconds = tar->seconds;
    c.senderCpu = tar->senderCpu;
    c.receiverCpu = tar->receiverCpu;
    return c;
}

// The two peers' windows of one kind: the receiver saves into folder.
Copy windowCopy(const Kind &kind, const BenchOptions &o, const LanHosts &hosts, const QString &source,
                const QString &folder)
{
    const auto args = [&](const char *side) {
        return std::vector<std::string>{hosts.programs + "window_bench", "--role", kind.role + side, "--dir",
                                        text(folder), "--ip", hosts.receiverIp, "--from", hosts.senderIp,
                                        "--port", std::to_string(o.port), "--file", text(source),
                                        "--main-window", "shown", "--sealed", "on"};
    };
    HostSession receiving(hosts.receiverNs, kind.windows), sending(hosts.senderNs, kind.windows);
    ChildProcess receiver(receiving.command(args("-recv")));
    if (receiver.line() != "ready\n")
        fail("the receiving peer did not start");
    receiver.line(); // its start's CPU seconds
    ChildProcess sender(sending.command(args("-send")));
    sender.line();   // its start's CPU seconds
    const std::string elapsed = sender.line();
    const bool sent = sender.finish();
    const bool received = receiver.finish();
    Copy c;
    const long senderEvents = sending.finishScreenReader(), receiverEvents = receiving.finishScreenReader();
    if (senderEvents >= 0 && receiverEvents >= 0)
        c.events = senderEvents + receiverEvents;
    if (!sent || !received || elapsed.empty()) {
        std::fprintf(stderr, "lan_bench: the %s copy failed\n", kind.name);
        std::exit(1);
    }
    c.seconds = std::atof(elapsed.c_str());
    c.senderCpu = sender.cpuSeconds();
    c.receiverCpu = receiver.cpuSeconds();
    return c;
}

double medianOf(const std::vector<Copy> &copies, double Copy::*field)
{
    std::vector<double> values;
    for (const Copy &c : copies)
        values.push_back(c.*field);
    return median(values);
}

// Each repeat's time of ours over tar's, and their median.
std::vector<double> timeRatios(const std::vector<Copy> &ours, const std::vector<Copy> &tar)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < ours.size(); ++i)
        ratios.push_back(ours[i].seconds / tar[i].seconds);
    return ratios;
}

std::string listOf(const std::vector<double> &values)
{
    std::string list;
    char one[32];
    for (const double v : values) {
        std::snprintf(one, sizeof one, list.empty() ? "%.2f" : ", %.2f", v);
        list += one;
    }
    return list;
}

const char *verdict(bool met) { return met ? "met" : "**missed**"; }

// Copies one shape every kind's way, the kinds taking turns in each repeat; each copy is checked
// against the source and removed before the next. The runs by kind.
std::vector<std::vector<Copy>> copyShape(const BenchOptions &o, const LanHosts &hosts, const Shape &shape,
                                         const std::vector<Kind> &kinds, const LocalSet &local)
{
    const QString base = absoluteDir(o) + QStringLiteral("/sets-received");
    std::vector<std::vector<Copy>> runs(kinds.size());
    for (long repeat = 0; repeat < o.repeats; ++repeat)
        for (size_t k = 0; k < kinds.size(); ++k) {
            const QString folder = base + QStringLiteral("/run");
            QDir(base).removeRecursively();
            if (!QDir().mkpath(folder))
                fail("make a copy's folder");
            ::sync();
            const Kind &kind = kinds[k];
            runs[k].push_back(kind.role.empty() ? tarCopy(o, hosts, shape.source, folder)
                                                : windowCopy(kind, o, hosts, shape.source, folder));
            // The single-file windows save under the name the receiving role gives.
            const QString received = folder + u'/'
                + (kind.role == "windows" ? QStringLiteral("received-windows.bin") : shape.received);
            const bool right = QFileInfo(shape.source).isDir()
                ? SetFiles::differences(local, folder) == 0
                : SetFiles::sameBytes(shape.source, received);
            if (!right) {
                std::fprintf(stderr, "lan_bench: the %s copy of %s differs from its source\n", kind.name, shape.name);
                std::exit(1);
            }
        }
    QDir(base).removeRecursively();
    return runs;
}

void printShape(const Shape &shape, const std::vector<Kind> &kinds, const std::vector<std::vector<Copy>> &runs,
                double mib, long files)
{
    std::printf("#### %s\n\n| copy | s | MiB/s | files/s | sender CPU s | receiver CPU s | time against tar | "
                "screen reader events |\n|---|---|---|---|---|---|---|---|\n",
                shape.name);
    for (size_t k = 0; k < kinds.size(); ++k) {
        const double seconds = medianOf(runs[k], &Copy::seconds);
        std::vector<double> eventCounts;
        for (const Copy &c : runs[k])
            eventCounts.push_back(double(c.events));
        const double events = median(eventCounts);
        char eventsText[32] = "";
        if (events >= 0)
            std::snprintf(eventsText, sizeof eventsText, "%.0f", events);
        std::printf("| %s | %.3f | %.1f | %s | %.3f | %.3f | %.2f | %s |\n", kinds[k].name, seconds, mib / seconds,
                    files > 1 ? std::to_string(std::lround(double(files) / seconds)).c_str() : "",
                    medianOf(runs[k], &Copy::senderCpu),
                    medianOf(runs[k], &Copy::receiverCpu), median(timeRatios(runs[k], runs[0])), eventsText);
    }
    std::printf("\nTime against tar in each repeat:");
    for (size_t k = 1; k < kinds.size(); ++k)
        std::printf("%s %s: %s", k == 1 ? "" : ";", kinds[k].name, listOf(timeRatios(runs[k], runs[0])).c_str());
    std::printf(".\n\n");
    std::fflush(stdout);
}

} // namespace

void runLanSets(const BenchOptions &o, const LanHosts &hosts)
{
    const QString sourceFolder = absoluteDir(o) + QStringLiteral("/sets-source");
    QDir(sourceFolder).removeRecursively();
    const QString tree = SetFiles::makeTree(sourceFolder, int(o.files));
    const QString large = sourceFolder + QStringLiteral("/large.bin");
    const long long size = o.sizes.empty() ? 1LL << 30 : o.sizes.back();
    makeSource(text(large), size);
    const LocalSet local = SetFiles::walk({tree});

    std::printf("### File sets between two hosts\n\nFrom %s to %s over the veth pair, tmpfs to tmpfs. *tar*: "
                "`tar -c | socat` on the sending host to `socat | tar -x` on the receiving one over plain TCP, "
                "from the sender's start to the end of tar -x. *set windows*: two complete peers that found "
                "each other's keys through presence, main windows shown on Xvfb with openbox (xcb), without and "
                "with the accessibility bus; the sender's set window offers the chosen path as one set, the "
                "receiver's role presses \"接收\" as soon as its window is there (it looks every 5 ms), and the "
                "time runs from the press of \"发送\" to the receiver's acknowledgement, inside TLS 1.3. "
                "*file windows, encrypted*: the single-file windows of the same peers, from the connection "
                "to the end message. CPU: whole processes. %ld repeats, the kinds taking turns; medians, and "
                "ratios the median of each repeat's ratio.\n\n",
                hosts.senderIp.c_str(), hosts.receiverIp.c_str(), o.repeats);
    const std::vector<Kind> smallKinds{
        {"tar over TCP", "", Windows::None},
        {"set windows", "sets", Windows::Plain},
        {"set windows, accessibility bus", "sets", Windows::Accessible},
    };
    const Shape small{"Many small files", tree, QStringLiteral("tree")};
    const auto smallRuns = copyShape(o, hosts, small, smallKinds, local);
    std::printf("%ld files of %lld bytes in %lld folders (see the loopback benchmark for the tree's shape).\n\n",
                o.files, SetFiles::SmallFileBytes, local.manifest.entries.size() - o.files);
    printShape(small, smallKinds, smallRuns, double(o.files) * double(SetFiles::SmallFileBytes) / (1 << 20), o.files);

    std::vector<Kind> largeKinds = smallKinds;
    largeKinds.push_back({"file windows, encrypted", "windows", Windows::Plain});
    const Shape one{"One large file", large, QStringLiteral("large.bin")};
    const auto largeRuns = copyShape(o, hosts, one, largeKinds, local);
    std::printf("One file of %s.\n\n", sizeText(size).c_str());
    printShape(one, largeKinds, largeRuns, double(size) / (1 << 20), 1);
    QDir(sourceFolder).removeRecursively();

    std::printf("Targets of the set windows over the link:\n\n| target | set windows | set windows, accessibility "
                "bus |\n|---|---|---|\n");
    const auto smallRatio = [&](size_t k) { return median(timeRatios(smallRuns[k], smallRuns[0])); };
    const auto largeShare = [&](size_t k) { return median(timeRatios(largeRuns[3], largeRuns[k])); };
    std::printf("| %ld small files: time <= %.1f x tar | %.2f x: %s | %.2f x: %s |\n", o.files, TargetSmallFiles,
                smallRatio(1), verdict(smallRatio(1) <= TargetSmallFiles), smallRatio(2),
                verdict(smallRatio(2) <= TargetSmallFiles));
    std::printf("| %s as a set: throughput >= %.1f x the encrypted single-file windows | %.2f x: %s | %.2f x: %s "
                "|\n\n",
                sizeText(size).c_str(), TargetLargeFile, largeShare(1), verdict(largeShare(1) >= TargetLargeFile),
                largeShare(2), verdict(largeShare(2) >= TargetLargeFile));
}
