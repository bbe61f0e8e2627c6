#include "net/TerminalSafe.h"

#include <cstdio>

namespace qm {

namespace {

// The code point of the UTF-8 sequence at `i` and its length; length 0 when the byte there does
// not start a valid sequence (overlong forms and surrogates are not valid).
char32_t DecodeAt(std::string_view s, size_t i, size_t& length) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    length = 0;
    if (b0 < 0x80) {
        length = 1;
        return b0;
    }
    size_t n = 0;
    char32_t cp = 0, least = 0;
    if ((b0 & 0xE0) == 0xC0) {
        n = 2, cp = b0 & 0x1F, least = 0x80;
    } else if ((b0 & 0xF0) == 0xE0) {
        n = 3, cp = b0 & 0x0F, least = 0x800;
    } else if ((b0 & 0xF8) == 0xF0) {
        n = 4, cp = b0 & 0x07, least = 0x10000;
    } else {
        return 0;
    }
    if (i + n > s.size()) return 0;
    for (size_t k = 1; k < n; ++k) {
        const auto b = static_cast<unsigned char>(s[i + k]);
        if ((b & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (b & 0x3F);
    }
    if (cp < least || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    length = n;
    return cp;
}

// Characters above ASCII that a terminal acts on or that reorder what is shown.
bool IsHiddenControl(char32_t c) {
    return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F || c == 0x2028 ||
           c == 0x2029 || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

void AppendEscape(std::string& out, const char* format, unsigned value) {
    char buf[12];
    std::snprintf(buf, sizeof buf, format, value);
    out += buf;
}

}  // namespace

std::string EscapeForTerminal(std::string_view utf8, std::string_view keep) {
    std::string out;
    out.reserve(utf8.size());
    for (size_t i = 0; i < utf8.size();) {
        size_t length = 0;
        const char32_t c = DecodeAt(utf8, i, length);
        if (length == 0) {
            AppendEscape(out, "\\x%02x", static_cast<unsigned char>(utf8[i]));
            ++i;
            continue;
        }
        if (c < 0x20 || c == 0x7F) {
            if (keep.find(static_cast<char>(c)) != std::string_view::npos)
                out += static_cast<char>(c);
            else if (c == '\n')
                out += "\\n";
            else if (c == '\t')
                out += "\\t";
            else if (c == '\r')
                out += "\\r";
            else
                AppendEscape(out, "\\x%02x", static_cast<unsigned>(c));
        } else if (IsHiddenControl(c)) {
            AppendEscape(out, c < 0x100 ? "\\x%02x" : "\\u%04x", static_cast<unsigned>(c));
        } else {
            out.append(utf8.substr(i, length));
        }
        i += length;
    }
    return out;
}

std::string EscapeForTerminal(TextView text) {
    return EscapeForTerminal(ToUtf8(text));
}

std::string JsonForTerminal(std::string_view json) {
    std::string out;
    out.reserve(json.size());
    for (size_t i = 0; i < json.size();) {
        size_t length = 0;
        const char32_t c = DecodeAt(json, i, length);
        if (length == 0) {
            out += "\\ufffd";
            ++i;
            continue;
        }
        if (IsHiddenControl(c))
            AppendEscape(out, "\\u%04x", static_cast<unsigned>(c));
        else
            out.append(json.substr(i, length));
        i += length;
    }
    return out;
}

}  // namespace qm
