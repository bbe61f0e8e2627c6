// A fresh folder under the system's temporary folder, removed with everything in it when the test
// ends, whether it passed or failed (the destructor runs when an assertion returns early).
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::test {

class TempFolder {
public:
    // The folder's name is `prefix`, the process and a counter, then `suffix` (a test of long paths
    // may want a long name).
    explicit TempFolder(const std::string& prefix = "qm-test-", const std::string& suffix = {}) {
        static std::atomic<int> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                (prefix + std::to_string(::getpid()) + "-" + std::to_string(counter++) + suffix);
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // Names of the entries in the folder, sorted (to see that no temporary file was left behind).
    std::vector<std::string> Names() const {
        std::vector<std::string> out;
        for (const auto& e : std::filesystem::directory_iterator(path_)) out.push_back(e.path().filename().string());
        std::sort(out.begin(), out.end());
        return out;
    }

private:
    std::filesystem::path path_;
};

}  // namespace qm::test
