// Loading and saving the settings block (soft.dat in the program folder), and the recent lists.
#pragma once

#include <optional>
#include <string>

#include <vector>

#include "core/SettingsStore.h"

namespace qm {

inline constexpr char16_t kSettingsFileName[] = u"soft.dat";

// Fills st.settings from soft.dat with the repairs and first-run defaults, then saves it. A soft.dat
// that cannot be read (a folder, say) counts as missing.
void LoadSettings(SettingsStore& st);
// Writes st.settings atomically. Another instance may share the program folder: under an advisory
// lock on it, the file is read again and only the fields this state changed since it last read or
// wrote the file are put into it, so that instance's changes are kept. Returns the system's reason
// when the file cannot be written (the settings then last until exit).
std::optional<std::string> SaveSettings(SettingsStore& st);
// list 0: RecentTargets, 1: RecentSavePaths. True when the text was added (newest first).
bool AddRecent(SettingsStore& st, int list, TextView text);
// Non-empty recent entries, slot 0 first.
std::vector<Text> RecentEntries(SettingsStore& st, int list);

}  // namespace qm
