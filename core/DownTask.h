// The task list of the album being downloaded, and the worker state shared by the download
// manager, its workers, the controller and the window.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "core/NameRegistry.h"
#include "core/Outcome.h"
#include "net/StringCtrl.h"

namespace qm {

struct ST_DOWNTASK {
    std::vector<Text> urls;       // one address, or main + "\r\n" + alternate
    std::vector<Text> fileNames;  // relative to albumFolder
    std::vector<Text> headers;    // extra request header lines per picture; may be empty as a whole
    Text albumFolder;             // ends with a separator
    Text historyAddress;          // the album's history address, loaded at its first picture
    Text saveFolder;              // the folder nothing may be written outside of (kept by Clear)

    bool folderReady = false;  // the album folder was made (at the album's first picture)
    NameRegistry names;        // fileNames, for the duplicate check
    std::string titleList;     // the title list file's bytes, written once the album is listed
    // One flag per entry, set by its worker when the picture was saved (main or alternate address).
    std::vector<uint8_t> saved;
    std::size_t dropped = 0;  // pictures the naming could not place, so never queued
    // Set when the album was refused as a whole (its folder leads out of the save folder); nothing
    // of it is queued or written.
    Failure refused;

    void Clear() {
        urls.clear();
        fileNames.clear();
        headers.clear();
        historyAddress.clear();
        folderReady = false;
        names.Clear();
        titleList.clear();
        saved.clear();
        dropped = 0;
        refused = Failure{};
    }
};

struct WorkerParams {
    std::atomic<int> ThreadCount{5};
    std::atomic<int> TimeoutSec{30};
    std::atomic<int> MinSizeKB{0};
    std::atomic<int> MaxSizeKB{0};
};

}  // namespace qm
