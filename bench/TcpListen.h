#pragma once

#include <arpa/inet.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

// Whether something listens on ip:port in the network namespace whose TCP table is given: this
// process's (/proc/net/tcp) or another process's (/proc/PID/net/tcp).
inline bool listensOn(const std::string &ip, int port, const std::string &table = "/proc/net/tcp")
{
    in_addr address{};
    inet_pton(AF_INET, ip.c_str(), &address);
    // The table shows the address as the hexadecimal of its bytes read as one host integer.
    char local[32];
    std::snprintf(local, sizeof local, "%08X:%04X", address.s_addr, unsigned(port));
    std::ifstream lines(table);
    std::string line;
    while (std::getline(lines, line)) {
        char shown[64] = {}, state[8] = {};
        if (std::sscanf(line.c_str(), " %*d: %63s %*s %7s", shown, state) == 2 && std::strcmp(local, shown) == 0
            && std::strcmp(state, "0A") == 0) // TCP_LISTEN
            return true;
    }
    return false;
}
