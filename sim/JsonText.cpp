#include "sim/JsonText.h"

#include <cstdint>
#include <cstdio>

namespace qm::sim {
namespace {

void AppendEscapedUnit(std::string& out, uint32_t unit) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "\\u%04x", static_cast<unsigned>(unit));
    out += buf;
}

// Decodes one UTF-8 sequence at text[i]; returns the code point and advances i. Invalid bytes come
// back as U+FFFD so that a bad scenario text can never produce broken JSON.
uint32_t NextCodePoint(const std::string& text, size_t& i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    const size_t extra = c >= 0xF8 ? 0 : c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    if (c < 0x80) {
        ++i;
        return c;
    }
    if (extra == 0 || i + extra >= text.size()) {
        ++i;
        return 0xFFFD;
    }
    uint32_t cp = c & (0x3F >> extra);
    for (size_t k = 1; k <= extra; ++k) {
        const unsigned char cc = static_cast<unsigned char>(text[i + k]);
        if ((cc & 0xC0) != 0x80) {
            ++i;
            return 0xFFFD;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += extra + 1;
    return cp;
}

}  // namespace

std::string JsonQuote(const std::string& text, bool asciiOnly) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (size_t i = 0; i < text.size();) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        // A run of characters printed as they are goes over in one piece.
        size_t plain = i;
        while (plain < text.size()) {
            const unsigned char p = static_cast<unsigned char>(text[plain]);
            if (p < 0x20 || p >= 0x80 || p == '"' || p == '\\' || p == '/') break;
            ++plain;
        }
        if (plain > i) {
            out.append(text, i, plain - i);
            i = plain;
            continue;
        }
        if (c < 0x80) {
            ++i;
            switch (c) {
                case '"':
                    out += "\\\"";
                    break;
                case '\\':
                    out += "\\\\";
                    break;
                case '/':
                    out += "\\/";
                    break;
                case '\n':
                    out += "\\n";
                    break;
                case '\r':
                    out += "\\r";
                    break;
                case '\t':
                    out += "\\t";
                    break;
                case '\b':
                    out += "\\b";
                    break;
                case '\f':
                    out += "\\f";
                    break;
                default:
                    if (c < 0x20) {
                        AppendEscapedUnit(out, c);
                    } else {
                        out += static_cast<char>(c);
                    }
            }
            continue;
        }
        size_t start = i;
        uint32_t cp = NextCodePoint(text, i);
        if (!asciiOnly) {
            if (cp == 0xFFFD && i - start == 1) {
                out += "\xEF\xBF\xBD";
            } else {
                out.append(text, start, i - start);
            }
        } else if (cp >= 0x10000) {
            cp -= 0x10000;
            AppendEscapedUnit(out, 0xD800 + (cp >> 10));
            AppendEscapedUnit(out, 0xDC00 + (cp & 0x3FF));
        } else {
            AppendEscapedUnit(out, cp);
        }
    }
    out += '"';
    return out;
}

namespace {

void Write(const OJson& v, JsonStyle style, int depth, std::string& out) {
    const std::string indent = style.pretty ? std::string(3 * (depth + 1), ' ') : std::string();
    const std::string closeIndent = style.pretty ? std::string(3 * depth, ' ') : std::string();
    const char* nl = style.pretty ? "\n" : "";
    switch (v.type()) {
        case OJson::value_t::object: {
            if (v.empty()) {
                out += "{}";
                return;
            }
            out += '{';
            out += nl;
            bool first = true;
            for (auto it = v.begin(); it != v.end(); ++it) {
                if (!first) {
                    out += ',';
                    out += nl;
                }
                first = false;
                out += indent;
                out += JsonQuote(it.key(), style.asciiOnly);
                out += style.pretty ? " : " : ":";
                Write(it.value(), style, depth + 1, out);
            }
            out += nl;
            out += closeIndent;
            out += '}';
            return;
        }
        case OJson::value_t::array: {
            if (v.empty()) {
                out += "[]";
                return;
            }
            out += '[';
            out += nl;
            bool first = true;
            for (const auto& item : v) {
                if (!first) {
                    out += ',';
                    out += nl;
                }
                first = false;
                out += indent;
                Write(item, style, depth + 1, out);
            }
            out += nl;
            out += closeIndent;
            out += ']';
            return;
        }
        case OJson::value_t::string:
            out += JsonQuote(v.get_ref<const std::string&>(), style.asciiOnly);
            return;
        default:
            out += v.dump();
            return;
    }
}

}  // namespace

std::string WriteJson(const OJson& value, JsonStyle style) {
    std::string out;
    Write(value, style, 0, out);
    return out;
}

}  // namespace qm::sim
