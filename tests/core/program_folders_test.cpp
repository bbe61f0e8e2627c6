// Where the program keeps its files: a portable folder when one is named or the current directory
// already holds soft.dat, else the XDG folders (relative XDG values are ignored, as the XDG rules say).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TempFolder.h"
#include "core/ProgramFolders.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(ProgramFolders, PortableWhenNamedOrWhenTheCurrentDirectoryHoldsSettings) {
    const test::TempFolder folder("qm-folders-");
    const fs::path& cwd = folder.path();
    ProgramFolderInputs in;
    in.cwd = cwd;
    in.home = "/home/u";
    in.xdgConfigHome = "/x/config";
    ProgramFolders f = ChooseProgramFolders(in);
    EXPECT_FALSE(f.portable);
    EXPECT_EQ(f.config, fs::path("/x/config/quillmoss"));
    EXPECT_EQ(f.cache, fs::path("/home/u/.cache/quillmoss"));

    in.xdgConfigHome = "relative/config";  // ignored
    in.xdgCacheHome = "/x/cache";
    f = ChooseProgramFolders(in);
    EXPECT_EQ(f.config, fs::path("/home/u/.config/quillmoss"));
    EXPECT_EQ(f.cache, fs::path("/x/cache/quillmoss"));

    std::ofstream(cwd / "soft.dat") << "x";
    f = ChooseProgramFolders(in);
    EXPECT_TRUE(f.portable);
    EXPECT_EQ(f.config, cwd);
    EXPECT_EQ(f.cache, cwd);

    in.quillmossHome = "/q/home";
    EXPECT_EQ(ChooseProgramFolders(in).config, fs::path("/q/home"));
    in.option = "/q/option";  // the option wins over the variable
    f = ChooseProgramFolders(in);
    EXPECT_TRUE(f.portable);
    EXPECT_EQ(f.config, fs::path("/q/option"));
}

// $XDG_CONFIG_HOME (or HOME) naming folders that do not exist yet: every missing folder is made,
// each with mode 0700.
TEST(ProgramFolders, MissingXdgFoldersAreCreatedPrivate) {
    const test::TempFolder folder("qm-xdg-");
    const fs::path& root = folder.path();
    ProgramFolderInputs in;
    in.home = (root / "home").string();
    in.xdgConfigHome = (root / "fresh" / "config").string();
    const ProgramFolders f = ChooseProgramFolders(in);
    std::string error;
    ASSERT_TRUE(CreateProgramFolders(f, error)) << error;
    for (const fs::path& p : {root / "fresh", root / "fresh" / "config", f.config, root / "home", f.cache}) {
        SCOPED_TRACE(p.string());
        ASSERT_TRUE(fs::is_directory(p));
        EXPECT_EQ(fs::status(p).permissions() & fs::perms::all, fs::perms::owner_all);
    }
}

}  // namespace
}  // namespace qm
