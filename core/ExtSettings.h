// Values of the user-editable extension settings file "下载器扩展设置.ini". The program reads it,
// and writes only its own switches into it (the user's other lines stay as they are).
#pragma once

#include <cstdint>
#include <optional>
#include <string>

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
    // [下载] 保留拍摄时间: a saved picture takes its shoot time as its file time (1, the default).
    bool KeepShootTime = true;
};

inline constexpr char16_t kDownloadSection[] = u"下载";
inline constexpr char16_t kKeepShootTimeKey[] = u"保留拍摄时间";

// Reads program folder + the file name; defaults for a missing file or key.
ExtSettings ReadExtSettings(const Text& programFolder);

// Sets `key` of `section` to `value` in the program folder's extension settings file: the key's
// line is replaced (or added to its section, or the section to the end of the file), every other
// line and the file's encoding stay as they are; a new file is UTF-8 with a byte-order mark. The
// file is replaced in one step. Returns the system's reason when it cannot be written.
std::optional<std::string> WriteExtSetting(const Text& programFolder, TextView section, TextView key,
                                           TextView value);

}  // namespace qm
