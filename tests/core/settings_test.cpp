// soft.dat: byte layout, repairs, first-run defaults, the recent lists.
#include "core/Settings.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "TempFolder.h"
#include "net/FileUtil.h"

namespace fs = std::filesystem;
using namespace qm;

namespace {

// A temporary program folder.
struct TempFolder : test::TempFolder {
    TempFolder() : test::TempFolder("qm-settings-") {}
    const fs::path dir = path();
    Text Folder() const { return TextFromPath(dir) + u"/"; }
};

uint16_t U16At(const std::string& b, std::size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(b[at]) |
                                 (static_cast<unsigned char>(b[at + 1]) << 8));
}

}  // namespace

TEST(SettingsBlock, EveryFieldLandsAtItsOffset) {
    SettingsBlock b;
    for (int i = 0; i < kSiteSlots; ++i) {
        b.down[i] = {static_cast<uint16_t>(100 + i), static_cast<uint16_t>(200 + i),
                     static_cast<uint16_t>(i % 15 + 1), static_cast<uint16_t>(10 + i)};
        SetFieldText(b.profile[i].NamePrefix, u"前缀" + FormatText("%d", i));
        SetFieldText(b.profile[i].NameSuffix, u"suf");
        SetFieldText(b.profile[i].ReplaceFrom, u"a|b");
        SetFieldText(b.profile[i].ReplaceTo, u"c|d");
        SetFieldText(b.profile[i].FolderPrefix, u"?9_");
        SetFieldText(b.profile[i].FolderSuffix, u"_end");
        b.profile[i].SiteFlags = static_cast<uint16_t>(0x0100 | i);
        b.profile[i].NameMode = static_cast<uint8_t>(i % 3);
        b.profile[i].FolderMode = static_cast<uint8_t>(i % 2);
    }
    SetFieldText(b.RecentTargets[0], u"123456");
    SetFieldText(b.RecentTargets[4], u"最后");
    SetFieldText(b.RecentSavePaths[2], u"/home/用户/图片/");

    const std::string bytes = EncodeSettingsBlock(b);
    ASSERT_EQ(bytes.size(), 19808u);
    // DownParam of site 3 at 3*8.
    EXPECT_EQ(U16At(bytes, 24), 103);
    EXPECT_EQ(U16At(bytes, 26), 203);
    EXPECT_EQ(U16At(bytes, 28), 4);
    EXPECT_EQ(U16At(bytes, 30), 13);
    // SiteProfile of site 5 at 192 + 5*484.
    const std::size_t p5 = 192 + 5 * 484;
    EXPECT_EQ(U16At(bytes, p5), u'前');
    EXPECT_EQ(U16At(bytes, p5 + 4), u'5');
    EXPECT_EQ(U16At(bytes, p5 + 6), 0);
    EXPECT_EQ(U16At(bytes, p5 + 80), u's');
    EXPECT_EQ(U16At(bytes, p5 + 160 + 2), u'|');
    EXPECT_EQ(U16At(bytes, p5 + 240), u'c');
    EXPECT_EQ(U16At(bytes, p5 + 320), u'?');
    EXPECT_EQ(U16At(bytes, p5 + 400), u'_');
    EXPECT_EQ(U16At(bytes, p5 + 480), 0x0105);
    EXPECT_EQ(static_cast<unsigned char>(bytes[p5 + 482]), 2);
    EXPECT_EQ(static_cast<unsigned char>(bytes[p5 + 483]), 1);
    // Recent lists.
    EXPECT_EQ(U16At(bytes, 11808), u'1');
    EXPECT_EQ(U16At(bytes, 11808 + 4 * 800), u'最');
    EXPECT_EQ(U16At(bytes, 15808 + 2 * 800), u'/');

    const SettingsBlock back = DecodeSettingsBlock(bytes);
    EXPECT_EQ(EncodeSettingsBlock(back), bytes);
    EXPECT_EQ(FieldText(back.profile[23].NamePrefix), u"前缀23");
}

TEST(LoadSettings, MissingFileGetsFirstRunDefaultsAndIsCreated) {
    TempFolder t;
    SettingsStore st;
    st.programFolder = t.Folder();
    LoadSettings(st);
    const auto& s = st.settings;
    EXPECT_EQ(s.profile[0].SiteFlags, SiteFlag::OpenFolderWhenDone);
    EXPECT_EQ(s.profile[7].SiteFlags, 0x0092);
    EXPECT_EQ(s.profile[8].NameMode, 1);
    EXPECT_EQ(s.profile[11].SiteFlags, 0x0012);
    EXPECT_EQ(s.profile[16].SiteFlags, 0x0012);
    EXPECT_EQ(s.profile[17].SiteFlags, 0x0011);
    EXPECT_EQ(FieldText(s.profile[17].NamePrefix), u"?2) ");
    EXPECT_EQ(s.down[18].ThreadCount, 3);
    EXPECT_EQ(s.down[0].ThreadCount, 5);
    EXPECT_EQ(s.down[0].TimeoutSec, 30);
    EXPECT_EQ(fs::file_size(t.dir / "soft.dat"), 19808u);
}

TEST(LoadSettings, ShortOrEmptyFileIsRepairedButGetsNoDefaults) {
    TempFolder t;
    {
        std::ofstream(t.dir / "soft.dat", std::ios::binary);  // 0 bytes
    }
    SettingsStore st;
    st.programFolder = t.Folder();
    LoadSettings(st);
    for (int i = 0; i < kSiteSlots; ++i) {
        EXPECT_EQ(st.settings.profile[i].SiteFlags, 0);
        EXPECT_EQ(st.settings.down[i].ThreadCount, 5);
        EXPECT_EQ(st.settings.down[i].TimeoutSec, 30);
    }
    EXPECT_EQ(fs::file_size(t.dir / "soft.dat"), 19808u);

    // A 10-byte file: thread count 16 and time-out 9 of site 0 repaired, min size kept; site 1's
    // partial entry keeps its first bytes.
    {
        std::ofstream f(t.dir / "soft.dat", std::ios::binary | std::ios::trunc);
        const unsigned char raw[10] = {7, 0, 0, 0, 16, 0, 9, 0, 42, 0};
        f.write(reinterpret_cast<const char*>(raw), sizeof raw);
    }
    LoadSettings(st);
    EXPECT_EQ(st.settings.down[0].MinSizeKB, 7);
    EXPECT_EQ(st.settings.down[0].ThreadCount, 5);
    EXPECT_EQ(st.settings.down[0].TimeoutSec, 30);
    EXPECT_EQ(st.settings.down[1].MinSizeKB, 42);
    EXPECT_EQ(st.settings.profile[0].SiteFlags, 0);
}

TEST(LoadSettings, OversizedGarbageLoadsAndUnwritableFolderIsIgnored) {
    TempFolder t;
    {
        std::ofstream f(t.dir / "soft.dat", std::ios::binary);
        std::string junk(30000, '\xFF');
        f.write(junk.data(), static_cast<std::streamsize>(junk.size()));
    }
    SettingsStore st;
    st.programFolder = t.Folder();
    LoadSettings(st);
    EXPECT_EQ(st.settings.down[0].ThreadCount, 5);     // 0xFFFF > 15
    EXPECT_EQ(st.settings.down[0].TimeoutSec, 65535);  // large time-outs are valid
    EXPECT_EQ(fs::file_size(t.dir / "soft.dat"), 19808u);

    SettingsStore st2;
    st2.programFolder = u"/nonexistent-folder-for-quillmoss-tests/";
    LoadSettings(st2);  // no crash; defaults in memory
    EXPECT_EQ(st2.settings.profile[0].SiteFlags, SiteFlag::OpenFolderWhenDone);
    EXPECT_FALSE(fs::exists("/nonexistent-folder-for-quillmoss-tests"));
}

// A folder under the file's name loads the defaults; the save that cannot replace it says why.
TEST(SaveSettings, FolderInPlaceOfTheFileGivesTheReason) {
    TempFolder t;
    fs::create_directories(t.dir / "soft.dat");
    SettingsStore st;
    st.programFolder = t.Folder();
    LoadSettings(st);
    EXPECT_EQ(st.settings.profile[0].SiteFlags, SiteFlag::OpenFolderWhenDone);
    const auto error = SaveSettings(st);
    ASSERT_TRUE(error.has_value());
    EXPECT_NE(error->find("soft.dat"), std::string::npos);
    fs::remove(t.dir / "soft.dat");
    EXPECT_FALSE(SaveSettings(st).has_value());
}

// Two instances in one program folder, each changing its own fields and saving at once: the file
// ends with every change of both.
TEST(SaveSettings, TwoInstancesMergeTheirChanges) {
    TempFolder t;
    SettingsStore a, b;
    a.programFolder = b.programFolder = t.Folder();
    LoadSettings(a);
    LoadSettings(b);
    auto run = [](SettingsStore& st, bool first) {
        for (int i = 0; i < kSiteSlots; ++i) {
            {
                std::lock_guard<std::mutex> lock(st.settingsMutex);
                if (first)
                    st.settings.down[i].MinSizeKB = static_cast<uint16_t>(100 + i);
                else
                    SetFieldText(st.settings.profile[i].NamePrefix, u"p" + FormatText("%d", i));
                st.settings.profile[i].SiteFlags ^= first ? SiteFlag::FixFormat : SiteFlag::ListOnly;
            }
            EXPECT_FALSE(SaveSettings(st).has_value());
        }
    };
    std::thread ta(run, std::ref(a), true), tb(run, std::ref(b), false);
    ta.join();
    tb.join();
    SettingsStore c;
    c.programFolder = t.Folder();
    LoadSettings(c);
    for (int i = 0; i < kSiteSlots; ++i) {
        EXPECT_EQ(c.settings.down[i].MinSizeKB, 100 + i) << i;
        EXPECT_EQ(FieldText(c.settings.profile[i].NamePrefix), u"p" + FormatText("%d", i)) << i;
        EXPECT_EQ(c.settings.profile[i].SiteFlags & (SiteFlag::FixFormat | SiteFlag::ListOnly),
                  (a.settings.profile[i].SiteFlags & SiteFlag::FixFormat) |
                      (b.settings.profile[i].SiteFlags & SiteFlag::ListOnly))
            << i;
    }
}

TEST(AddRecent, OrderCaseAndLimits) {
    SettingsStore st;
    for (const char16_t* t : {u"1", u"2", u"3", u"4", u"5"}) EXPECT_TRUE(AddRecent(st, 0, t));
    EXPECT_TRUE(AddRecent(st, 0, u"Six"));
    auto list = RecentEntries(st, 0);
    ASSERT_EQ(list.size(), 5u);
    EXPECT_EQ(list[0], u"Six");
    EXPECT_EQ(list[4], u"2");  // "1" dropped
    EXPECT_FALSE(AddRecent(st, 0, u"sIX"));
    EXPECT_EQ(RecentEntries(st, 0)[0], u"Six");
    EXPECT_FALSE(AddRecent(st, 0, Text(400, u'x')));
    EXPECT_TRUE(AddRecent(st, 0, Text(399, u'x')));
    // The save-folder list is separate, and an empty text matches an empty slot.
    EXPECT_FALSE(AddRecent(st, 1, u""));
    EXPECT_TRUE(AddRecent(st, 1, u"/tmp/a/"));
    EXPECT_EQ(RecentEntries(st, 1).size(), 1u);
}
