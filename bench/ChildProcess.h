#pragma once

#include <set>
#include <string>
#include <sys/resource.h>
#include <sys/types.h>
#include <vector>

// A program run as a child process of a benchmark, with its standard output on a pipe, so the
// parent can read the lines it prints; its CPU time and peak resident memory are those the
// kernel reports for it alone when it ends (wait4).
class ChildProcess {
public:
    // Starts args[0] (looked up in PATH unless it holds a slash) with the arguments args[1...]
    // and this process's environment.
    explicit ChildProcess(const std::vector<std::string> &args);
    ~ChildProcess();
    ChildProcess(const ChildProcess &) = delete;
    ChildProcess &operator=(const ChildProcess &) = delete;

    // The next line it prints (with its line end), or empty at the end of its output.
    std::string line();
    // Waits for its end; true when it exited with status 0.
    bool finish();
    // Asks it to end (SIGTERM) and waits for that.
    void terminate();

    // Asks every child that has not ended yet to end, and waits for that: for an exit that
    // skips the destructors (std::exit after a failed run), through std::atexit.
    static void terminateAll();

    pid_t pid() const { return pid_; }
    // User and system CPU seconds and peak resident memory in KiB, once it has ended.
    double cpuSeconds() const;
    long peakKiB() const { return usage_.ru_maxrss; }

private:
    pid_t pid_ = -1;
    FILE *out_ = nullptr;
    bool ended_ = false;
    rusage usage_{};
    static std::set<ChildProcess *> running_;
};
