// Linked into every test program: before any test runs, HOME, XDG_CONFIG_HOME, XDG_CACHE_HOME and
// XDG_DATA_HOME point into a fresh temporary folder of this process, removed when it ends. A test
// that forgets to name its own folders then writes there, never into the developer's home, and
// never depends on the developer's own settings.
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <string>

namespace {

class IsolatedHome {
public:
    IsolatedHome() {
        std::error_code ec;
        root_ = std::filesystem::temp_directory_path(ec) / ("qm-home-" + std::to_string(::getpid()));
        std::filesystem::remove_all(root_, ec);
        std::filesystem::create_directories(root_ / ".config", ec);
        std::filesystem::create_directories(root_ / ".cache", ec);
        std::filesystem::create_directories(root_ / ".local/share", ec);
        ::setenv("HOME", root_.c_str(), 1);
        ::setenv("XDG_CONFIG_HOME", (root_ / ".config").c_str(), 1);
        ::setenv("XDG_CACHE_HOME", (root_ / ".cache").c_str(), 1);
        ::setenv("XDG_DATA_HOME", (root_ / ".local/share").c_str(), 1);
    }
    ~IsolatedHome() {
        std::error_code ec;
        if (owner_ == ::getpid()) std::filesystem::remove_all(root_, ec);  // not from a forked child
    }

private:
    std::filesystem::path root_;
    pid_t owner_ = ::getpid();
};

const IsolatedHome kHome;

}  // namespace
