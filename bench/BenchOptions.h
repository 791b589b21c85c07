#pragma once

// Options and small helpers shared by the benchmark's roles (each role is a process of its own).
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

struct BenchOptions {
    long long size = 1LL << 30;
    std::string dir = ".";
    std::string ip = "127.0.0.2";   // the receiver's address
    std::string from = "127.0.0.3"; // the sending peer's own address (file windows)
    int port = 2921;
    std::string role;
    std::string file;

    static BenchOptions parse(int argc, char **argv)
    {
        BenchOptions o;
        for (int i = 1; i + 1 < argc; i += 2) {
            const std::string key = argv[i], value = argv[i + 1];
            if (key == "--size") o.size = std::atoll(value.c_str());
            else if (key == "--dir") o.dir = value;
            else if (key == "--ip") o.ip = value;
            else if (key == "--from") o.from = value;
            else if (key == "--port") o.port = std::atoi(value.c_str());
            else if (key == "--role") o.role = value;
            else if (key == "--file") o.file = value;
        }
        return o;
    }
};

[[noreturn]] inline void fail(const char *what)
{
    std::fprintf(stderr, "stream_bench: %s: %s\n", what, std::strerror(errno));
    std::exit(1);
}

// Tells the parent that the receiver listens.
inline void ready()
{
    std::printf("ready\n");
    std::fflush(stdout);
}
