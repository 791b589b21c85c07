#pragma once

// Options and small helpers shared by the benchmark's roles (each role is a process of its own).
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <vector>

struct BenchOptions {
    // The file sizes of the transfer benchmark, smallest first.
    std::vector<long long> sizes{1LL << 20, 64LL << 20, 1LL << 30};
    long long size = 1LL << 30; // the size of the one transfer a role takes part in
    std::string dir = ".";
    std::string ip = "127.0.0.2";   // the receiver's address
    std::string from = "127.0.0.3"; // the sending peer's own address (file windows)
    int port = 2921;
    long count = 200000;   // datagrams of a flood
    long runs = 5;         // runs of the start-up benchmark
    long repeats = 5;      // runs of each copy of the transfer benchmark (the median counts)
    long files = 10000;    // small files of the file-set benchmarks' tree
    long idleSeconds = 60; // how long the start-up benchmark watches each program idle
    long rate = 0;         // datagrams per second of a paced sender, 0 for as fast as it can
    std::vector<long long> rates{5000, 10000, 20000, 40000, 80000};
    std::string role;
    std::string file;
    std::string view = "shown"; // the chat-room view of a dispatch peer: shown or minimised
    std::string saveLog = "off"; // "保存聊天记录" of a dispatch peer: on or off
    std::string platform;        // the platform a role's windows must be on, any when empty
    std::string a11y;            // on or off: the accessibility bridge a role's windows must have
    std::string mainWindow = "hidden"; // a file-window peer's main window: shown or hidden
    std::string only;            // the one part of a benchmark to run, all when empty
    std::string sealed = "off";  // file-window peers: on, they find each other and encrypt; off, presence off

    static BenchOptions parse(int argc, char **argv)
    {
        BenchOptions o;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string key = argv[i], value = argv[i + 1];
            if (key == "--size")
                o.size = std::atoll(value.c_str());
            else if (key == "--sizes")
                o.sizes = numbers(value);
            else if (key == "--dir")
                o.dir = value;
            else if (key == "--ip")
                o.ip = value;
            else if (key == "--from")
                o.from = value;
            else if (key == "--port")
                o.port = std::atoi(value.c_str());
            else if (key == "--count")
                o.count = std::atol(value.c_str());
            else if (key == "--runs")
                o.runs = std::atol(value.c_str());
            else if (key == "--repeats")
                o.repeats = std::max(1L, std::atol(value.c_str()));
            else if (key == "--idle-seconds")
                o.idleSeconds = std::atol(value.c_str());
            else if (key == "--view")
                o.view = value;
            else if (key == "--save-log")
                o.saveLog = value;
            else if (key == "--platform")
                o.platform = value;
            else if (key == "--a11y")
                o.a11y = value;
            else if (key == "--main-window")
                o.mainWindow = value;
            else if (key == "--only")
                o.only = value;
            else if (key == "--sealed")
                o.sealed = value;
            else if (key == "--rate")
                o.rate = std::atol(value.c_str());
            else if (key == "--rates")
                o.rates = numbers(value);
            else if (key == "--role")
                o.role = value;
            else if (key == "--file")
                o.file = value;
            else if (key == "--files")
                o.files = std::max(1L, std::atol(value.c_str()));
        }
        return o;
    }

    // "1,2,3" as numbers.
    static std::vector<long long> numbers(const std::string &list)
    {
        std::vector<long long> values;
        for (size_t start = 0; start <= list.size();) {
            const size_t end = std::min(list.find(',', start), list.size());
            if (end > start)
                values.push_back(std::atoll(list.substr(start, end - start).c_str()));
            start = end + 1;
        }
        return values;
    }
};

// The middle one of values (the upper middle of an even count), or whenEmpty when there are none.
inline double median(std::vector<double> values, double whenEmpty = 0)
{
    if (values.empty())
        return whenEmpty;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// Tells the parent that the receiver listens.
inline void ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}

// The user and system CPU seconds of a usage report.
inline double cpuSeconds(const rusage &usage)
{
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The user and system CPU seconds this process (all its threads) has used so far.
inline double cpuSecondsSoFar()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return cpuSeconds(usage);
}

// Tells the parent the CPU time this process used to get ready for a transfer (its start), on a
// line of its own, so that the parent can tell the transfer's CPU time from the start's.
inline void reportStartCpu()
{
    std::printf("%.6f\n", cpuSecondsSoFar());
    std::fflush(stdout);
}
