#pragma once

#include <map>
#include <mutex>
#include <string>
#include <sys/types.h>
#include <thread>

// Samples the CPU time of every thread of the processes it watches from /proc/PID/task/*/stat
// (user and system time, and the thread's name) every interval while they run, keeping each
// thread's last value, so that threads which end before their process still count (less what
// they used after their last sample).
class ThreadCpu {
public:
    explicit ThreadCpu(int intervalMs = 50);
    ~ThreadCpu();
    ThreadCpu(const ThreadCpu &) = delete;
    ThreadCpu &operator=(const ThreadCpu &) = delete;

    // Starts watching process pid (its threads are sampled from now on).
    void watch(pid_t pid);
    // Samples every watched process once more now: call it just before reaping one.
    void sample();
    // Stops sampling.
    void stop();

    // CPU seconds per thread name of process pid, the threads of one name added up.
    std::map<std::string, double> secondsByName(pid_t pid) const;

    // The name and the user plus system clock ticks in the text of a /proc/.../stat file; false
    // when it is not one. The name stands in parentheses and may hold spaces and parentheses.
    static bool parseStat(const std::string &text, std::string &name, unsigned long long &ticks);

private:
    struct Thread {
        std::string name;
        unsigned long long ticks = 0;
    };
    void sampleLocked();
    void loop(int intervalMs);

    mutable std::mutex mutex_;
    std::map<pid_t, std::map<pid_t, Thread>> processes_; // by process, then thread id
    bool stopping_ = false;
    std::thread thread_;
};
