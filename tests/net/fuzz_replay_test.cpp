// Replays every saved fuzz input (seeds and the inputs of faults found) through the same targets the
// fuzzers run, so a fault once found stays fixed in the ordinary build.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/FuzzTargets.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

using Target = void (*)(const uint8_t*, std::size_t);

// The saved inputs of one target: tests/fuzz/seeds/<name>/* and tests/fuzz/regress/<name>/*.
std::vector<fs::path> Inputs(const std::string& name) {
    std::vector<fs::path> out;
    const fs::path root = fs::path(QM_TEST_DATA).parent_path() / "fuzz";
    for (const char* kind : {"seeds", "regress"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root / kind / name, ec))
            if (e.is_regular_file()) out.push_back(e.path());
    }
    return out;
}

int Replay(const std::string& name, Target target) {
    int n = 0;
    for (const fs::path& p : Inputs(name)) {
        std::ifstream f(p, std::ios::binary);
        const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
        SCOPED_TRACE(p.string());
        target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        ++n;
    }
    return n;
}

TEST(FuzzReplay, EverySavedInputOfTheOfflineTargets) {
    EXPECT_GT(Replay("text_utils", &fuzz::FuzzTextUtils), 0);
    EXPECT_GT(Replay("body_text", &fuzz::FuzzBodyText), 0);
    EXPECT_GT(Replay("ini", &fuzz::FuzzIni), 0);
    EXPECT_GT(Replay("settings", &fuzz::FuzzSettings), 0);
    EXPECT_GT(Replay("names", &fuzz::FuzzNames), 0);
    std::error_code ec;
    fs::remove_all(fuzz::ScratchFolder(), ec);
}

// Inputs that are not in any file: the empty input and lone separators reach every target.
TEST(FuzzReplay, DegenerateInputs) {
    const uint8_t bytes[] = {0x80, 0x01, 0x01, 0xFF};
    for (Target t : {&fuzz::FuzzTextUtils, &fuzz::FuzzBodyText, &fuzz::FuzzIni, &fuzz::FuzzSettings, &fuzz::FuzzNames}) {
        t(bytes, 0);
        t(bytes, 1);
        t(bytes, sizeof bytes);
    }
    std::error_code ec;
    fs::remove_all(fuzz::ScratchFolder(), ec);
}

}  // namespace
}  // namespace qm
