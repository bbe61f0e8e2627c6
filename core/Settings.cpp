#include "core/Settings.h"

#include <cerrno>
#include <cstring>

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

template <class T>
void TakeIfChanged(T& merged, const T& ours, const T& base) {
    if (!(ours == base)) merged = ours;
}

// The file's block with every field this state changed since `base` set to this state's value.
// Each recent list counts as one field, so a list is never a mixture of two instances' lists.
SettingsBlock MergeChangedFields(SettingsBlock merged, const SettingsBlock& ours, const SettingsBlock& base) {
    for (std::size_t i = 0; i < merged.down.size(); ++i) {
        TakeIfChanged(merged.down[i].MinSizeKB, ours.down[i].MinSizeKB, base.down[i].MinSizeKB);
        TakeIfChanged(merged.down[i].MaxSizeKB, ours.down[i].MaxSizeKB, base.down[i].MaxSizeKB);
        TakeIfChanged(merged.down[i].ThreadCount, ours.down[i].ThreadCount, base.down[i].ThreadCount);
        TakeIfChanged(merged.down[i].TimeoutSec, ours.down[i].TimeoutSec, base.down[i].TimeoutSec);
    }
    for (std::size_t i = 0; i < merged.profile.size(); ++i) {
        SiteProfile& m = merged.profile[i];
        const SiteProfile &o = ours.profile[i], &b = base.profile[i];
        TakeIfChanged(m.NamePrefix, o.NamePrefix, b.NamePrefix);
        TakeIfChanged(m.NameSuffix, o.NameSuffix, b.NameSuffix);
        TakeIfChanged(m.ReplaceFrom, o.ReplaceFrom, b.ReplaceFrom);
        TakeIfChanged(m.ReplaceTo, o.ReplaceTo, b.ReplaceTo);
        TakeIfChanged(m.FolderPrefix, o.FolderPrefix, b.FolderPrefix);
        TakeIfChanged(m.FolderSuffix, o.FolderSuffix, b.FolderSuffix);
        // Option bits one by one: two instances may each have switched a different option.
        m.SiteFlags = static_cast<uint16_t>((m.SiteFlags & ~(o.SiteFlags ^ b.SiteFlags)) |
                                            (o.SiteFlags & (o.SiteFlags ^ b.SiteFlags)));
        TakeIfChanged(m.NameMode, o.NameMode, b.NameMode);
        TakeIfChanged(m.FolderMode, o.FolderMode, b.FolderMode);
    }
    TakeIfChanged(merged.RecentTargets, ours.RecentTargets, base.RecentTargets);
    TakeIfChanged(merged.RecentSavePaths, ours.RecentSavePaths, base.RecentSavePaths);
    return merged;
}

}  // namespace

void LoadSettings(SettingsStore& st) {
    std::string bytes;
    bool existed = false;
    {
        FolderLock lock(PathFromText(st.programFolder));
        existed = ReadWholeFile(SettingsPath(st), bytes);
    }
    SettingsBlock block = DecodeSettingsBlock(existed ? std::string_view(bytes) : std::string_view());
    for (auto& d : block.down) {
        if (d.ThreadCount == 0 || d.ThreadCount > 15) d.ThreadCount = 5;
        if (d.TimeoutSec < 10) d.TimeoutSec = 30;
    }
    if (!existed) ApplyFirstRunDefaults(block);
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.settings = block;
        // Repairs and defaults count as this state's own changes, to be written.
        st.settingsBase = existed ? bytes : std::string();
    }
    SaveSettings(st);
}

std::optional<std::string> SaveSettings(SettingsStore& st) {
    FolderLock folderLock(PathFromText(st.programFolder));
    std::string current;
    const bool exists = ReadWholeFile(SettingsPath(st), current);
    std::string bytes, ours;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        ours = EncodeSettingsBlock(st.settings);
        // The file may hold another instance's changes: they stay where this state made none.
        bytes = exists ? EncodeSettingsBlock(MergeChangedFields(DecodeSettingsBlock(current), st.settings,
                                                                DecodeSettingsBlock(st.settingsBase)))
                       : ours;
    }
    if (!exists || bytes != current) {
        if (!WriteFileAtomic(SettingsPath(st), bytes))
            return ToUtf8(st.programFolder + kSettingsFileName) + ": " + std::strerror(errno);
    }
    std::lock_guard<std::mutex> lock(st.settingsMutex);
    st.settingsBase = std::move(ours);
    return std::nullopt;
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
