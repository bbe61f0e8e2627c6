// Loading and saving the settings block (soft.dat in the program folder), and the recent lists.
#pragma once

#include "core/AppState.h"

namespace qm {

inline constexpr char16_t kSettingsFileName[] = u"soft.dat";

// Fills st.settings from soft.dat with the repairs and first-run defaults, then saves it.
void LoadSettings(AppState& st);
// Writes st.settings atomically; failures are ignored (settings then last until exit).
void SaveSettings(AppState& st);
// list 0: RecentTargets, 1: RecentSavePaths. True when the text was added (newest first).
bool AddRecent(AppState& st, int list, TextView text);
// Non-empty recent entries, slot 0 first.
std::vector<Text> RecentEntries(AppState& st, int list);

}  // namespace qm
