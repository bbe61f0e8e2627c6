// Loading and saving the settings block (soft.dat in the program folder), and the recent lists.
#pragma once

#include <vector>

#include "core/SettingsStore.h"

namespace qm {

inline constexpr char16_t kSettingsFileName[] = u"soft.dat";

// Fills st.settings from soft.dat with the repairs and first-run defaults, then saves it.
void LoadSettings(SettingsStore& st);
// Writes st.settings atomically; failures are ignored (settings then last until exit).
void SaveSettings(SettingsStore& st);
// list 0: RecentTargets, 1: RecentSavePaths. True when the text was added (newest first).
bool AddRecent(SettingsStore& st, int list, TextView text);
// Non-empty recent entries, slot 0 first.
std::vector<Text> RecentEntries(SettingsStore& st, int list);

}  // namespace qm
