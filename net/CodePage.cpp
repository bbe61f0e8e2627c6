// Code-page conversions through ICU: GBK (936, also the program's "ANSI" page), Big5 (950), UTF-8.
// Each thread keeps its own converters (ICU converters are not thread-safe, but opening them per
// call is wasteful on long pages); they are closed when the thread ends.
#include <unicode/ucnv.h>
#include <unicode/ucnv_cb.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <map>
#include <memory>
#include <string>

#include "net/StringCtrl.h"

namespace qm {

namespace {

struct ConverterCloser {
    void operator()(UConverter* c) const { ucnv_close(c); }
};
using ConverterPtr = std::unique_ptr<UConverter, ConverterCloser>;

std::string IcuName(unsigned codePage) {
    switch (codePage) {
        case CP_GBK:
            return "windows-936";
        case CP_BIG5:
            return "windows-950";  // "cp950" would be IBM's table, not the Windows one
        case CP_UTF8:
            return "UTF-8";
        default: {
            char name[32];
            std::snprintf(name, sizeof name, "windows-%u", codePage);
            return name;
        }
    }
}

void SubstituteDefaultChar(const void*, UConverterFromUnicodeArgs* args, const UChar*, int32_t, UChar32,
                           UConverterCallbackReason reason, UErrorCode* err) {
    if (reason != UCNV_UNASSIGNED && reason != UCNV_ILLEGAL && reason != UCNV_IRREGULAR) return;
    *err = U_ZERO_ERROR;
    ucnv_cbFromUWriteBytes(args, "?", 1, 0, err);
}

// The calling thread's converter for a code page, reset to its initial state; null when ICU has
// no such page.
UConverter* ThreadConverter(unsigned codePage) {
    thread_local std::map<unsigned, ConverterPtr> cache;
    auto it = cache.find(codePage);
    if (it == cache.end()) {
        UErrorCode status = U_ZERO_ERROR;
        UConverter* c = ucnv_open(IcuName(codePage).c_str(), &status);
        if (U_FAILURE(status)) c = nullptr;  // an alias warning is not a failure
        if (c != nullptr && codePage != CP_UTF8) {
            // Every character without a form in the page becomes "?", the page's default
            // character; ICU's own substitution would silently drop default-ignorable ones.
            UErrorCode cbStatus = U_ZERO_ERROR;
            ucnv_setFromUCallBack(c, SubstituteDefaultChar, nullptr, nullptr, nullptr, &cbStatus);
        }
        it = cache.emplace(codePage, ConverterPtr(c)).first;
    }
    if (it->second) ucnv_reset(it->second.get());
    return it->second.get();
}

Text CutAtNul(Text text) {
    const size_t nul = text.find(u'\0');
    if (nul != Text::npos) text.resize(nul);
    return text;
}

}  // namespace

bool AsciiToText(std::string_view bytes, Text& out) {
    // Widened into a small buffer and appended from there: growing the text by resize first would
    // fill it with zeros one unit at a time, which cost three times the widening itself.
    constexpr size_t kChunk = 4096;
    char16_t buffer[kChunk];
    out.clear();
    out.reserve(bytes.size());
    const auto* src = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t from = 0; from < bytes.size();) {
        const size_t n = std::min(kChunk, bytes.size() - from);
        const unsigned char* in = src + from;
        size_t i = 0;
#if defined(__SSE2__)
        // Sixteen bytes at a time while none is NUL or above 0x7F.
        const __m128i zero = _mm_setzero_si128();
        for (; n - i >= 16; i += 16) {
            const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
            if (_mm_movemask_epi8(_mm_or_si128(v, _mm_cmpeq_epi8(v, zero))) != 0) break;
            _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + i), _mm_unpacklo_epi8(v, zero));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(buffer + i + 8), _mm_unpackhi_epi8(v, zero));
        }
#endif
        for (; i < n; ++i) {
            const unsigned char b = in[i];
            if (b == 0) break;
            if (b > 0x7F) return false;
            buffer[i] = b;
        }
        out.append(buffer, i);
        if (i < n) break;  // the NUL ends the text
        from += n;
    }
    return true;
}

Text MultiByteToText(std::string_view bytes, unsigned codePage) {
    if (bytes.empty()) return Text();
    // The three code pages read ASCII as ASCII: a body of nothing else (most answers' JSON) is
    // widened directly instead of going through the converter.
    if (codePage == CP_GBK || codePage == CP_BIG5 || codePage == CP_UTF8) {
        Text ascii;
        if (AsciiToText(bytes, ascii)) return ascii;
    }
    UConverter* conv = ThreadConverter(codePage);
    if (conv == nullptr) return Text();
    Text out(bytes.size() + 16, u'\0');
    const char* src = bytes.data();
    const char* srcEnd = bytes.data() + bytes.size();
    size_t used = 0;
    for (;;) {
        UChar* target = reinterpret_cast<UChar*>(out.data()) + used;
        UChar* targetEnd = reinterpret_cast<UChar*>(out.data()) + out.size();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_toUnicode(conv, &target, targetEnd, &src, srcEnd, nullptr, true, &status);
        used = static_cast<size_t>(target - reinterpret_cast<UChar*>(out.data()));
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status)) return Text();
        break;
    }
    out.resize(used);
    return CutAtNul(std::move(out));
}

Text AnsiToText(std::string_view bytes) {
    const size_t nul = bytes.find('\0');
    if (nul != std::string_view::npos) bytes = bytes.substr(0, nul);
    return MultiByteToText(bytes, CP_GBK);
}

Bytes TextToGbk(TextView text) {
    if (text.empty()) return Bytes();
    UConverter* conv = ThreadConverter(CP_GBK);
    if (conv == nullptr) return Bytes();
    Bytes out(text.size() * 2 + 16, '\0');
    const UChar* src = reinterpret_cast<const UChar*>(text.data());
    const UChar* srcEnd = src + text.size();
    size_t used = 0;
    for (;;) {
        char* target = out.data() + used;
        char* targetEnd = out.data() + out.size();
        UErrorCode status = U_ZERO_ERROR;
        ucnv_fromUnicode(conv, &target, targetEnd, &src, srcEnd, nullptr, true, &status);
        used = static_cast<size_t>(target - out.data());
        if (status == U_BUFFER_OVERFLOW_ERROR) {
            out.resize(out.size() * 2);
            continue;
        }
        if (U_FAILURE(status)) return Bytes();
        break;
    }
    out.resize(used);
    const size_t nul = out.find('\0');
    if (nul != Bytes::npos) out.resize(nul);
    return out;
}

}  // namespace qm
