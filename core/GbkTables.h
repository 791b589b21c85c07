#pragma once

#include <cstddef>
#include <cstdint>

// The GBK conversion tables. The program's own are made at build time (core/gbkgen) from the
// converter Qt uses for "GBK", so the bytes and characters are exactly that converter's; the
// generator fills a set of its own the same way before it writes them out.
namespace Gbk {

struct GbkTables {
    // Decoding. A lead byte opens a pair when the next byte is a second byte in its range.
    static constexpr unsigned char FirstLead = 0x81;
    static constexpr unsigned char LastLead = 0xFE;
    static constexpr unsigned char FirstTrail = 0x40;
    static constexpr unsigned char LastTrail = 0xFE;
    static constexpr int LeadCount = LastLead - FirstLead + 1;
    static constexpr int TrailCount = LastTrail - FirstTrail + 1;
    // In singleBytes: the byte opens a pair. In pairs: the second byte does not belong to the
    // lead byte, which alone becomes U+FFFD; the second byte is then read on its own.
    static constexpr char16_t NotACharacter = 0xFFFF;

    // Encoding: a value up to 0xFF is one byte, NoBytes is nothing (a character left out),
    // anything else two bytes, the first in the high half.
    static constexpr std::uint16_t NoBytes = 0xFFFF;
    static constexpr int BlockSize = 256;
    static constexpr int BmpBlocks = 0x10000 / BlockSize;

    // Supplementary code points from `first` up to the next range's first encode as `bytes`.
    struct Range {
        char32_t first;
        std::uint16_t bytes;
    };

    const char16_t *singleBytes; // [256]: the character of a byte read on its own
    const char16_t *pairs; // [LeadCount * TrailCount]: the character of lead and second byte
    const std::uint8_t *bmpBlock; // [BmpBlocks]: which block holds a BMP code point's bytes
    const std::uint16_t *blocks; // [blocks * BlockSize]: the bytes of each code point
    const Range *supplementary; // from U+10000 on, in order
    std::size_t supplementaryCount;
};

// The tables built into the program.
const GbkTables &builtInGbkTables();

} // namespace Gbk
