// The settings of one program run: the settings block of soft.dat under its own lock, the current
// site and the program folder. The window's menus and dialogs write while jobs take snapshots.
#pragma once

#include <mutex>
#include <string>

#include "core/JobRequests.h"
#include "core/SettingsBlock.h"

namespace qm {

struct SettingsStore {
    Text programFolder;  // ends with a separator
    Text cacheFolder;    // the cover cache's parent folder (ends with a separator)

    // Hold settingsMutex for every read and write of `settings` and `currentSite`.
    mutable std::mutex settingsMutex;
    SettingsBlock settings;
    // `settings` as of this store's last read or write of soft.dat (encoded): the base of a merge.
    std::string settingsBase;
    int currentSite = 0;

    SiteProfile Profile() const {
        std::lock_guard<std::mutex> lock(settingsMutex);
        return settings.profile[static_cast<std::size_t>(currentSite)];
    }
    DownParam Down() const {
        std::lock_guard<std::mutex> lock(settingsMutex);
        return settings.down[static_cast<std::size_t>(currentSite)];
    }
    SettingsSnapshot Snapshot() const {
        std::lock_guard<std::mutex> lock(settingsMutex);
        const auto site = static_cast<std::size_t>(currentSite);
        return SettingsSnapshot{settings.profile[site], settings.down[site], currentSite};
    }
};

}  // namespace qm
