// The bounded reader of a regular file that album.json and moods.json are read through: a link
// planted under the name, a pipe, a folder or an oversized file is refused, never followed, waited
// on or swallowed.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "TempFolder.h"
#include "net/FileUtil.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(ReadRegularFile, ReadsAPlainFileUpToItsCapAndRefusesEverythingElse) {
    test::TempFolder temp("qm-regular-file-");
    const fs::path dir = temp.path();
    std::ofstream(dir / "plain.json") << "{\"a\":1}";
    std::string text = "untouched";

    ASSERT_TRUE(ReadRegularFile(dir / "plain.json", text, 7, false));
    EXPECT_EQ(text, "{\"a\":1}");
    // One byte over the cap: refused, and what the caller held stays.
    text = "untouched";
    EXPECT_FALSE(ReadRegularFile(dir / "plain.json", text, 6, false));
    EXPECT_EQ(text, "untouched");

    // A link to a file outside: only followed when asked.
    fs::create_symlink(dir / "plain.json", dir / "link.json");
    EXPECT_FALSE(ReadRegularFile(dir / "link.json", text, 1024, false));
    EXPECT_TRUE(ReadRegularFile(dir / "link.json", text, 1024, true));

    // A pipe under the name is refused at once (no writer would ever come), as is a folder or nothing.
    ASSERT_EQ(::mkfifo((dir / "pipe.json").c_str(), 0600), 0);
    EXPECT_FALSE(ReadRegularFile(dir / "pipe.json", text, 1024, true));
    fs::create_directory(dir / "folder.json");
    EXPECT_FALSE(ReadRegularFile(dir / "folder.json", text, 1024, true));
    EXPECT_FALSE(ReadRegularFile(dir / "missing.json", text, 1024, true));
}

}  // namespace
}  // namespace qm
