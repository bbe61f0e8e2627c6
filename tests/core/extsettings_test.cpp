// The extension settings: codes from encoding names, the price flag, numbers, and the defaults.
#include "core/ExtSettings.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "TempFolder.h"
#include "net/FileUtil.h"

namespace qm {
namespace {

class ExtSettingsTest : public ::testing::Test {
protected:
    void SetUp() override { m_folder = TextFromPath(m_dir) + u"/"; }

    std::filesystem::path File() const { return PathFromText(m_folder + kExtSettingsFileName); }
    void WriteGbk(TextView text) { ASSERT_TRUE(WriteFileAtomic(File(), TextToGbk(text))); }

    test::TempFolder m_temp{"qm-ext-"};
    const std::filesystem::path& m_dir = m_temp.path();
    Text m_folder;
};

void ExpectDefaults(const ExtSettings& s) {
    EXPECT_EQ(s.V2Charset, 0);
    EXPECT_EQ(s.V3Charset, 0);
    EXPECT_EQ(s.OriginalNameMode, 1);
    EXPECT_EQ(s.MoodDownloadMode, 0);
    EXPECT_EQ(s.PriceInName, 0);
    EXPECT_EQ(s.PriceDelta, 0);
    EXPECT_EQ(s.InstagramMode, 1);
    EXPECT_EQ(s.JdMode, 1);
}

TEST_F(ExtSettingsTest, CodesAndNumbers) {
    WriteGbk(
        u"[QQ空间]\r\nV2编码=utf8\r\nV3编码=AUTO words\r\n取原始名方式=0\r\n"
        u"[QQ说说]\r\n下载方式=300\r\n"
        u"[淘宝]\r\n图片名中是否有价格=有价格\r\n价格增减=12\r\n"
        u"[Instagram]\r\n图片获取方式=2x\r\n[京东]\r\n图片获取方式=\r\n");
    const ExtSettings s = ReadExtSettings(m_folder);
    EXPECT_EQ(s.V2Charset, 0);   // lower case is no name
    EXPECT_EQ(s.V3Charset, 16);  // prefix match
    EXPECT_EQ(s.OriginalNameMode, 0);
    EXPECT_EQ(s.MoodDownloadMode, 300 & 0xFF);  // stored in the field's width
    EXPECT_EQ(s.PriceInName, 1);
    EXPECT_EQ(s.PriceDelta, 12);
    EXPECT_EQ(s.InstagramMode, 2);
    EXPECT_EQ(s.JdMode, 1);  // empty value: the default
}

TEST_F(ExtSettingsTest, EveryCharsetName) {
    const std::pair<Text, int> cases[] = {{u"UTF8", 2},    {u"ANSI", 0},  {u"AUTO", 16}, {u"BIG5", 8},
                                          {u"BIG5-HK", 8}, {u"-UTF8", 0}, {u"GBK", 0},   {u"", 0}};
    for (const auto& [name, code] : cases) {
        WriteGbk(u"[QQ空间]\nV2编码=x" + name + u"\nV3编码=" + name + u"\n");
        const ExtSettings s = ReadExtSettings(m_folder);
        EXPECT_EQ(s.V3Charset, code) << ToUtf8(name);
        EXPECT_EQ(s.V2Charset, 0);
    }
    WriteGbk(u"[淘宝]\n图片名中是否有价格=没有价格\n");
    EXPECT_EQ(ReadExtSettings(m_folder).PriceInName, 0);
}

TEST_F(ExtSettingsTest, MissingFileOrKeysGiveDefaults) {
    ExpectDefaults(ReadExtSettings(m_folder));
    WriteGbk(u"[其他]\nfoo=bar\n");
    ExpectDefaults(ReadExtSettings(m_folder));

    // Read again at every job: deleting the file between two reads brings the defaults back.
    WriteGbk(u"[QQ空间]\nV2编码=UTF8\n");
    EXPECT_EQ(ReadExtSettings(m_folder).V2Charset, 2);
    std::filesystem::remove(File());
    ExpectDefaults(ReadExtSettings(m_folder));

    // A folder under the file's name is an unreadable file: the defaults, no exception.
    std::filesystem::create_directories(File());
    ExpectDefaults(ReadExtSettings(m_folder));
}

}  // namespace
}  // namespace qm

namespace qm {
namespace {

// The program's own switch is written into the user's file without disturbing it: other lines,
// comments and the encoding stay; the key is replaced in its section, or the section added.
TEST_F(ExtSettingsTest, WritingTheShootTimeSwitchKeepsTheUsersFile) {
    EXPECT_TRUE(ReadExtSettings(m_folder).KeepShootTime);  // the default, without a file
    ASSERT_FALSE(WriteExtSetting(m_folder, kDownloadSection, kKeepShootTimeKey, u"0"));
    EXPECT_FALSE(ReadExtSettings(m_folder).KeepShootTime);

    WriteGbk(u"; 我的设置\r\n[QQ空间]\r\n取原始名方式=2\r\n\r\n[下载]\r\n保留拍摄时间 = 0\r\n其他=x\r\n[QQ说说]\r\n下载方式=168\r\n");
    ASSERT_FALSE(WriteExtSetting(m_folder, kDownloadSection, kKeepShootTimeKey, u"1"));
    std::string bytes;
    ASSERT_TRUE(ReadWholeFile(File(), bytes));
    EXPECT_EQ(bytes, TextToGbk(u"; 我的设置\r\n[QQ空间]\r\n取原始名方式=2\r\n\r\n[下载]\r\n保留拍摄时间=1\r\n其他=x\r\n[QQ说说]\r\n下载方式=168\r\n"));
    const ExtSettings s = ReadExtSettings(m_folder);
    EXPECT_TRUE(s.KeepShootTime);
    EXPECT_EQ(s.OriginalNameMode, 2);
    EXPECT_EQ(s.MoodDownloadMode, 168);

    WriteGbk(u"[QQ空间]\r\n取原始名方式=2\r\n");
    ASSERT_FALSE(WriteExtSetting(m_folder, kDownloadSection, kKeepShootTimeKey, u"0"));
    ASSERT_TRUE(ReadWholeFile(File(), bytes));
    EXPECT_EQ(bytes, TextToGbk(u"[QQ空间]\r\n取原始名方式=2\r\n\r\n[下载]\r\n保留拍摄时间=0\r\n"));
}

}  // namespace
}  // namespace qm
