#include "net/SafeFolder.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace qm {

namespace fs = std::filesystem;

namespace {
// True when `path` is `folder` or lies below it (both already resolved).
bool SameOrBelow(const fs::path& folder, const fs::path& path) {
    auto pi = path.begin();
    for (auto fi = folder.begin(); fi != folder.end(); ++fi, ++pi) {
        if (fi->empty()) continue;
        if (pi == path.end() || *fi != *pi) return false;
    }
    return true;
}
}  // namespace

bool MakeFolderInside(const fs::path& root, const fs::path& relative, std::string& why) {
    std::error_code ec;
    const fs::path realRoot = fs::canonical(root, ec);
    if (ec) {
        why = "the save folder \"" + root.string() + "\" cannot be used: " + ec.message();
        return false;
    }
    fs::path current = root;
    for (const fs::path& part : relative) {
        if (part.empty() || part == ".") continue;
        if (part == ".." || part.is_absolute() || part == "/") {
            why = "\"" + relative.string() + "\" climbs out of the save folder";
            return false;
        }
        current /= part;
        fs::file_status status = fs::symlink_status(current, ec);
        if (status.type() == fs::file_type::not_found) {
            if (::mkdir(current.c_str(), 0777) != 0 && errno != EEXIST) {
                why = "cannot create \"" + current.string() + "\": " + std::strerror(errno);
                return false;
            }
            status = fs::symlink_status(current, ec);
        }
        if (fs::is_symlink(status)) {
            const fs::path real = fs::canonical(current, ec);
            if (ec || !SameOrBelow(realRoot, real)) {
                why = "\"" + current.string() + "\" is a symbolic link leading out of the save folder";
                return false;
            }
            status = fs::status(real, ec);
        }
        if (!fs::is_directory(status)) {
            why = "\"" + current.string() + "\" is not a folder";
            return false;
        }
    }
    return true;
}

}  // namespace qm
