#include "bench/ThreadCpu.h"

#include <chrono>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

ThreadCpu::ThreadCpu(int intervalMs) : thread_([this, intervalMs] { loop(intervalMs); }) {}

ThreadCpu::~ThreadCpu() { stop(); }

void ThreadCpu::watch(pid_t pid)
{
    const std::lock_guard lock(mutex_);
    processes_[pid];
    sampleLocked();
}

void ThreadCpu::sample()
{
    const std::lock_guard lock(mutex_);
    sampleLocked();
}

void ThreadCpu::stop()
{
    {
        const std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    if (thread_.joinable())
        thread_.join();
}

std::map<std::string, double> ThreadCpu::secondsByName(pid_t pid) const
{
    const std::lock_guard lock(mutex_);
    const double ticksPerSecond = double(sysconf(_SC_CLK_TCK));
    std::map<std::string, double> seconds;
    const auto process = processes_.find(pid);
    if (process != processes_.end())
        for (const auto &[tid, thread] : process->second)
            seconds[thread.name] += double(thread.ticks) / ticksPerSecond;
    return seconds;
}

bool ThreadCpu::parseStat(const std::string &text, std::string &name, unsigned long long &ticks)
{
    const size_t open = text.find('(');
    const size_t close = text.rfind(')');
    if (open == std::string::npos || close == std::string::npos || close < open)
        return false;
    // After the name: state (field 3), ..., utime (field 14), stime (field 15).
    std::istringstream fields(text.substr(close + 1));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; index <= 13; ++index)
        if (!(fields >> field))
            return false;
    if (!(fields >> utime >> stime))
        return false;
    name = text.substr(open + 1, close - open - 1);
    ticks = utime + stime;
    return true;
}

void ThreadCpu::sampleLocked()
{
    for (auto &[pid, threads] : processes_) {
        const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
        DIR *dir = opendir(tasks.c_str());
        if (!dir)
            continue; // ended and reaped: its threads keep their last values
        while (const dirent *entry = readdir(dir)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream file(tasks + '/' + entry->d_name + "/stat");
            std::stringstream text;
            text << file.rdbuf();
            Thread thread;
            if (parseStat(text.str(), thread.name, thread.ticks))
                threads[pid_t(std::stol(entry->d_name))] = thread;
        }
        closedir(dir);
    }
}

void ThreadCpu::loop(int intervalMs)
{
    for (;;) {
        {
            const std::lock_guard lock(mutex_);
            if (stopping_)
                return;
            sampleLocked();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(intervalMs));
    }
}
