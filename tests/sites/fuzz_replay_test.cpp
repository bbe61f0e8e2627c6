// Replays the saved fuzz inputs of the fetchers (seeds and the inputs of faults found) through the
// loopback answer server, as the fetcher fuzzer does; a broken promise (a name or a folder outside
// the save folder, a file written elsewhere) is a test failure naming the input.
#include <gtest/gtest.h>

#include <filesystem>

#include "FileText.h"
#include "fuzz/FetcherTarget.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(FuzzReplay, EverySavedFetcherInput) {
    fuzz::BrokenPromiseHandler() = [](const char* file, int line, const char* promise) {
        ADD_FAILURE_AT(file, line) << "broken promise: " << promise;
    };
    const fs::path root = fs::path(QM_TEST_DATA).parent_path() / "fuzz";
    int n = 0;
    const unsigned long before = fuzz::ChecksRun().load();
    for (const char* kind : {"seeds", "regress"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root / kind / "fetchers", ec)) {
            if (!e.is_regular_file()) continue;
            const std::string bytes = test::FileText(e.path());
            SCOPED_TRACE(e.path().string());
            fuzz::FuzzFetchers(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++n;
        }
    }
    EXPECT_GT(n, 0);
    EXPECT_GE(fuzz::ChecksRun().load() - before, static_cast<unsigned long>(n));  // every input reached a promise
    fuzz::BrokenPromiseHandler() = nullptr;
    SetConnectTo("");
    std::error_code ec;
    fs::remove_all(fuzz::ScratchFolder(), ec);
}

}  // namespace
}  // namespace qm
