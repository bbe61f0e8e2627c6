// Text utilities: UTF-8 edges, marker-based cutting, entity and escape decoding, small helpers.
// The code-page conversions live in CodePage.cpp, the stored-string cipher in Cipher.cpp.
#include "net/StringCtrl.h"

#include <charconv>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <mutex>

#include "net/FindUnit.h"
#include "net/Trace.h"

namespace qm {

// --- UTF-8 <-> UTF-16 ---------------------------------------------------------------------------

std::string ToUtf8(TextView text) {
    std::string out;
    out.reserve(text.size() + text.size() / 2);
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
            text[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;  // a lone surrogate has no UTF-8 form
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

Text FromUtf8(std::string_view utf8) {
    Text out;
    out.reserve(utf8.size());
    const auto* p = reinterpret_cast<const unsigned char*>(utf8.data());
    const size_t n = utf8.size();
    size_t i = 0;
    while (i < n) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            out.push_back(b);
            ++i;
            continue;
        }
        int len = 0;
        char32_t c = 0;
        char32_t min = 0;
        if (b >= 0xC2 && b <= 0xDF) {
            len = 2, c = b & 0x1F, min = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            len = 3, c = b & 0x0F, min = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            len = 4, c = b & 0x07, min = 0x10000;
        }
        bool ok = len > 0 && i + len <= n;
        for (int k = 1; ok && k < len; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) {
                ok = false;
            } else {
                c = (c << 6) | (p[i + k] & 0x3F);
            }
        }
        if (ok && (c < min || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF))) ok = false;
        if (!ok) {
            out.push_back(0xFFFD);  // one replacement per invalid lead byte; resync on the next
            ++i;
            continue;
        }
        if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (c >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(c));
        }
        i += len;
    }
    return out;
}

bool IsUtf8Text(std::string_view bytes) {
    if (bytes.empty()) return false;
    int expect = 0;
    bool highSeen = false;
    const std::size_t n = bytes.size();
    for (std::size_t i = 0; i < n;) {
        // Between characters, eight ASCII bytes at a time (most of a JSON page).
        if (expect == 0 && n - i >= 8) {
            uint64_t word;
            std::memcpy(&word, bytes.data() + i, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                i += 8;
                continue;
            }
        }
        const unsigned char b = static_cast<unsigned char>(bytes[i++]);
        if (b >= 0x80) highSeen = true;
        if (expect > 0) {
            if (b < 0x80 || b > 0xBF) return false;
            --expect;
            continue;
        }
        if (b < 0x80) continue;
        if (b <= 0xBF) return false;
        if (b <= 0xDF) {
            expect = 1;
        } else if (b <= 0xEF) {
            expect = 2;
        } else if (b <= 0xF7) {
            expect = 3;
        } else if (b <= 0xFB) {
            expect = 4;
        } else if (b <= 0xFD) {
            expect = 5;
        } else {
            expect = 4;  // 0xFE and 0xFF are taken as lead bytes of four more
        }
    }
    return expect == 0 && highSeen;
}

// --- searching and cutting ----------------------------------------------------------------------

int CountOccurrences(TextView text, TextView sep) {
    if (sep.empty()) return 0;
    int count = 0;
    size_t pos = 0;
    while ((pos = text.find(sep, pos)) != TextView::npos) {
        ++count;
        pos += sep.size();
    }
    return count;
}

int SplitByMarker(TextView text, TextView sep, std::vector<Text>& out) {
    out.clear();
    if (sep.empty()) return 0;
    size_t pos = text.find(sep);
    if (pos == TextView::npos) return 0;
    int count = 0;
    size_t from = 0;
    while (pos != TextView::npos) {
        out.emplace_back(text.substr(from, pos - from));
        ++count;
        from = pos + sep.size();
        pos = text.find(sep, from);
    }
    out.emplace_back(text.substr(from));
    return count;
}

Text CutBetween(TextView& text, TextView start, TextView end, unsigned flags) {
    const size_t s = text.find(start);
    if (s == TextView::npos) return Text();
    const TextView rest = text.substr(s + start.size());
    Text result;
    if (flags & CUT_OPEN_END) result.assign(rest);
    const size_t e = rest.find(end);
    if (e != TextView::npos) result.assign(rest.substr(0, e));
    if (flags & CUT_CONSUME) text = rest;
    return result;
}

Text CutBetween(Text& text, TextView start, TextView end, unsigned flags) {
    TextView view(text);
    Text result = CutBetween(view, start, end, flags);
    if (flags & CUT_CONSUME) {
        const size_t consumed = text.size() - view.size();
        if (consumed > 0) text.erase(0, consumed);
    }
    return result;
}

int DeleteThrough(Text& text, TextView marker, bool includeMarker) {
    const size_t pos = text.find(marker);
    if (pos == Text::npos) return -1;
    text.erase(0, pos + (includeMarker ? marker.size() : 0));
    return static_cast<int>(pos);
}

int KeepBefore(Text& text, TextView marker) {
    const size_t pos = text.find(marker);
    if (pos == Text::npos) return -1;
    text.resize(pos);
    return static_cast<int>(pos);
}

void ReplaceAll(Text& text, TextView from, TextView to) {
    if (from.empty()) return;
    size_t pos = text.find(from);
    if (pos == Text::npos) return;
    Text out;
    out.reserve(text.size());
    size_t last = 0;
    while (pos != Text::npos) {
        out.append(text, last, pos - last);
        out.append(to);
        last = pos + from.size();
        pos = text.find(from, last);
    }
    out.append(text, last, Text::npos);
    text.swap(out);
}

void ReplacePairs(Text& text, TextView findList, TextView replaceList) {
    const int findBars = CountOccurrences(findList, u"|");
    const int replaceBars = CountOccurrences(replaceList, u"|");
    if (findBars != replaceBars || findBars == 0) {
        ReplaceAll(text, findList, replaceList);
        return;
    }
    std::vector<Text> finds;
    std::vector<Text> replaces;
    SplitByMarker(findList, u"|", finds);
    SplitByMarker(replaceList, u"|", replaces);
    for (size_t i = 0; i < finds.size() && i < replaces.size(); ++i) {
        ReplaceAll(text, finds[i], replaces[i]);  // an empty find item does nothing
    }
}

Text StripTags(TextView text) {
    Text result(text);
    TextView work(text);
    for (;;) {
        const Text inner = CutBetween(work, u"<", u">", CUT_CONSUME);
        if (inner.empty()) break;
        Text tag;
        tag.reserve(inner.size() + 2);
        tag.push_back(u'<');
        tag.append(inner);
        tag.push_back(u'>');
        ReplaceAll(result, tag, u"");
    }
    return result;
}

// --- decoding -----------------------------------------------------------------------------------

namespace {

constexpr TextView kEntities[] = {u"&quot;", u"&amp;", u"&lt;", u"&gt;", u"&nbsp;", u"&hellip;", u"&#39;"};

// True when one of the entities occurs. Only a decoded "&amp;" can make a new one (its '&' before
// the text after it), so a text without any keeps its seven passes for nothing.
bool HasEntity(TextView text) {
    for (std::size_t at = FindUnit(text, u'&'); at != TextView::npos; at = FindUnit(text, u'&', at + 1)) {
        const TextView rest = text.substr(at);
        for (const TextView entity : kEntities)
            if (rest.substr(0, entity.size()) == entity) return true;
    }
    return false;
}

}  // namespace

void DecodeHtmlEntities(Text& text) {
    if (!HasEntity(text)) return;  // one pass instead of seven over a large body
    ReplaceAll(text, u"&quot;", u"\"");
    ReplaceAll(text, u"&amp;", u"&");
    ReplaceAll(text, u"&lt;", u"<");
    ReplaceAll(text, u"&gt;", u">");
    ReplaceAll(text, u"&nbsp;", u" ");
    ReplaceAll(text, u"&hellip;", u"\u2026");
    ReplaceAll(text, u"&#39;", u"'");
    Trace("entities decoded\n");
}

namespace {

int HexDigit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

Text DecodeUnicodeEscapes(TextView text) {
    constexpr TextView kMarker = u"\\u";
    size_t pos = text.find(kMarker);
    if (pos == TextView::npos) return Text(text);
    Text out;
    out.reserve(text.size());
    out.append(text.substr(0, pos));
    while (pos != TextView::npos) {
        const size_t from = pos + kMarker.size();
        pos = text.find(kMarker, from);
        const TextView piece = text.substr(from, pos == TextView::npos ? TextView::npos : pos - from);
        if (piece.size() < 4) {
            out.append(piece);
            continue;
        }
        unsigned code = 0;
        for (size_t k = 0; k < 4; ++k) {
            const int d = HexDigit(piece[k]);
            if (d < 0) break;
            code = code * 16 + static_cast<unsigned>(d);
        }
        out.push_back(static_cast<char16_t>(code));
        out.append(piece.substr(4));
    }
    return out;
}

// --- other --------------------------------------------------------------------------------------

namespace {

std::mutex g_randomMutex;

}  // namespace

Text RandomFraction() {
    Trace("random fraction\n");
    unsigned draw = 0;
    {
        // A linear congruential generator reseeded with the current second: two calls within
        // one second give the same value, as the cache-busting parameters have always done.
        std::lock_guard<std::mutex> lock(g_randomMutex);
        uint32_t state = static_cast<uint32_t>(std::time(nullptr));
        state = state * 214013u + 2531011u;
        draw = (state >> 16) & 0x7FFFu;
    }
    // Always with a decimal point: to_chars ignores the locale (LC_NUMERIC may ask for a comma).
    char digits[64];
    const auto res =
        std::to_chars(digits, digits + sizeof digits, draw / 32767.0, std::chars_format::fixed, 16);
    std::string out(digits, res.ptr);
    out += '\n';
    return FromUtf8(out);
}

Text Trim(TextView text) {
    // Also the vertical tab, form feed, no-break space and the ideographic space of CJK input.
    auto blank = [](char16_t c) {
        return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n' || c == u'\v' || c == u'\f' ||
               c == 0x00A0 || c == 0x3000;
    };
    size_t b = 0;
    size_t e = text.size();
    while (b < e && blank(text[b])) ++b;
    while (e > b && blank(text[e - 1])) --e;
    return Text(text.substr(b, e - b));
}

Text FormatText(const char* fmt, ...) {
    if (fmt == nullptr) return Text();
    char small[256];
    va_list args;
    va_start(args, fmt);
    va_list copy;
    va_copy(copy, args);
    const int n = std::vsnprintf(small, sizeof small, fmt, args);
    va_end(args);
    if (n < 0) {
        va_end(copy);
        return Text();
    }
    if (static_cast<size_t>(n) < sizeof small) {
        va_end(copy);
        return FromUtf8(std::string_view(small, static_cast<size_t>(n)));
    }
    std::string big(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(big.data(), big.size(), fmt, copy);
    va_end(copy);
    big.resize(static_cast<size_t>(n));
    return FromUtf8(big);
}

}  // namespace qm
