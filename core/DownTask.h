// The task list of the album being downloaded, and the worker state shared by the download
// manager, its workers, the controller and the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "net/StringCtrl.h"

namespace qm {

struct ST_DOWNTASK {
    std::vector<Text> urls;       // one address, or main + "\r\n" + alternate
    std::vector<Text> fileNames;  // relative to albumFolder
    std::vector<Text> headers;    // extra request header lines per picture; may be empty as a whole
    Text albumFolder;             // ends with a separator
    Text historyAddress;          // the album's history address, loaded at its first picture

    void Clear() {
        urls.clear();
        fileNames.clear();
        headers.clear();
        historyAddress.clear();
    }
};

struct WorkerParams {
    std::atomic<int> ThreadCount{5};
    std::atomic<int> TimeoutSec{30};
    std::atomic<int> MinSizeKB{0};
    std::atomic<int> MaxSizeKB{0};
};

}  // namespace qm
