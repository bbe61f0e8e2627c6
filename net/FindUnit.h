// Finding one UTF-16 unit in a long text four units at a time: the photo list's pages are read as
// UTF-16 and searched for quotes and markers many times over, and the standard search compares
// one unit at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "net/StringCtrl.h"

namespace qm {

// The first position at or after `from` where `text` holds `unit`, or TextView::npos.
inline std::size_t FindUnit(TextView text, char16_t unit, std::size_t from = 0) {
    constexpr uint64_t kLow = 0x0001000100010001ULL, kHigh = 0x8000800080008000ULL;
    const uint64_t pattern = kLow * unit;
    const char16_t* units = text.data();
    const std::size_t n = text.size();
    std::size_t i = from;
    // A block of four goes by whole unless one of its units equals `unit` (a zero after the xor).
    for (uint64_t word; i < n && n - i >= 4; i += 4) {
        std::memcpy(&word, units + i, sizeof word);
        const uint64_t x = word ^ pattern;
        if (((x - kLow) & ~x & kHigh) != 0) break;
    }
    for (; i < n; ++i)
        if (units[i] == unit) return i;
    return TextView::npos;
}

}  // namespace qm
