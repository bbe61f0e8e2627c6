// The INI reader: each file encoding, the private-profile lookup rules, and hostile files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

#include "core/CIni.h"
#include "TempFolder.h"
#include "net/FileUtil.h"

namespace qm {
namespace {

class IniTest : public ::testing::Test {
protected:
    Text Write(const std::string& bytes) {
        const auto path = m_dir / "test.ini";
        std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
        return TextFromPath(path);
    }

    test::TempFolder m_temp{"qm-ini-"};
    const std::filesystem::path& m_dir = m_temp.path();
};

std::string Utf16Le(TextView t, bool bom = true) {
    std::string out = bom ? "\xFF\xFE" : "";
    for (char16_t c : t) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

const Text kSample = u"[QQ空间]\r\nV2编码 = UTF8 \r\n取原始名方式=0\r\n[其他]\r\nkey=其他值\r\n";

TEST_F(IniTest, ReadsEveryEncoding) {
    for (const std::string& bytes :
         {Utf16Le(kSample), "\xEF\xBB\xBF" + ToUtf8(kSample), TextToGbk(kSample)}) {
        const CIni ini(Write(bytes));
        EXPECT_EQ(ini.GetString(u"QQ空间", u"V2编码", u"ANSI"), u"UTF8");
        EXPECT_EQ(ini.GetInt(u"QQ空间", u"取原始名方式", 1), 0u);
        EXPECT_EQ(ini.GetString(u"其他", u"key", u""), u"其他值");
    }
    // UTF-8 without a byte-order mark is read as code page 936, as Windows does.
    const CIni noBom(Write(ToUtf8(u"[s]\nk=中\n")));
    EXPECT_EQ(noBom.GetString(u"s", u"k", u""), MultiByteToText("\xE4\xB8\xAD", CP_GBK));
}

TEST_F(IniTest, LookupRules) {
    const CIni ini(
        Write(ToUtf8(u"\xFEFF"
                     u"; comment=1\n"
                     u"orphan=before any section\n"
                     u"  [ Section ]  \n"
                     u"  Key  =  two words  \n"
                     u"key=second wins not\n"
                     u";Hidden=1\n"
                     u"empty=\n"
                     u"quoted=\"  spaced  \"\n"
                     u"noequals\n"
                     u"n1=42abc\n"
                     u"n2=abc\n"
                     u"n3=99999999999999999999\n"
                     u"n4=-5\n"
                     u"[broken\n"
                     u"x=still in the first section\n"
                     u"[section]\n"
                     u"other=in the second section of that name\n")));
    EXPECT_EQ(ini.GetString(u"SECTION", u"KEY", u"d"), u"two words");
    EXPECT_EQ(ini.GetString(u"section", u"Hidden", u"d"), u"d");
    EXPECT_EQ(ini.GetString(u"section", u"; comment", u"d"), u"d");
    EXPECT_EQ(ini.GetString(u"", u"orphan", u"d"), u"d");
    EXPECT_EQ(ini.GetString(u"section", u"empty", u"d"), u"");
    EXPECT_EQ(ini.GetString(u"section", u"quoted", u"d"), u"  spaced  ");
    EXPECT_EQ(ini.GetString(u"section", u"noequals", u"d"), u"d");
    EXPECT_EQ(ini.GetString(u"section", u"other", u"d"), u"d");  // only the first section counts
    EXPECT_EQ(ini.GetString(u"section", u"x", u"d"),
              u"still in the first section");  // "[broken" is no header
    EXPECT_EQ(ini.GetString(u"missing", u"key", u"dflt"), u"dflt");

    EXPECT_EQ(ini.GetInt(u"section", u"n1", 7), 42u);
    EXPECT_EQ(ini.GetInt(u"section", u"n2", 7), 0u);
    EXPECT_EQ(ini.GetInt(u"section", u"n3", 7), UINT32_MAX);
    EXPECT_EQ(ini.GetInt(u"section", u"n4", 7), 0u);
    EXPECT_EQ(ini.GetInt(u"section", u"empty", 7), 7u);
    EXPECT_EQ(ini.GetInt(u"section", u"nothere", 7), 7u);
}

TEST_F(IniTest, MissingFileGivesDefaults) {
    const CIni ini(TextFromPath(m_dir / "nothing.ini"));
    EXPECT_EQ(ini.GetString(u"a", u"b", u"def"), u"def");
    EXPECT_EQ(ini.GetInt(u"a", u"b", 3), 3u);
}

TEST_F(IniTest, HostileFiles) {
    // 100 KB lines, NUL bytes, invalid GBK and a UTF-16 file of odd length.
    std::string huge = "[s]\nlong=" + std::string(100 * 1024, 'x') + "\n";
    huge += std::string("\0\0\xFF\x81\n", 5) + "k=v\n";
    const CIni a(Write(huge));
    EXPECT_EQ(a.GetString(u"s", u"long", u"").size(), 100u * 1024);
    EXPECT_EQ(a.GetString(u"s", u"k", u""), u"v");

    const CIni b(Write(Utf16Le(u"[s]\nk=v\n") + "\x41"));
    EXPECT_EQ(b.GetString(u"s", u"k", u""), u"v");

    const CIni c(Write(std::string(200 * 1024, 'z')));  // no sections, no line breaks
    EXPECT_EQ(c.GetString(u"s", u"k", u"d"), u"d");

    std::mt19937 rng(7);
    const char pieces[][8] = {"[",        "]", "=", ";", "\n", "\r", "\xFF\xFE", "\xEF\xBB\xBF",
                              "\xD6\xD0", "s", "k", " "};
    for (int round = 0; round < 300; ++round) {
        std::string bytes;
        const int n = static_cast<int>(rng() % 200);
        for (int i = 0; i < n; ++i) {
            if (rng() % 3 == 0) {
                bytes.push_back(static_cast<char>(rng()));
            } else {
                bytes += pieces[rng() % std::size(pieces)];
            }
        }
        EXPECT_NO_THROW({
            const CIni ini(Write(bytes));
            ini.GetString(u"s", u"k", u"d");
            ini.GetInt(u"S", u"K", 1);
        });
    }
}

}  // namespace
}  // namespace qm
