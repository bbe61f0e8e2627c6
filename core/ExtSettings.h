// Values of the user-editable extension settings file "下载器扩展设置.ini" (read only).
#pragma once

#include <cstdint>

#include "net/StringCtrl.h"

namespace qm {

inline constexpr char16_t kExtSettingsFileName[] = u"下载器扩展设置.ini";

struct ExtSettings {
    uint8_t V2Charset = 0;
    uint8_t V3Charset = 0;
    uint8_t OriginalNameMode = 1;
    uint8_t MoodDownloadMode = 0;
    uint8_t PriceInName = 0;
    int32_t PriceDelta = 0;
    uint8_t InstagramMode = 1;
    uint8_t JdMode = 1;
    // The largest film of a video item that is downloaded, in MiB; 0: no limit. MaxSizeKB is for
    // pictures and does not apply to films.
    uint32_t FilmMaxMB = 0;
};

// Reads program folder + the file name; defaults for a missing file or key.
ExtSettings ReadExtSettings(const Text& programFolder);

}  // namespace qm
