// File-system edges: UTF-16 text to native paths, and atomic writes (temporary file in the same
// folder, then rename), so a crash or a full disk never leaves a half-written file under its name.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "net/StringCtrl.h"

namespace qm {

std::filesystem::path PathFromText(TextView text);
Text TextFromPath(const std::filesystem::path& path);

// Writes `data` to `target` through "<target>.<random>.tmp" + fsync + rename. `mode` (e.g. 0600)
// applies when not 0. Returns false, leaving any old file untouched, when anything fails.
bool WriteFileAtomic(const std::filesystem::path& target, std::string_view data, unsigned mode = 0);

// Reads a whole file; false when it cannot be opened.
bool ReadWholeFile(const std::filesystem::path& path, std::string& out);

}  // namespace qm
