// Start-up of the real messenger (app/talvino) against a minimal Qt Widgets program that shows
// one window (startup_baseline), both on the offscreen platform, measured from outside:
//   shown:   from just before the process is spawned to the moment its main window's show
//            handler writes its file (the messenger rewrites myinfo.ini, erasing the previous
//            run's friend list; the baseline writes "shown"), seen through inotify;
//   settled: to the last moment its threads used CPU before staying idle for 200 ms (their
//            run times in /proc/PID/task/*/schedstat, polled every millisecond), which takes
//            in the first paint and whatever else start-up does after the show;
//   idle RSS: VmRSS of /proc/PID/status once settled;
//   idle wake-ups: in one more run, the main thread's voluntary context switches (each one a
//            sleep that something woke: a timer, a socket, a posted event) over --idle-seconds
//            (60) once settled, from /proc/PID/task/PID/status, per second. The messenger is
//            watched twice: with presence off, and with presence on (its default), whose
//            keep-alive announces it once a minute by design;
//   resident by mapping: where the two programs' idle RSS differs, from /proc/PID/smaps of the
//            last run, summed per file (the heap and anonymous memory by their names).
// The targets are printed with the figures: shown at most 2.5 times the minimal window's time,
// idle RSS at most 1.5 times its RSS, no wake-up while idle.
// Each program runs from a temporary folder of its own (the messenger keeps myinfo.ini beside
// its executable; a stored nickname means no first-use box), one warm-up run and then --runs
// runs; the medians are printed. The messenger binds 0.0.0.0:2928: run this in a network
// namespace of its own (scripts/isolated.sh).
//
//   startup_bench [--runs 5] [--dir FOLDER] [--idle-seconds 60]
#include "bench/BenchOptions.h"
#include "bench/ChildProcess.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <thread>
#include <tuple>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int SettleMs = 200;

double msSince(Clock::time_point start, Clock::time_point at)
{
    return std::chrono::duration<double, std::milli>(at - start).count();
}

struct Program {
    std::string name;
    std::string path;
    std::string shownFile; // the file its show handler writes
};

// Resident KiB per mapped file (or [heap], [anon], [stack] ...).
using ResidentByMapping = std::map<std::string, long>;

struct Sample {
    double shownMs = 0;
    double settledMs = 0;
    double rssMiB = 0;
    ResidentByMapping byMapping;
};

// The summed CPU nanoseconds of all threads of pid.
long long cpuNanoseconds(pid_t pid)
{
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    long long total = 0;
    DIR *dir = opendir(tasks.c_str());
    if (!dir)
        return -1;
    while (const dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
        long long ns = 0;
        if (stat >> ns)
            total += ns;
    }
    closedir(dir);
    return total;
}

double residentMiB(pid_t pid)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("VmRSS:", 0) == 0)
            return double(std::atol(line.c_str() + 6)) / 1024;
    }
    return 0;
}

ResidentByMapping residentByMapping(pid_t pid)
{
    ResidentByMapping sums;
    std::ifstream smaps("/proc/" + std::to_string(pid) + "/smaps");
    std::string mapping = "[anon]";
    for (std::string line; std::getline(smaps, line);) {
        if (line.rfind("Rss:", 0) == 0) {
            sums[mapping] += std::atol(line.c_str() + 4);
        } else if (!line.empty() && std::isxdigit(static_cast<unsigned char>(line[0]))
                   && line.find('-') < 16) {
            // "start-end perms offset dev inode [path]"
            std::istringstream fields(line);
            std::string range, perms, offset, device, inode, path;
            fields >> range >> perms >> offset >> device >> inode >> path;
            mapping = path.empty() ? "[anon]" : path;
        }
    }
    return sums;
}

// Waits until the show handler's file appears in the watched folder; false after 30 s.
bool waitForShown(int watch, const std::string &file)
{
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    alignas(inotify_event) char buffer[4096];
    while (Clock::now() < deadline) {
        pollfd p{watch, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0)
            continue;
        const ssize_t n = read(watch, buffer, sizeof buffer);
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->len > 0 && file == event->name)
                return true;
            at += ssize_t(sizeof(inotify_event) + event->len);
        }
    }
    return false;
}

// The moment the process's CPU time last grew before it stayed the same for SettleMs.
Clock::time_point waitUntilSettled(pid_t pid)
{
    long long last = cpuNanoseconds(pid);
    Clock::time_point changed = Clock::now();
    while (msSince(changed, Clock::now()) < SettleMs) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const long long now = cpuNanoseconds(pid);
        if (now != last) {
            last = now;
            changed = Clock::now();
        }
    }
    return changed;
}

// A folder of its own with the program in it (a hard link, or a copy across file systems),
// a stored nickname and the previous run's friend list, and the chat-log folder.
std::string prepareFolder(const BenchOptions &o, const Program &program, bool presence)
{
    std::string pattern = o.dir + "/startup-XXXXXX";
    if (!mkdtemp(pattern.data()))
        fail("mkdtemp");
    namespace fs = std::filesystem;
    const fs::path target = fs::path(pattern) / fs::path(program.path).filename();
    std::error_code error;
    fs::create_hard_link(program.path, target, error);
    if (error)
        fs::copy_file(program.path, target);
    fs::create_directory(fs::path(pattern) / "chatdat");
    std::ofstream(fs::path(pattern) / "myinfo.ini", std::ios::binary)
        << "[MainSection]\r\nName=bench\r\n[UserSection]\r\nCount=1\r\n1=[1]old\r\n[IpSection]\r\n1=10.0.0."
           "9\r\n"
        << (presence ? "" : "[PresenceSection]\r\nEnabled=0\r\n");
    return pattern;
}

// The main thread's voluntary context switches so far.
long long voluntarySwitches(pid_t pid)
{
    const std::string id = std::to_string(pid);
    std::ifstream status("/proc/" + id + "/task/" + id + "/status");
    const std::string key = "voluntary_ctxt_switches:";
    for (std::string line; std::getline(status, line);) {
        if (line.rfind(key, 0) == 0)
            return std::atoll(line.c_str() + key.size());
    }
    return -1;
}

// Starts the program from a fresh folder (its path goes to folder) at start and waits until
// its window is shown.
std::unique_ptr<ChildProcess> startShown(const BenchOptions &o, const Program &program, std::string &folder,
                                         Clock::time_point &start, bool presence = true)
{
    folder = prepareFolder(o, program, presence);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0)
        fail("inotify");
    const std::string executable = folder + "/" + std::filesystem::path(program.path).filename().string();
    start = Clock::now();
    auto child = std::make_unique<ChildProcess>(std::vector<std::string>{executable});
    if (!waitForShown(watch, program.shownFile)) {
        std::fprintf(stderr, "startup_bench: %s never showed its window\n", program.name.c_str());
        std::exit(1);
    }
    close(watch);
    return child;
}

Sample runOnce(const BenchOptions &o, const Program &program)
{
    std::string folder;
    Clock::time_point start;
    const std::unique_ptr<ChildProcess> child = startShown(o, program, folder, start);
    Sample sample;
    sample.shownMs = msSince(start, Clock::now());
    sample.settledMs = msSince(start, waitUntilSettled(child->pid()));
    sample.rssMiB = residentMiB(child->pid());
    sample.byMapping = residentByMapping(child->pid());
    child->terminate();
    std::filesystem::remove_all(folder);
    return sample;
}

// Wake-ups per second of the settled program's main thread over o.idleSeconds.
double idleWakeUps(const BenchOptions &o, const Program &program, bool presence)
{
    std::string folder;
    Clock::time_point start;
    const std::unique_ptr<ChildProcess> child = startShown(o, program, folder, start, presence);
    waitUntilSettled(child->pid());
    const long long before = voluntarySwitches(child->pid());
    std::this_thread::sleep_for(std::chrono::seconds(o.idleSeconds));
    const long long after = voluntarySwitches(child->pid());
    child->terminate();
    std::filesystem::remove_all(folder);
    if (before < 0 || after < 0)
        fail("read the main thread's context switches");
    return double(after - before) / double(o.idleSeconds);
}

Sample medianOf(const BenchOptions &o, const Program &program)
{
    runOnce(o, program); // warm-up: libraries into the page cache
    std::vector<double> shown, settled, rss;
    ResidentByMapping lastByMapping;
    for (long i = 0; i < o.runs; ++i) {
        Sample s = runOnce(o, program);
        shown.push_back(s.shownMs);
        settled.push_back(s.settledMs);
        rss.push_back(s.rssMiB);
        lastByMapping = std::move(s.byMapping);
    }
    return {median(shown), median(settled), median(rss), std::move(lastByMapping)};
}

// The mappings where ours holds the most more than the baseline, largest first.
void printResidentDifference(const Sample &base, const Sample &ours, std::size_t rows)
{
    std::vector<std::pair<long, std::string>> differences;
    for (const auto &[mapping, kib] : ours.byMapping) {
        const auto it = base.byMapping.find(mapping);
        differences.emplace_back(kib - (it == base.byMapping.end() ? 0 : it->second), mapping);
    }
    std::sort(differences.begin(), differences.end(), std::greater<>());
    long total = 0, shownTotal = 0;
    for (const auto &[kib, mapping] : differences)
        total += kib;
    std::printf("Where the idle RSS differs (last run, /proc/PID/smaps, per mapped file; the programs "
                "run from different folders, so the executables count whole):\n\n"
                "| mapping | KiB more than the minimal window |\n|---|---|\n");
    for (std::size_t i = 0; i < std::min(rows, differences.size()); ++i) {
        const auto &[kib, mapping] = differences[i];
        std::printf("| %s | %ld |\n", std::filesystem::path(mapping).filename().c_str(), kib);
        shownTotal += kib;
    }
    std::printf("| everything else | %ld |\n| total | %ld |\n\n", total - shownTotal, total);
}

} // namespace

int main(int argc, char **argv)
{
    const BenchOptions o = BenchOptions::parse(argc, argv);
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    const std::string here = std::filesystem::canonical("/proc/self/exe").parent_path().string();
    const Program baseline{"minimal Qt window", here + "/startup_baseline", "shown"};
    const Program messenger{"talvino", here + "/../app/talvino", "myinfo.ini"};
    const Sample base = medianOf(o, baseline);
    const Sample ours = medianOf(o, messenger);
    const double baseWakeUps = idleWakeUps(o, baseline, false);
    const double ourWakeUps = idleWakeUps(o, messenger, false);
    const double ourPresenceWakeUps = idleWakeUps(o, messenger, true);

    std::printf(
        "### Start-up\n\nThe real program and a minimal Qt Widgets program that shows one window, "
        "each from a fresh folder on the offscreen platform; medians of %ld runs after a warm-up run. "
        "Idle wake-ups: the main thread's voluntary context switches over %ld s once settled, in one "
        "more run with presence off; presence on (the default) announces this peer once a minute by "
        "design.\n\n",
        o.runs, o.idleSeconds);
    std::printf("| program | to window shown ms | to settled ms | idle RSS MiB | idle wake-ups per s |\n"
                "|---|---|---|---|---|\n");
    for (const auto &[name, s, wakeUps] :
         {std::tuple{baseline.name, base, baseWakeUps}, std::tuple{messenger.name, ours, ourWakeUps}})
        std::printf("| %s | %.1f | %.1f | %.1f | %.2f |\n", name.c_str(), s.shownMs, s.settledMs, s.rssMiB,
                    wakeUps);
    const double shownRatio = ours.shownMs / base.shownMs;
    const double rssRatio = ours.rssMiB / base.rssMiB;
    std::printf("| talvino, presence on | | | | %.2f |\n", ourPresenceWakeUps);
    std::printf("| ratio | %.2f | %.2f | %.2f | |\n\n", shownRatio, ours.settledMs / base.settledMs,
                rssRatio);
    printResidentDifference(base, ours, 16);
    const auto verdict = [](bool met) { return met ? "met" : "**missed**"; };
    std::printf("Targets:\n\n| target | this run | |\n|---|---|---|\n");
    std::printf("| to window shown <= 2.5 x minimal window | %.2f | %s |\n", shownRatio,
                verdict(shownRatio <= 2.5));
    std::printf("| idle RSS <= 1.5 x minimal window | %.2f | %s |\n", rssRatio, verdict(rssRatio <= 1.5));
    std::printf("| no wake-up while idle (presence off) | %.2f per s (%.0f in %ld s) | %s |\n\n", ourWakeUps,
                ourWakeUps * double(o.idleSeconds), o.idleSeconds, verdict(ourWakeUps == 0));
    return 0;
}
