// UTF-16LE byte forms of text, for the history and title list files.
#pragma once

#include <string>
#include <string_view>

#include "net/StringCtrl.h"

namespace qm {

inline std::string ToUtf16Le(TextView text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

// A trailing odd byte is dropped.
inline Text FromUtf16Le(std::string_view bytes) {
    Text out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                                            (static_cast<unsigned char>(bytes[i + 1]) << 8)));
    return out;
}

}  // namespace qm
