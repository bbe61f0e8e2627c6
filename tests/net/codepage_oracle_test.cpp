// The 936 and 950 conversions against an independent implementation, glibc's iconv, over every
// double-byte code in both directions, plus the conversions' own edges and their use from many
// threads at once.
//
// Differences we keep (everything else agrees code for code):
//  * User-defined areas. The Windows tables map the GBK user-defined areas (AAA1-AFFE, F8A1-FEFE,
//    A140-A7A0) and the Big5 ones (8140-A0FE, C6A1-C8FE, FA40-FEFE) to the Private Use Area
//    U+E000-U+F8FF, and back. glibc's CP936/GBK/BIG5/CP950 refuse those bytes and those
//    characters. With the Debian ICU tables this is 2149 codes in 936 and 5809 codes in 950.
//  * Big5 has a few characters with two codes; the character encodes back to one of them, in
//    iconv as in the Windows table. Not a disagreement, but counted and bounded below.
//  * Bytes both sides leave unmapped: iconv reports an error, we give U+FFFD (the lead byte)
//    followed by whatever the trail byte reads as on its own.
#include <gtest/gtest.h>
#include <iconv.h>

#include <thread>

#include "net/StringCtrl.h"

namespace qm {
namespace {

class Iconv {
public:
    Iconv(const char* to, const char* from) : m_cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (ok()) iconv_close(m_cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool ok() const { return m_cd != reinterpret_cast<iconv_t>(-1); }

    // false when iconv refuses the input
    bool Convert(std::string in, std::string& out) {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char buf[64];
        char* ip = in.data();
        size_t il = in.size();
        char* op = buf;
        size_t ol = sizeof buf;
        if (iconv(m_cd, &ip, &il, &op, &ol) == static_cast<size_t>(-1) || il != 0) return false;
        out.assign(buf, sizeof buf - ol);
        return true;
    }

private:
    iconv_t m_cd;
};

std::string Utf16Bytes(TextView t) {
    return std::string(reinterpret_cast<const char*>(t.data()), t.size() * 2);  // little-endian host
}

Text FromUtf16Bytes(const std::string& b) {
    return Text(reinterpret_cast<const char16_t*>(b.data()), b.size() / 2);
}

bool IsPrivateUse(char16_t c) {
    return c >= 0xE000 && c <= 0xF8FF;
}

struct Tally {
    int same = 0;
    int userDefined = 0;  // ours maps into the Private Use Area, iconv refuses
    int bothUnmapped = 0;
    int duplicates = 0;  // a second code of a character that has two
};

// Decodes every double-byte code both ways and checks the encoding of each decoded character.
Tally CompareDecoding(unsigned codePage, const char* iconvName, bool (*trailOk)(int)) {
    Iconv dec("UTF-16LE", iconvName);
    Iconv enc(iconvName, "UTF-16LE");
    EXPECT_TRUE(dec.ok() && enc.ok()) << iconvName;
    Tally tally;
    for (int lead = 0x81; lead <= 0xFE; ++lead) {
        for (int trail = 0x40; trail <= 0xFE; ++trail) {
            if (!trailOk(trail)) continue;
            const std::string bytes{static_cast<char>(lead), static_cast<char>(trail)};
            const Text ours = MultiByteToText(bytes, codePage);
            std::string theirs;
            if (dec.Convert(bytes, theirs)) {
                EXPECT_EQ(ours, FromUtf16Bytes(theirs)) << std::hex << lead << trail;
                // The other direction: iconv turns our character back into the same bytes, and
                // for GBK so does our own encoder.
                std::string back;
                EXPECT_TRUE(enc.Convert(Utf16Bytes(ours), back)) << std::hex << lead << trail;
                if (back != bytes) {
                    // A character with two codes goes back to its other (canonical) code.
                    std::string again;
                    EXPECT_TRUE(dec.Convert(back, again) && again == theirs) << std::hex << lead << trail;
                    ++tally.duplicates;
                }
                if (codePage == CP_GBK) {
                    EXPECT_EQ(TextToGbk(ours), bytes) << std::hex << lead << trail;
                }
                ++tally.same;
            } else if (ours.size() == 1 && IsPrivateUse(ours[0])) {
                if (codePage == CP_GBK) {
                    EXPECT_EQ(TextToGbk(ours), bytes);
                }
                ++tally.userDefined;
            } else {
                EXPECT_TRUE(!ours.empty() && ours[0] == u'\uFFFD') << std::hex << lead << trail;
                ++tally.bothUnmapped;
            }
        }
    }
    return tally;
}

TEST(CodePageOracle, Gbk936DecodesLikeIconv) {
    for (const char* name : {"CP936", "GBK"}) {
        const Tally t = CompareDecoding(CP_GBK, name, [](int trail) { return trail != 0x7F; });
        EXPECT_GT(t.same, 21000) << name;  // 21791 with the tables of this system
        EXPECT_EQ(t.duplicates, 0) << name;
        EXPECT_GT(t.userDefined, 2000) << name;
        EXPECT_LT(t.userDefined, 2500) << name;
    }
}

TEST(CodePageOracle, Big5950DecodesLikeIconv) {
    for (const char* name : {"BIG5", "CP950"}) {
        const Tally t =
            CompareDecoding(CP_BIG5, name, [](int trail) { return trail <= 0x7E || trail >= 0xA1; });
        EXPECT_GT(t.same, 13000) << name;  // 13911 with the tables of this system
        // Big5 itself gives a few characters two codes (A2CC and A451 are both U+5341, A2CE and
        // A4CA U+5345, and box-drawing duplicates in F9xx); both sides agree on them.
        EXPECT_LT(t.duplicates, 40) << name;
        EXPECT_GT(t.userDefined, 5000) << name;
        EXPECT_LT(t.userDefined, 6500) << name;
    }
}

TEST(CodePageOracle, GbkEncodesEveryBmpCharacterLikeIconv) {
    Iconv enc("CP936", "UTF-16LE");
    ASSERT_TRUE(enc.ok());
    int same = 0, privateUse = 0, defaulted = 0;
    for (unsigned c = 1; c <= 0xFFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF) continue;
        const Text t(1, static_cast<char16_t>(c));
        const std::string ours = TextToGbk(t);
        std::string theirs;
        if (enc.Convert(Utf16Bytes(t), theirs)) {
            ASSERT_EQ(ours, theirs) << std::hex << c;
            ++same;
        } else if (IsPrivateUse(static_cast<char16_t>(c)) && ours != "?") {
            EXPECT_FALSE(ours.empty()) << std::hex << c;  // a user-defined GBK code (U+F8F5 is 0xFF)
            ++privateUse;
        } else {
            // No GBK form: the default character, never nothing (not even for a soft hyphen).
            ASSERT_EQ(ours, "?") << std::hex << c;
            ++defaulted;
        }
    }
    EXPECT_GT(same, 21000);
    EXPECT_GT(privateUse, 2000);
    EXPECT_GT(defaulted, 30000);
}

TEST(CodePages, Edges) {
    EXPECT_EQ(TextToGbk(u"中文abc"),
              "\xD6\xD0\xCE\xC4"
              "abc");
    EXPECT_EQ(TextToGbk(Text(u"ab\0cd", 5)), "ab");  // ends at the first NUL
    EXPECT_EQ(TextToGbk(u"a\u00ADb\u20ACc"),
              "a?b\x80"
              "c");
    EXPECT_EQ(TextToGbk(Text{u'x', char16_t(0xD800), u'y'}), "x?y");  // a lone surrogate
    EXPECT_EQ(TextToGbk(u"😀"), "?");
    EXPECT_EQ(TextToGbk(u""), "");

    EXPECT_EQ(AnsiToText(std::string("\xD6\xD0\0\xCE\xC4", 5)), u"中");
    EXPECT_EQ(AnsiToText(""), u"");
    EXPECT_EQ(MultiByteToText(std::string("\xE4\xB8\xAD\0x", 5), CP_UTF8), u"中");
    EXPECT_EQ(MultiByteToText("\xE4\xB8", CP_UTF8), u"\uFFFD");  // cut short: the platform's rule
    EXPECT_EQ(MultiByteToText("\xF0\x9F\x98\x80", CP_UTF8), u"😀");
    EXPECT_EQ(MultiByteToText("abc", 12345), u"");          // a code page nobody knows
    EXPECT_EQ(MultiByteToText("\xD6", CP_GBK), u"\uFFFD");  // a lone lead byte
    // Long ASCII runs are widened eight bytes at a time: a NUL or a character at any place of one
    // still ends or joins the text there.
    const std::string run(19, 'a');
    for (std::size_t at = 0; at <= run.size(); ++at) {
        const Text before(at, u'a');
        EXPECT_EQ(MultiByteToText(run.substr(0, at) + '\0' + run.substr(at), CP_UTF8), before) << at;
        EXPECT_EQ(MultiByteToText(run.substr(0, at) + "\xE4\xB8\xAD" + run.substr(at), CP_UTF8),
                  before + u"中" + Text(run.size() - at, u'a'))
            << at;
    }
}

TEST(CodePages, ManyThreadsAtOnce) {
    const std::string gbk = "\xD6\xD0\xCE\xC4\xCE\xC4\xBC\xFE";  // 中文文件
    const std::string big5 = "\xA4\xA4\xA4\xE5";                 // 中文
    std::vector<std::thread> threads;
    for (int i = 0; i < 15; ++i) {
        threads.emplace_back([&] {
            for (int k = 0; k < 500; ++k) {
                EXPECT_EQ(AnsiToText(gbk), u"中文文件");
                EXPECT_EQ(MultiByteToText(big5, CP_BIG5), u"中文");
                EXPECT_EQ(TextToGbk(u"中文文件"), gbk);
                EXPECT_EQ(MultiByteToText("\xE4\xB8\xAD", CP_UTF8), u"中");
            }
        });
    }
    for (auto& t : threads) t.join();
}

}  // namespace
}  // namespace qm
