#include "net/RateLimit.h"

#include <zlib.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <string>

namespace qm {

namespace {

std::string Escaped(TextView text, bool upper) {
    static const char kLower[] = "0123456789abcdef";
    static const char kUpper[] = "0123456789ABCDEF";
    const char* hex = upper ? kUpper : kLower;
    std::string out;
    for (char16_t c : text) {
        out += "\\u";
        for (int shift = 12; shift >= 0; shift -= 4) out += hex[(c >> shift) & 0xF];
    }
    return out;
}

bool Contains(std::string_view body, const std::array<std::string, 4>& forms) {
    return std::any_of(forms.begin(), forms.end(),
                       [body](const std::string& f) { return body.find(f) != std::string_view::npos; });
}

// The first `limit` inflated bytes of a gzip body (a refusal is short; a huge stream is not inflated).
std::string InflatedHead(std::string_view body, std::size_t limit) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit2(&zs, 47) != Z_OK) return {};
    std::string out(limit, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    zs.avail_in = static_cast<uInt>(body.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(limit);
    while (zs.avail_out > 0 && inflate(&zs, Z_NO_FLUSH) == Z_OK) {
    }
    out.resize(limit - zs.avail_out);
    inflateEnd(&zs);
    return out;
}

}  // namespace

bool IsRateLimitedAnswer(long status, std::string_view body) {
    if (status == 429 || status == 503) return true;
    static const std::array<std::string, 4> kForms = {ToUtf8(kRateLimitText), TextToGbk(kRateLimitText),
                                                      Escaped(kRateLimitText, false),
                                                      Escaped(kRateLimitText, true)};
    body = body.substr(0, std::min(body.size(), kRateLimitScanBytes));
    if (body.size() >= 2 && static_cast<unsigned char>(body[0]) == 0x1F &&
        static_cast<unsigned char>(body[1]) == 0x8B) {
        return Contains(InflatedHead(body, kRateLimitScanBytes), kForms);
    }
    return Contains(body, kForms);
}

bool IsRateLimited(const ST_URLRESPONSE& resp) {
    return IsRateLimitedAnswer(resp.status, resp.body);
}

}  // namespace qm
