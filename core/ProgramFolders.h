// Where the program keeps its files. A portable set-up keeps everything in one program folder: the
// one --program-folder or QUILLMOSS_HOME names, or the current directory when it already holds
// soft.dat. Otherwise settings, cookies, the extension INI and Q2.txt go to
// $XDG_CONFIG_HOME/quillmoss/ (default ~/.config/quillmoss/) and the cover cache tmp/ to
// $XDG_CACHE_HOME/quillmoss/ (default ~/.cache/quillmoss/), so that a program started from the
// desktop menu leaves nothing in the home folder.
#pragma once

#include <filesystem>
#include <string>

namespace qm {

struct ProgramFolders {
    std::filesystem::path config;  // soft.dat, cookies.txt, the extension INI, Q2.txt
    std::filesystem::path cache;   // holds the cover cache tmp/
    bool portable = false;         // both are one folder the user chose (or the current directory)
};

// What the choice depends on; empty strings stand for unset variables.
struct ProgramFolderInputs {
    std::string option;          // --program-folder DIR
    std::string quillmossHome;   // QUILLMOSS_HOME
    std::string xdgConfigHome;   // XDG_CONFIG_HOME
    std::string xdgCacheHome;    // XDG_CACHE_HOME
    std::string home;            // HOME
    std::filesystem::path cwd;   // the current directory
};

ProgramFolderInputs ProgramFolderInputsFromEnvironment(const std::string& option);
ProgramFolders ChooseProgramFolders(const ProgramFolderInputs& in);
// Creates the folders (mode 0700 for new ones); false with `error` set when one cannot be made.
bool CreateProgramFolders(const ProgramFolders& folders, std::string& error);

}  // namespace qm
