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

std::array<std::string, 4> FormsOf(TextView text) {
    return {ToUtf8(text), TextToGbk(text), Escaped(text, false), Escaped(text, true)};
}

// The head of a body, inflated when it is gzip.
std::string_view Head(std::string_view body, std::string& inflated) {
    body = body.substr(0, std::min(body.size(), kRateLimitScanBytes));
    if (IsGzipStream(body)) {
        inflated = InflatedHead(body, kRateLimitScanBytes);
        return inflated;
    }
    return body;
}

std::optional<long> CodeIn(std::string_view body) {
    const std::size_t at = body.find("\"code\"");
    if (at == std::string_view::npos) return std::nullopt;
    std::size_t i = at + 6;
    while (i < body.size() && (body[i] == ' ' || body[i] == ':' || body[i] == '\t')) ++i;
    bool negative = false;
    if (i < body.size() && body[i] == '-') {
        negative = true;
        ++i;
    }
    if (i >= body.size() || body[i] < '0' || body[i] > '9') return std::nullopt;
    long value = 0;
    for (; i < body.size() && body[i] >= '0' && body[i] <= '9' && value < 100000000; ++i)
        value = value * 10 + (body[i] - '0');
    return negative ? -value : value;
}

}  // namespace

std::optional<long> AnswerCode(std::string_view body) {
    std::string inflated;
    return CodeIn(Head(body, inflated));
}

bool IsRateLimitedAnswer(long status, std::string_view body) {
    if (status == 429 || status == 503) return true;
    static const std::array<std::string, 4> kForms = FormsOf(kRateLimitText);
    std::string inflated;
    body = Head(body, inflated);
    if (Contains(body, kForms)) return true;
    // The busy answers of today's services are refusals with a code of their own; their texts
    // count only in a refusal, so that a picture described as "用户过多" is no busy answer.
    const std::optional<long> code = CodeIn(body);
    if (!code || *code >= 0) return false;
    for (int busy : kBusyCodes)
        if (*code == busy) return true;
    static const std::array<std::string, 4> kBusy0 = FormsOf(kBusyTexts[0]);
    static const std::array<std::string, 4> kBusy1 = FormsOf(kBusyTexts[1]);
    return Contains(body, kBusy0) || Contains(body, kBusy1);
}

bool IsRateLimited(const ST_URLRESPONSE& resp) {
    return IsRateLimitedAnswer(resp.status, resp.body);
}

bool IsLoginNeededAnswer(std::string_view body) {
    std::string inflated;
    body = Head(body, inflated);
    const std::optional<long> code = CodeIn(body);
    if (!code) return false;
    return *code == -3000 || (*code == -3001 && body.find("needVerify") != std::string_view::npos);
}

bool IsLoginNeeded(const ST_URLRESPONSE& resp) {
    return IsLoginNeededAnswer(resp.body);
}

std::optional<long> RetryAfterSeconds(TextView headers) {
    static constexpr TextView kName = u"retry-after:";
    std::size_t line = 0;
    while (line < headers.size()) {
        std::size_t end = headers.find(u'\n', line);
        if (end == TextView::npos) end = headers.size();
        const TextView l = headers.substr(line, end - line);
        if (l.size() > kName.size()) {
            bool same = true;
            for (std::size_t i = 0; i < kName.size() && same; ++i) {
                char16_t c = l[i];
                if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
                same = c == kName[i];
            }
            if (same) {
                std::size_t i = kName.size();
                while (i < l.size() && (l[i] == u' ' || l[i] == u'\t')) ++i;
                long value = 0;
                std::size_t digits = 0;
                for (; i < l.size() && l[i] >= u'0' && l[i] <= u'9' && digits < 9; ++i, ++digits)
                    value = value * 10 + (l[i] - u'0');
                while (i < l.size() && (l[i] == u' ' || l[i] == u'\r')) ++i;
                if (digits == 0 || i != l.size()) return std::nullopt;  // an HTTP date, or junk
                return value;
            }
        }
        line = end + 1;
    }
    return std::nullopt;
}

}  // namespace qm
