// Guards for names that become paths: a picture or album-folder name is one path component, fits
// the file system's per-component limit, and the composed path stays inside its folder.
#pragma once

#include <cstddef>
#include <filesystem>

#include "net/StringCtrl.h"

namespace qm {

// Linux keeps at most 255 bytes per path component. Pictures are first written under a temporary
// name (final name + a suffix of up to 40 bytes) and renamed, so the final name leaves that room.
inline constexpr std::size_t kMaxComponentBytes = 255;
inline constexpr std::size_t kTempSuffixRoom = 40;
inline constexpr std::size_t kMaxFileNameBytes = kMaxComponentBytes - kTempSuffixRoom;

// Bytes of the UTF-8 form (an unpaired surrogate counts as the 3 bytes of its replacement).
std::size_t Utf8Length(TextView text);
// The longest prefix of `text` whose UTF-8 form fits `maxBytes`, never splitting a surrogate pair.
Text CutToUtf8Bytes(TextView text, std::size_t maxBytes);
// The first `units` UTF-16 units of `text`, one fewer when that would split a surrogate pair.
Text CutToUnits(TextView text, std::size_t units);
// True for a name that is exactly one harmless path component: not empty, not "." or "..", no
// separator or NUL, within kMaxComponentBytes.
bool IsSafeComponent(TextView name);
// True when `path`, lexically normalised, lies strictly below `folder` (also normalised).
bool IsInsideFolder(const std::filesystem::path& folder, const std::filesystem::path& path);

}  // namespace qm

namespace qm {

// `name` cut, keeping its extension (from the last "."), so that its UTF-8 form fits `maxBytes`.
Text FitFileName(TextView name, std::size_t maxBytes = kMaxFileNameBytes);

}  // namespace qm
