// The cipher of the program's stored strings: UTF-8 bytes mixed with a position-dependent key
// stream and written as upper-case hex. It keeps prompts and addresses out of a plain `strings`
// listing; it is not meant to be secure.
#include <cstdint>
#include <string>

#include "net/StringCtrl.h"

namespace qm {

namespace {
constexpr char kKey[] = "qm-2016";
constexpr std::size_t kKeyLen = sizeof(kKey) - 1;

unsigned char KeyByte(std::size_t i) {
    return static_cast<unsigned char>((static_cast<unsigned>(kKey[i % kKeyLen]) + i * 7u) & 0xFFu);
}

int HexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}
}  // namespace

std::string EncipherText(TextView plain) {
    static const char kHex[] = "0123456789ABCDEF";
    const std::string bytes = ToUtf8(plain);
    std::string out;
    out.reserve(bytes.size() * 2);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]) ^ KeyByte(i);
        out += kHex[c >> 4];
        out += kHex[c & 0xF];
    }
    return out;
}

Text DecipherText(std::string_view hex) {
    std::string bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        const int hi = HexValue(hex[i]), lo = HexValue(hex[i + 1]);
        if (hi < 0 || lo < 0) break;  // a damaged value deciphers up to the damage
        bytes += static_cast<char>(static_cast<unsigned char>((hi << 4) | lo) ^ KeyByte(i / 2));
    }
    return FromUtf8(bytes);
}

}  // namespace qm
