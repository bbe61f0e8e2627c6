// A scratch save folder and an AppState wired to a recording front end, for the engine's tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "RecordingFrontend.h"
#include "core/AppState.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"

namespace qm::test {

class TempDir {
public:
    explicit TempDir(const std::string& tail = {}) {
        static std::atomic<unsigned> counter{0};
        path_ = std::filesystem::temp_directory_path() /
                ("qm-dl-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + tail);
        std::filesystem::create_directories(path_);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

struct Engine {
    explicit Engine(const std::string& tail = {}) : dir(tail) {
        base = TextFromPath(dir.path()) + u"/";
        st.task.albumFolder = base;
        st.DownloadJobState.store(DownloadRunning);
    }
    SiteProfile& prof() { return st.settings.profile[0]; }
    // Appends an album record and returns its index.
    int Album(const Text& name, const Text& extra = {}) {
        ST_PERLISTRECORD r;
        r.Name = name;
        r.ExtraText1 = extra;
        return static_cast<int>(st.albums.AppendRecord(r)) - 1;
    }
    // Starts the next album the way the controller does.
    void NextAlbum() {
        st.task.Clear();
        st.task.albumFolder = base;
        st.DownloadJobState.store(DownloadRunning);
    }
    std::vector<Text> Names() const { return st.task.fileNames; }

    TempDir dir;
    Text base;
    RecordingFrontend fe;
    AppState st{fe};
};

inline std::string ReadFile(const std::filesystem::path& p) {
    std::string s;
    ReadWholeFile(p, s);
    return s;
}

}  // namespace qm::test
