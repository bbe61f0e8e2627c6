// Splitting one fuzz input into the pieces a target needs: a selector byte, then parts separated
// by the byte 0x01, each part read either as UTF-8 or as raw UTF-16 units (so that lone surrogates
// and every code unit are reachable). Shared by the harnesses and the replay tests.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "net/StringCtrl.h"

namespace qm::fuzz {

// Every promise checked is counted, so that a replay test can see its inputs reached them.
inline std::atomic<unsigned long>& ChecksRun() {
    static std::atomic<unsigned long> n{0};
    return n;
}
// Where a broken promise goes. Unset (the fuzzers): printed, then abort, so that the fuzzer keeps
// the input. The replay tests set it to report a test failure and go on.
using BrokenPromise = void (*)(const char* where, int line, const char* promise);
inline BrokenPromise& BrokenPromiseHandler() {
    static BrokenPromise handler = nullptr;
    return handler;
}

}  // namespace qm::fuzz

#define QM_FUZZ_CHECK(cond)                                                                   \
    do {                                                                                      \
        ++qm::fuzz::ChecksRun();                                                              \
        if (!(cond)) {                                                                        \
            if (qm::fuzz::BrokenPromiseHandler()) {                                           \
                qm::fuzz::BrokenPromiseHandler()(__FILE__, __LINE__, #cond);                  \
            } else {                                                                          \
                std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
                std::abort();                                                                 \
            }                                                                                 \
        }                                                                                     \
    } while (0)

namespace qm::fuzz {

struct Input {
    uint8_t selector = 0;
    std::vector<std::string> parts;  // byte strings between the separators

    Input(const uint8_t* data, std::size_t size) {
        if (size == 0) return;
        selector = data[0];
        std::string cur;
        for (std::size_t i = 1; i < size; ++i) {
            if (data[i] == 0x01) {
                parts.push_back(cur);
                cur.clear();
            } else {
                cur.push_back(static_cast<char>(data[i]));
            }
        }
        parts.push_back(cur);
    }

    const std::string& Bytes(std::size_t i) const {
        static const std::string kEmpty;
        return i < parts.size() ? parts[i] : kEmpty;
    }

    // Part i as text: UTF-8 when bit 7 of the selector is clear, else raw little-endian units.
    Text TextPart(std::size_t i) const {
        const std::string& b = Bytes(i);
        if ((selector & 0x80) == 0) return FromUtf8(b);
        Text t;
        for (std::size_t k = 0; k + 1 < b.size(); k += 2)
            t.push_back(static_cast<char16_t>(static_cast<uint8_t>(b[k]) | (static_cast<uint8_t>(b[k + 1]) << 8)));
        return t;
    }
};

}  // namespace qm::fuzz
