#include "core/Settings.h"

#include "net/FileUtil.h"

namespace qm {

namespace {

std::filesystem::path SettingsPath(const SettingsStore& st) {
    return PathFromText(st.programFolder + kSettingsFileName);
}

// Case-insensitive equality for the recent lists (ASCII and Latin letters fold; CJK has no case).
char16_t Fold(char16_t c) {
    if (c >= u'A' && c <= u'Z') return static_cast<char16_t>(c + 32);
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7) return static_cast<char16_t>(c + 32);
    if (c >= 0xFF21 && c <= 0xFF3A) return static_cast<char16_t>(c + 32);  // full-width letters
    return c;
}

bool EqualNoCase(TextView a, TextView b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (Fold(a[i]) != Fold(b[i])) return false;
    return true;
}

void ApplyFirstRunDefaults(SettingsBlock& b) {
    for (auto& p : b.profile) p.SiteFlags = SiteFlag::OpenFolderWhenDone;
    b.profile[7].SiteFlags |= 0x0082;
    b.profile[8].NameMode = 1;
    b.profile[11].SiteFlags |= SiteFlag::FixOrder;
    b.profile[16].SiteFlags |= SiteFlag::FixOrder;
    b.profile[17].SiteFlags |= SiteFlag::FixFormat;
    SetFieldText(b.profile[17].NamePrefix, u"?2) ");
    b.down[18].ThreadCount = 3;
}

}  // namespace

void LoadSettings(SettingsStore& st) {
    std::string bytes;
    const bool existed = ReadWholeFile(SettingsPath(st), bytes);
    SettingsBlock block = DecodeSettingsBlock(existed ? std::string_view(bytes) : std::string_view());
    for (auto& d : block.down) {
        if (d.ThreadCount == 0 || d.ThreadCount > 15) d.ThreadCount = 5;
        if (d.TimeoutSec < 10) d.TimeoutSec = 30;
    }
    if (!existed) ApplyFirstRunDefaults(block);
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.settings = block;
    }
    SaveSettings(st);
}

void SaveSettings(SettingsStore& st) {
    std::string bytes;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        bytes = EncodeSettingsBlock(st.settings);
    }
    WriteFileAtomic(SettingsPath(st), bytes);  // a failure is ignored: settings last until exit
}

bool AddRecent(SettingsStore& st, int list, TextView text) {
    if (text.size() >= kRecentChars) return false;
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    auto& slots = list == 0 ? st.settings.RecentTargets : st.settings.RecentSavePaths;
    for (const auto& s : slots)
        if (EqualNoCase(FieldText(s), text)) return false;
    for (int i = kRecentSlots - 1; i > 0; --i) slots[i] = slots[i - 1];
    SetFieldText(slots[0], text);
    return true;
}

std::vector<Text> RecentEntries(SettingsStore& st, int list) {
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    const auto& slots = list == 0 ? st.settings.RecentTargets : st.settings.RecentSavePaths;
    std::vector<Text> out;
    for (const auto& s : slots) {
        Text t = FieldText(s);
        if (!t.empty()) out.push_back(std::move(t));
    }
    return out;
}

}  // namespace qm
