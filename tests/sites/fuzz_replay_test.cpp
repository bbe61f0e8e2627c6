// Replays the saved fuzz inputs of the fetchers (seeds and the inputs of faults found) through the
// loopback answer server, as the fetcher fuzzer does.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "fuzz/FetcherTarget.h"

namespace qm {
namespace {

namespace fs = std::filesystem;

TEST(FuzzReplay, EverySavedFetcherInput) {
    const fs::path root = fs::path(QM_TEST_DATA).parent_path() / "fuzz";
    int n = 0;
    for (const char* kind : {"seeds", "regress"}) {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(root / kind / "fetchers", ec)) {
            if (!e.is_regular_file()) continue;
            std::ifstream f(e.path(), std::ios::binary);
            const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
            SCOPED_TRACE(e.path().string());
            fuzz::FuzzFetchers(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
            ++n;
        }
    }
    EXPECT_GT(n, 0);
    SetConnectTo("");
    std::error_code ec;
    fs::remove_all(fuzz::ScratchFolder(), ec);
}

}  // namespace
}  // namespace qm
