// Start-up of the real messenger (app/talvino) against a minimal Qt Widgets program that shows
// one window (startup_baseline), both on the offscreen platform, measured from outside:
//   shown:   from just before the process is spawned to the moment its main window's show
//            handler writes its file (the messenger rewrites myinfo.ini, erasing the previous
//            run's friend list; the baseline writes "shown"), seen through inotify;
//   settled: to the last moment its threads used CPU before staying idle for 200 ms (their
//            run times in /proc/PID/task/*/schedstat, polled every millisecond), which takes
//            in the first paint and whatever else start-up does after the show;
//   idle RSS: VmRSS of /proc/PID/status once settled.
// Each program runs from a temporary folder of its own (the messenger keeps myinfo.ini beside
// its executable; a stored nickname means no first-use box), one warm-up run and then --runs
// runs; the medians are printed. The messenger binds 0.0.0.0:2928: run this in a network
// namespace of its own (scripts/isolated.sh).
//
//   startup_bench [--runs 5] [--dir FOLDER]
#include "bench/BenchOptions.h"
#include "bench/ChildProcess.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <dirent.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <string>
#include <sys/inotify.h>
#include <thread>
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

struct Sample {
    double shownMs = 0;
    double settledMs = 0;
    double rssMiB = 0;
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
std::string prepareFolder(const BenchOptions &o, const Program &program)
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
        << "[MainSection]\r\nName=bench\r\n[UserSection]\r\nCount=1\r\n1=[1]old\r\n[IpSection]\r\n1=10.0.0.9\r\n";
    return pattern;
}

Sample runOnce(const BenchOptions &o, const Program &program)
{
    const std::string folder = prepareFolder(o, program);
    const int watch = inotify_init1(IN_CLOEXEC);
    if (watch < 0 || inotify_add_watch(watch, folder.c_str(), IN_MOVED_TO | IN_CLOSE_WRITE | IN_CREATE) < 0)
        fail("inotify");
    const std::string executable = folder + "/" + std::filesystem::path(program.path).filename().string();
    const Clock::time_point start = Clock::now();
    ChildProcess child({executable});
    if (!waitForShown(watch, program.shownFile)) {
        std::fprintf(stderr, "startup_bench: %s never showed its window\n", program.name.c_str());
        std::exit(1);
    }
    Sample sample;
    sample.shownMs = msSince(start, Clock::now());
    sample.settledMs = msSince(start, waitUntilSettled(child.pid()));
    sample.rssMiB = residentMiB(child.pid());
    child.terminate();
    close(watch);
    std::filesystem::remove_all(folder);
    return sample;
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

Sample medianOf(const BenchOptions &o, const Program &program)
{
    runOnce(o, program); // warm-up: libraries into the page cache
    std::vector<double> shown, settled, rss;
    for (long i = 0; i < o.runs; ++i) {
        const Sample s = runOnce(o, program);
        shown.push_back(s.shownMs);
        settled.push_back(s.settledMs);
        rss.push_back(s.rssMiB);
    }
    return {median(shown), median(settled), median(rss)};
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

    std::printf("### Start-up\n\nThe real program and a minimal Qt Widgets program that shows one window, "
                "each from a fresh folder on the offscreen platform; medians of %ld runs after a warm-up run.\n\n",
                o.runs);
    std::printf("| program | to window shown ms | to settled ms | idle RSS MiB |\n|---|---|---|---|\n");
    for (const auto &[name, s] : {std::pair{baseline.name, base}, std::pair{messenger.name, ours}})
        std::printf("| %s | %.1f | %.1f | %.1f |\n", name.c_str(), s.shownMs, s.settledMs, s.rssMiB);
    std::printf("| ratio | %.2f | %.2f | %.2f |\n\n", ours.shownMs / base.shownMs, ours.settledMs / base.settledMs,
                ours.rssMiB / base.rssMiB);
    return 0;
}
