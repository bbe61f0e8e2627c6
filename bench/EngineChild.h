// The download engine as the benchmarks time it: called in a forked child, it fetches every address
// into `folder` with 15 transfers (file k named "p<firstNumber + k>.jpg") and ends the process.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "bench/SilentObserver.h"
#include "net/Clock.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"
#include "net/URLSource2.h"

namespace qm::bench {

[[noreturn]] inline void DownloadAndExit(const std::vector<std::string>& addresses,
                                         const std::filesystem::path& folder, int firstNumber) {
    SilentObserver observer;
    DownloadState st(observer, SystemClock());
    st.task.albumFolder = TextFromPath(folder) + u"/";
    for (std::size_t k = 0; k < addresses.size(); ++k) {
        PictureRef picture;
        picture.main = FromUtf8(addresses[k]);
        st.task.pictures.push_back(std::move(picture));
        st.task.fileNames.push_back(
            FromUtf8("p" + std::to_string(firstNumber + static_cast<int>(k)) + ".jpg"));
    }
    st.worker.ThreadCount.store(15);
    st.worker.TimeoutSec.store(30);
    std::thread manager;
    if (!StartDownloadManager(st, manager)) std::_Exit(1);
    manager.join();
    std::_Exit(0);
}

}  // namespace qm::bench
