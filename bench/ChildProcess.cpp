#include "bench/ChildProcess.h"

#include "bench/BenchOptions.h"

#include <csignal>
#include <cstdio>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

std::set<ChildProcess *> ChildProcess::running_;

ChildProcess::ChildProcess(const std::vector<std::string> &args)
{
    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        fail("pipe");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    std::vector<std::string> copies = args;
    std::vector<char *> argv;
    for (std::string &a : copies)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
        fail("spawn");
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    out_ = fdopen(pipeFds[0], "r");
    running_.insert(this);
}

ChildProcess::~ChildProcess()
{
    if (!ended_)
        terminate();
}

std::string ChildProcess::line()
{
    char text[256] = {};
    return std::fgets(text, sizeof text, out_) ? std::string(text) : std::string();
}

bool ChildProcess::finish()
{
    running_.erase(this);
    int status = 0;
    if (wait4(pid_, &status, 0, &usage_) != pid_)
        fail("wait");
    ended_ = true;
    fclose(out_);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void ChildProcess::terminate()
{
    kill(pid_, SIGTERM);
    finish();
}

void ChildProcess::terminateAll()
{
    while (!running_.empty())
        (*running_.begin())->terminate();
}

double ChildProcess::cpuSeconds() const { return ::cpuSeconds(usage_); }
