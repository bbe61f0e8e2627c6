#include "core/ProgramFolders.h"

#include <sys/stat.h>

#include <cstdlib>
#include <system_error>

#include "core/Settings.h"
#include "net/FileUtil.h"

namespace qm {

namespace fs = std::filesystem;

namespace {

std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// An XDG base folder: the variable when it holds an absolute path (relative ones are to be
// ignored), else HOME joined with the default.
fs::path XdgBase(const std::string& variable, const std::string& home, const char* fallback) {
    if (!variable.empty() && fs::path(variable).is_absolute()) return fs::path(variable);
    return fs::path(home) / fallback;
}

// Creates the folder and every missing folder above it with mode 0700, as the XDG base folders
// ask ($XDG_CONFIG_HOME or HOME itself may not exist yet).
bool MakeFolder(const fs::path& folder, std::string& error) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) return true;
    fs::path p;
    for (const fs::path& part : folder) {
        p /= part;
        if (p == p.root_path() || fs::is_directory(p, ec)) continue;
        if (::mkdir(p.c_str(), 0700) != 0 && !fs::is_directory(p, ec)) {
            error = "无法创建 " + p.string() + ": " + std::generic_category().message(errno);
            return false;
        }
    }
    return true;
}

}  // namespace

ProgramFolderInputs ProgramFolderInputsFromEnvironment(const std::string& option) {
    ProgramFolderInputs in;
    in.option = option;
    in.quillmossHome = Env("QUILLMOSS_HOME");
    in.xdgConfigHome = Env("XDG_CONFIG_HOME");
    in.xdgCacheHome = Env("XDG_CACHE_HOME");
    in.home = Env("HOME");
    std::error_code ec;
    in.cwd = fs::current_path(ec);
    return in;
}

ProgramFolders ChooseProgramFolders(const ProgramFolderInputs& in) {
    auto portable = [](fs::path p) {
        ProgramFolders f;
        f.config = f.cache = std::move(p);
        f.portable = true;
        return f;
    };
    if (!in.option.empty()) return portable(fs::absolute(in.option));
    if (!in.quillmossHome.empty()) return portable(fs::absolute(in.quillmossHome));
    std::error_code ec;
    if (!in.cwd.empty() && fs::is_regular_file(in.cwd / PathFromText(kSettingsFileName), ec)) return portable(in.cwd);
    // Without HOME nor XDG variables there is nowhere else to go than the current directory.
    if (in.home.empty() && (!fs::path(in.xdgConfigHome).is_absolute() || !fs::path(in.xdgCacheHome).is_absolute()))
        return portable(in.cwd);
    ProgramFolders f;
    f.config = XdgBase(in.xdgConfigHome, in.home, ".config") / "quillmoss";
    f.cache = XdgBase(in.xdgCacheHome, in.home, ".cache") / "quillmoss";
    return f;
}

bool CreateProgramFolders(const ProgramFolders& folders, std::string& error) {
    return MakeFolder(folders.config, error) && MakeFolder(folders.cache, error);
}

}  // namespace qm
