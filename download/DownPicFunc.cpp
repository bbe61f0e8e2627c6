// The download manager of one album and its workers: up to ThreadCount pictures at once, one
// thread per picture, progress in the status line, the completion call at the end.
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <optional>
#include <system_error>
#include <vector>

#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "net/URLSource2.h"

namespace qm {

namespace {

// The picture host of the Topit site is recognised by its domain word between two dots.
constexpr TextView kTopitHostWord = u".topit.";
// A first answer this short from the Topit host is an error page, not the picture.
constexpr std::size_t kTopitMinBody = 600;
constexpr std::chrono::milliseconds kSingleThreadPause{2000};

// Workers report their end here; the manager sleeps on `cv` until one has.
struct EndSignal {
    std::mutex mutex;
    std::condition_variable cv;
    std::vector<int> ended;  // slots whose worker has finished

    void Report(int slot) {
        {
            std::lock_guard<std::mutex> lock(mutex);
            ended.push_back(slot);
        }
        cv.notify_one();
    }
};

Text ProgressText(uint32_t done, std::size_t total) {
    return u"已下载" + FormatText("%u/%u", done, static_cast<unsigned>(total)) + u"......";
}

// Sleeps `pause` unless a stop request arrives first; true when it was not interrupted.
bool PauseUnlessStopped(AppState& st, std::chrono::milliseconds pause) {
    const auto step = std::chrono::milliseconds(50);
    const auto until = std::chrono::steady_clock::now() + pause;
    while (std::chrono::steady_clock::now() < until) {
        if (st.StopFlag.load()) return false;
        std::this_thread::sleep_for(
            std::min<std::chrono::steady_clock::duration>(step, until - std::chrono::steady_clock::now()));
    }
    return !st.StopFlag.load();
}

}  // namespace

void DownOnePicFunc(AppState& st, std::size_t index) {
    try {
        const ST_DOWNTASK& task = st.task;
        if (index < task.urls.size() && index < task.fileNames.size()) {
            const Text& entry = task.urls[index];
            const Text& fileName = task.fileNames[index];
            Text main = entry;
            std::optional<Text> alternate;
            const std::size_t crlf = entry.find(u"\r\n");
            if (crlf != Text::npos) {
                main = entry.substr(0, crlf);
                alternate = entry.substr(crlf + 2);
            }

            // The picture always lands in the album folder, whatever its name looks like.
            const Text savePath = task.albumFolder + fileName;
            if (IsSafeComponent(fileName) &&
                IsInsideFolder(PathFromText(task.albumFolder), PathFromText(savePath))) {
                ST_URLREQUEST req(Text(), Text(), 20000);
                ST_URLRESPONSE resp;
                req.url = main;
                if (!task.headers.empty() && index < task.headers.size()) req.headers = task.headers[index];
                req.savePath = savePath;
                req.readWaitMs = st.worker.TimeoutSec.load() * 1000;
                req.attemptDeadlineMs = PictureAttemptDeadlineMs(st.worker.TimeoutSec.load());
                req.minKB = static_cast<uint32_t>(st.worker.MinSizeKB.load());
                req.maxKB = static_cast<uint32_t>(st.worker.MaxSizeKB.load());
                req.attempts = 2;
                req.pauseSeconds = 1;
                bool saved = FetchUrl(req, resp, URLF_CACHE_WRITE | URLF_CACHE_READ);

                if (alternate) {
                    const std::size_t word = alternate->find(kTopitHostWord);
                    const bool topit = word != Text::npos && word > 0;
                    // The alternate is asked whenever the main address gave no picture (error
                    // status, cut-off body, reset, size limit, time-out), and on the Topit host also
                    // after a short answer, which is its error page. bodySize counts a picture's bytes
                    // also when they went straight into its file.
                    if (!saved || (topit && resp.bodySize < kTopitMinBody)) {
                        req.url = *alternate;
                        if (FetchUrl(req, resp, URLF_CACHE_WRITE | URLF_CACHE_READ)) saved = true;
                    }
                }
                // Each worker writes only its own flag; the manager joins every worker before the
                // flags are read.
                if (saved && index < st.task.saved.size()) st.task.saved[index] = 1;
            } else {
                Trace("refused save path for entry %zu\n", index);
            }
        }
    } catch (...) {
        // A failed picture still counts as finished.
    }
    st.Finished.fetch_add(1);
}

void DownPicFunc(AppState& st) {
    st.Finished.store(0);
    const std::size_t total = st.task.urls.size();
    st.task.saved.assign(total, 0);
    if (total == 0) return;

    const int threadSetting = st.worker.ThreadCount.load();
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(threadSetting, 1)), total);
    st.Running.store(1);

    EndSignal signal;
    std::vector<std::thread> slots(n);
    std::size_t active = 0;
    std::size_t next = 0;

    // Starts the next entry in `slot`. An entry whose thread cannot be created counts as finished
    // and the following one is tried, so the manager never waits for a worker that never ran.
    auto startInSlot = [&](int slot) {
        while (next < total) {
            const std::size_t index = next++;
            try {
                slots[static_cast<std::size_t>(slot)] = std::thread([&st, &signal, slot, index] {
                    DownOnePicFunc(st, index);
                    signal.Report(slot);
                });
                ++active;
                return;
            } catch (const std::system_error&) {
                Trace("Create thread:DownOnePicFunc failed.\n");
                st.Finished.fetch_add(1);
            }
        }
    };

    const auto started = std::chrono::steady_clock::now();
    for (std::size_t i = 0; i < n; ++i) startInSlot(static_cast<int>(i));

    uint32_t lastShown = static_cast<uint32_t>(total) + 1;
    bool last = false;
    while (!last) {
        std::vector<int> ended;
        {
            std::unique_lock<std::mutex> lock(signal.mutex);
            if (active > 0) signal.cv.wait(lock, [&] { return !signal.ended.empty(); });
            ended.swap(signal.ended);
        }
        if (st.StopFlag.load()) break;

        for (int s : ended) {
            Trace("Close Handle:%d\n", s);
            slots[static_cast<std::size_t>(s)].join();
            --active;
            if (next < total) {
                if (threadSetting == 1 && !PauseUnlessStopped(st, kSingleThreadPause)) break;
                startInSlot(s);
            }
        }

        const uint32_t done = st.Finished.load();
        if (done >= total || (active == 0 && next >= total)) last = true;
        if (done != lastShown || done >= total) {
            st.frontend->SetControlText(Ctl::Progress, ProgressText(done, total));
            lastShown = done;
        }
        if (st.StopFlag.load()) break;
    }

    // Workers still running after a stop finish their picture; they are waited for here so that
    // nobody reads the task list once this function has returned.
    for (auto& t : slots)
        if (t.joinable()) t.join();
    Trace("OK\n");

    const auto elapsed =
        std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
    st.frontend->AlbumDownloaded(static_cast<unsigned>(elapsed.count()), static_cast<unsigned>(total));
    st.Running.store(0);
}

bool AllPicturesSaved(const ST_DOWNTASK& task) {
    if (task.refused || task.dropped > 0 || task.saved.size() != task.urls.size()) return false;
    for (uint8_t s : task.saved)
        if (!s) return false;
    return true;
}

bool StartDownloadManager(AppState& st, std::thread& manager) {
    st.StopFlag.store(0);
    try {
        manager = std::thread([&st] { DownPicFunc(st); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace qm
