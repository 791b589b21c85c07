#pragma once

// The data files of the transfer benchmarks: a source of pseudo-random bytes, the check that a
// copy arrived whole, and a size as people read it.
#include "bench/BenchOptions.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

// Writes size pseudo-random bytes (the same for every run) to path.
inline void makeSource(const std::string &path, long long size)
{
    constexpr long long Block = 65536;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f)
        fail("create source");
    std::vector<unsigned char> block(Block);
    unsigned state = 12345;
    for (long long written = 0; written < size; written += Block) {
        for (unsigned char &c : block)
            c = (state = state * 1103515245u + 12345u) >> 24;
        std::fwrite(block.data(), 1, size_t(std::min(Block, size - written)), f);
    }
    std::fclose(f);
}

// Whether the two files hold the same bytes.
inline bool sameContent(const std::string &a, const std::string &b)
{
    constexpr size_t Block = 65536;
    FILE *fa = std::fopen(a.c_str(), "rb");
    FILE *fb = std::fopen(b.c_str(), "rb");
    bool same = fa && fb;
    std::vector<char> ba(Block), bb(Block);
    while (same) {
        const size_t na = std::fread(ba.data(), 1, Block, fa);
        const size_t nb = std::fread(bb.data(), 1, Block, fb);
        same = na == nb && std::memcmp(ba.data(), bb.data(), na) == 0;
        if (na == 0)
            break;
    }
    if (fa)
        std::fclose(fa);
    if (fb)
        std::fclose(fb);
    return same;
}

// "1 GiB", "64 MiB" or "1000 B".
inline std::string sizeText(long long size)
{
    char text[32];
    if (size >= (1LL << 30) && size % (1LL << 30) == 0)
        std::snprintf(text, sizeof text, "%lld GiB", size >> 30);
    else if (size >= (1LL << 20) && size % (1LL << 20) == 0)
        std::snprintf(text, sizeof text, "%lld MiB", size >> 20);
    else
        std::snprintf(text, sizeof text, "%lld B", size);
    return text;
}
