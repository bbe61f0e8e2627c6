// Replays every saved fuzz input (seeds and the inputs of faults found) through the same targets the
// fuzzers run, so a fault once found stays fixed in the ordinary build. Each target checks the
// promises of the code it drives; a broken one is a test failure naming the input.
#include <gtest/gtest.h>

#include <filesystem>

#include "FileText.h"
#include "fuzz/FuzzTargets.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

using Target = void (*)(const uint8_t*, std::size_t);

class FuzzReplay : public ::testing::Test {
protected:
    void SetUp() override {
        fuzz::BrokenPromiseHandler() = [](const char* file, int line, const char* promise) {
            ADD_FAILURE_AT(file, line) << "broken promise: " << promise;
        };
    }
    void TearDown() override {
        fuzz::BrokenPromiseHandler() = nullptr;
        std::error_code ec;
        fs::remove_all(fuzz::ScratchFolder(), ec);
    }
    // Runs `target` over `bytes`; the number of promises it checked.
    static unsigned long Run(Target target, const std::string& bytes) {
        const unsigned long before = fuzz::ChecksRun().load();
        target(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
        return fuzz::ChecksRun().load() - before;
    }
    // Replays the saved inputs of one target (tests/fuzz/seeds/<name>/*, tests/fuzz/regress/<name>/*);
    // the number of inputs, and the promises they checked in `checks`.
    static int Replay(const std::string& name, Target target, unsigned long& checks) {
        const fs::path root = fs::path(QM_TEST_DATA).parent_path() / "fuzz";
        int n = 0;
        for (const char* kind : {"seeds", "regress"}) {
            std::error_code ec;
            for (const auto& e : fs::directory_iterator(root / kind / name, ec)) {
                if (!e.is_regular_file()) continue;
                SCOPED_TRACE(e.path().string());
                checks += Run(target, test::FileText(e.path()));
                ++n;
            }
        }
        return n;
    }
};

TEST_F(FuzzReplay, EverySavedInputOfTheOfflineTargets) {
    // The body-text and INI targets promise only to return (no crash, no sanitizer report); the
    // others check what the code promises for every input.
    const struct {
        const char* name;
        Target target;
        bool checks;
    } targets[] = {{"text_utils", &fuzz::FuzzTextUtils, true},
                   {"body_text", &fuzz::FuzzBodyText, false},
                   {"ini", &fuzz::FuzzIni, false},
                   {"settings", &fuzz::FuzzSettings, true},
                   {"names", &fuzz::FuzzNames, true}};
    for (const auto& t : targets) {
        unsigned long checks = 0;
        EXPECT_GT(Replay(t.name, t.target, checks), 0) << t.name << " has no saved input";
        if (t.checks) {
            EXPECT_GT(checks, 0u) << t.name << " checked nothing";
        }
    }
}

// Inputs that are not in any file: the empty input and lone separators reach every target, and the
// promises hold for them too.
TEST_F(FuzzReplay, DegenerateInputs) {
    const std::string bytes("\x80\x01\x01\xFF", 4);
    unsigned long checks = 0;
    for (Target t : {&fuzz::FuzzTextUtils, &fuzz::FuzzBodyText, &fuzz::FuzzIni, &fuzz::FuzzSettings, &fuzz::FuzzNames})
        for (std::size_t size : {std::size_t{0}, std::size_t{1}, bytes.size()}) checks += Run(t, bytes.substr(0, size));
    EXPECT_GT(checks, 0u);
}

}  // namespace
}  // namespace qm
