// Response bodies to text: inflating, the order of the code-page decisions, entities last.
#include "net/BodyText.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

namespace qm {
namespace {

// Compresses with a gzip header (windowBits 31), a zlib header (15) or none (-15).
std::string Compress(std::string_view plain, int windowBits) {
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    EXPECT_EQ(deflateInit2(&zs, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&zs, plain.size()) + 32, '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.data()));
    zs.avail_in = static_cast<uInt>(plain.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

ST_URLRESPONSE Response(std::string body, Text headers = u"HTTP/1.1 200 OK\r\n", bool gzip = false) {
    ST_URLRESPONSE r;
    r.headers = std::move(headers);
    r.body = std::move(body);
    r.gzip = gzip;
    return r;
}

const std::string kUtf8Chinese = "\xE4\xB8\xAD\xE6\x96\x87";  // 中文 in UTF-8
const std::string kGbkChinese = "\xD6\xD0\xCE\xC4";           // 中文 in GBK

TEST(InflateGzip, StreamsOfEveryKind) {
    std::string big;
    for (int i = 0; i < 5000; ++i) big += "line " + std::to_string(i) + "\n";  // many 8 KB steps

    std::string out;
    EXPECT_TRUE(InflateGzip(Compress(big, 31).data(), Compress(big, 31).size(), out));
    EXPECT_EQ(out, big);
    out.clear();
    const std::string zlibStream = Compress(big, 15);
    EXPECT_TRUE(InflateGzip(zlibStream.data(), zlibStream.size(), out));
    EXPECT_EQ(out, big);

    // Truncated: what came out before the end is kept.
    const std::string gz = Compress(big, 31);
    out.clear();
    EXPECT_FALSE(InflateGzip(gz.data(), gz.size() / 2, out));
    EXPECT_GT(out.size(), 0u);
    EXPECT_EQ(out, big.substr(0, out.size()));

    // Corrupt in the middle: a prefix of the text, never garbage beyond what was inflated.
    std::string bad = gz;
    for (size_t i = bad.size() / 2; i < bad.size() / 2 + 16; ++i) bad[i] = static_cast<char>(~bad[i]);
    out.clear();
    InflateGzip(bad.data(), bad.size(), out);
    EXPECT_LE(out.size(), big.size());

    // Plain or raw-deflate data gives nothing.
    out.clear();
    EXPECT_FALSE(InflateGzip("hello world", 11, out));
    EXPECT_EQ(out, "");
    const std::string raw = Compress("hello", -15);
    EXPECT_FALSE(InflateGzip(raw.data(), raw.size(), out));
    EXPECT_EQ(out, "");
    EXPECT_FALSE(InflateGzip(nullptr, 0, out));
}

TEST(InflateGzip, StopsAHugeExpansionInsteadOfExhaustingMemory) {
    // 300 MB of zeros compress to about 300 KB; inflating stops at its limit with a partial result.
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    ASSERT_EQ(deflateInit2(&zs, 9, Z_DEFLATED, 31, 8, Z_DEFAULT_STRATEGY), Z_OK);
    const std::string zeros(1 << 20, '\0');
    std::string gz(4 << 20, '\0');
    zs.next_out = reinterpret_cast<Bytef*>(gz.data());
    zs.avail_out = static_cast<uInt>(gz.size());
    for (int i = 0; i < 300; ++i) {
        zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.data()));
        zs.avail_in = static_cast<uInt>(zeros.size());
        ASSERT_EQ(deflate(&zs, i == 299 ? Z_FINISH : Z_NO_FLUSH), i == 299 ? Z_STREAM_END : Z_OK);
    }
    gz.resize(zs.total_out);
    deflateEnd(&zs);

    std::string out;
    EXPECT_FALSE(InflateGzip(gz.data(), gz.size(), out));
    EXPECT_GT(out.size(), kMaxBodyInMemory - (1 << 20));
    EXPECT_LE(out.size(), kMaxBodyInMemory);

    // Into a sink with a small limit: it stops at the limit, in small pieces.
    uint64_t produced = 0;
    size_t largestPiece = 0;
    const InflateEnd end = InflateGzipTo(
        gz, 1 << 20,
        [&](std::string_view piece) {
            largestPiece = std::max(largestPiece, piece.size());
            return true;
        },
        produced);
    EXPECT_EQ(end, InflateEnd::TooLarge);
    EXPECT_LE(produced, 1u << 20);
    EXPECT_LE(largestPiece, 64u << 10);
}

TEST(GetBodyText, GunzipOnlyWhenAskedAndMarked) {
    const std::string gz = Compress("<p>" + kUtf8Chinese + "</p>", 31);
    EXPECT_EQ(GetBodyText(Response(gz, u"Content-Encoding: gzip\r\n", true), TXT_GUNZIP | TXT_UTF8),
              u"<p>中文</p>");

    // "gzip" only in a Vary line marks a plain body as compressed: asking to gunzip gives nothing.
    const auto vary = Response("plain body", u"Vary: Accept-Encoding, gzip\r\n", true);
    EXPECT_EQ(GetBodyText(vary, TXT_GUNZIP | TXT_UTF8), u"");
    EXPECT_EQ(GetBodyText(vary, TXT_UTF8), u"plain body");

    // A deflate answer is not marked gzip and is not inflated: the raw bytes are converted.
    const std::string deflated = Compress("plain body", 15);
    const Text t = GetBodyText(Response(deflated, u"Content-Encoding: deflate\r\n", false), TXT_GUNZIP);
    EXPECT_NE(t, u"plain body");

    // A truncated gzip body gives the text inflated before the cut.
    std::string text;
    for (int i = 0; i < 4000; ++i) text += "abcdefgh" + std::to_string(i);
    const std::string gzText = Compress(text, 31);
    const Text part =
        GetBodyText(Response(gzText.substr(0, gzText.size() / 2), u"", true), TXT_GUNZIP | TXT_UTF8);
    EXPECT_FALSE(part.empty());
    EXPECT_EQ(ToUtf8(part), text.substr(0, part.size()));

    // Inflated in place beforehand, a body reads the same however it is asked for; one only marked
    // gzip is left alone.
    auto early = Response(gz, u"Content-Encoding: gzip\r\n", true);
    InflateBody(early);
    EXPECT_FALSE(early.gzip);
    EXPECT_EQ(GetBodyText(early, TXT_GUNZIP | TXT_UTF8), u"<p>中文</p>");
    auto marked = vary;
    InflateBody(marked);
    EXPECT_EQ(GetBodyText(marked, TXT_GUNZIP | TXT_UTF8), u"");
    EXPECT_EQ(GetBodyText(marked, TXT_UTF8), u"plain body");
}

TEST(GetBodyText, GbkHeaderOverridesFlagsAndStopsAtNul) {
    const std::string body = kGbkChinese + std::string(1, '\0') + "tail";
    const Text gbkHeaders = u"HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=GBK\r\n";
    EXPECT_EQ(GetBodyText(Response(body, gbkHeaders), TXT_UTF8 | TXT_BIG5 | TXT_AUTO), u"中文");

    // Lower case is not the GBK path: the caller's UTF-8 flag decides.
    const Text lower = u"Content-Type: text/html; charset=gbk\r\n";
    EXPECT_EQ(GetBodyText(Response(kUtf8Chinese, lower), TXT_UTF8), u"中文");
}

TEST(GetBodyText, FlagOrderAndAuto) {
    // UTF-8 goes before Big5; a NUL in the converted text ends it.
    EXPECT_EQ(GetBodyText(Response(kUtf8Chinese + std::string(1, '\0') + "x"), TXT_UTF8 | TXT_BIG5), u"中文");
    EXPECT_EQ(GetBodyText(Response("\xA4\xA4\xA4\xE5"), TXT_BIG5), u"中文");  // Big5 中文

    EXPECT_EQ(GetBodyText(Response(kUtf8Chinese), TXT_AUTO), u"中文");
    EXPECT_EQ(GetBodyText(Response("just ascii"), TXT_AUTO), u"just ascii");
    EXPECT_EQ(GetBodyText(Response(kGbkChinese), TXT_AUTO), u"中文");
    // The last UTF-8 sequence cut short: not UTF-8 text, so the bytes are read as GBK.
    const std::string cut = kUtf8Chinese.substr(0, 5);
    EXPECT_EQ(GetBodyText(Response(cut), TXT_AUTO), AnsiToText(cut));
    EXPECT_NE(GetBodyText(Response(cut), TXT_AUTO), u"中文");

    // No flags: UTF-8 bytes are read as GBK, byte by byte as that page reads them.
    EXPECT_EQ(GetBodyText(Response(kUtf8Chinese), 0), MultiByteToText(kUtf8Chinese, CP_GBK));
    EXPECT_EQ(GetBodyText(Response(kGbkChinese), 0), u"中文");
}

// An ASCII body is widened sixteen bytes at a time: a NUL or a character beyond ASCII at any place
// of a block, or in the tail after the last whole block, gives what the code page gives.
TEST(GetBodyText, AsciiBodiesReadAsEveryCodePageReadsThem) {
    // Every place of short bodies, and the places around the widening's 4096-byte steps of a long one.
    const std::vector<size_t> aroundSteps = {0, 4079, 4095, 4096, 4097, 8191, 8192, 8199};
    for (size_t size : {0u, 1u, 15u, 16u, 17u, 40u, 8200u}) {
        const std::string ascii(size, 'a');
        EXPECT_EQ(GetBodyText(Response(ascii), TXT_AUTO), Text(size, u'a'));
        std::vector<size_t> places;
        for (size_t at = 0; at < size && size < 100; ++at) places.push_back(at);
        if (size >= 100) places = aroundSteps;
        for (size_t at : places) {
            std::string nul = ascii;
            nul[at] = '\0';
            EXPECT_EQ(GetBodyText(Response(nul), TXT_AUTO), Text(at, u'a')) << size << " " << at;
            nul += kUtf8Chinese;  // what follows the NUL is never read
            for (unsigned flags : {0u, unsigned(TXT_AUTO), unsigned(TXT_UTF8), unsigned(TXT_BIG5)})
                EXPECT_EQ(GetBodyText(Response(nul), flags), Text(at, u'a')) << size << " " << at << " " << flags;
            const std::string utf8 = ascii.substr(0, at) + kUtf8Chinese + ascii.substr(at);
            EXPECT_EQ(GetBodyText(Response(utf8), TXT_AUTO), Text(at, u'a') + u"中文" + Text(size - at, u'a'));
            const std::string gbk = ascii.substr(0, at) + kGbkChinese + ascii.substr(at);
            EXPECT_EQ(GetBodyText(Response(gbk), TXT_AUTO), Text(at, u'a') + u"中文" + Text(size - at, u'a'));
        }
    }
}

TEST(GetBodyText, EntitiesDecodedAfterConversion) {
    EXPECT_EQ(GetBodyText(Response("&lt;a&gt; &amp;quot; &#39;" + kUtf8Chinese), TXT_UTF8),
              u"<a> &quot; '中文");
    const ST_URLRESPONSE r = Response("&amp;", u"", false);
    GetBodyText(r, TXT_UTF8);
    EXPECT_EQ(r.body, "&amp;");  // the response itself is untouched
}

// Random bodies, headers and flags: never a crash or an exception.
TEST(GetBodyText, RandomInput) {
    std::mt19937 rng(2024);
    const std::string gzSample = Compress("<b>&amp;" + kUtf8Chinese + "</b>", 31);
    for (int round = 0; round < 3000; ++round) {
        std::string body;
        if (round % 4 == 0) {
            body = gzSample;
            body[rng() % body.size()] = static_cast<char>(rng());
            body.resize(rng() % (body.size() + 1));
        } else {
            body.resize(rng() % 300);
            for (auto& c : body) c = static_cast<char>(rng());
        }
        const Text headers = (rng() % 3 == 0) ? u"charset=GBK" : u"Content-Type: text/html";
        const unsigned flags = rng() & 0x1F;
        EXPECT_NO_THROW(GetBodyText(Response(body, headers, rng() % 2 == 0), flags));
    }
}

}  // namespace
}  // namespace qm
