// Folders below a trusted root (the save folder) that stay below it: no component may be a
// symbolic link whose real location lies elsewhere, so nothing is ever written through one.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

// Makes `root`/`relative` one component at a time. A component that already exists must be a
// folder, or a symbolic link to a folder whose real location lies inside `root`'s. On refusal,
// nothing is created below the offending component and `why` says which one and why (UTF-8).
// `root` itself must exist; it is trusted as it is (the user chose it).
bool MakeFolderInside(const std::filesystem::path& root, const std::filesystem::path& relative,
                      std::string& why);

}  // namespace qm
