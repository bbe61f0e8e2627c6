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

#include "core/Backoff.h"
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "net/RateLimit.h"
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

// Sleeps `pause` unless a stop request arrives first; true when it was not interrupted.
bool PauseUnlessStopped(DownloadState& st, std::chrono::milliseconds pause) {
    return st.clock->SleepFor(pause, st.stop);
}

// One attempt at one address into the album folder.
bool FetchPicture(DownloadState& st, const Text& address, const Text& headers, const Text& fileName,
                  ST_URLRESPONSE& resp) {
    ST_URLREQUEST req(Text(), Text(), 20000);
    req.url = address;
    req.headers = headers;
    req.savePath = st.task.albumFolder + fileName;
    // Written through the album folder held since it was checked, never by its path.
    req.saveFolder = st.task.folder;
    req.saveName = ToUtf8(fileName);
    req.readWaitMs = st.worker.TimeoutSec.load() * 1000;
    req.attemptDeadlineMs = PictureAttemptDeadlineMs(st.worker.TimeoutSec.load());
    req.minKB = static_cast<uint32_t>(st.worker.MinSizeKB.load());
    req.maxKB = static_cast<uint32_t>(st.worker.MaxSizeKB.load());
    req.attempts = 2;
    req.pauseSeconds = 1;
    req.stop = st.stop;
    // A rate-limited answer (429, 503, the refusal text) is asked again after the back-off's waits.
    Backoff backoff(*st.clock, st.stop,
                    [&st](int, std::chrono::seconds left) { st.observer->Waiting(left); });
    for (;;) {
        const bool ok = FetchUrl(req, resp, URLF_CACHE_WRITE | URLF_CACHE_READ);
        if (ok || !IsRateLimited(resp)) break;
        if (!backoff.Wait()) {
            if (backoff.GaveUp()) resp.failure = FetchFailure{FailureKind::RateLimited, resp.status, "rate limited"};
            break;
        }
    }
    if (backoff.Waits() > 0) {
        st.observer->Waiting(std::chrono::seconds(0));
        st.rateLimitWaitedMs.fetch_add(backoff.Waited().count());
    }
    return !resp.failure && resp.bodySize > 0;
}

}  // namespace

void DownOnePicFunc(DownloadState& st, std::size_t index) {
    PictureOutcome out;
    out.index = index;
    try {
        const ST_DOWNTASK& task = st.task;
        if (index < task.pictures.size() && index < task.fileNames.size()) {
            const PictureRef& picture = task.pictures[index];
            const Text& fileName = task.fileNames[index];
            out.fileName = fileName;
            out.address = picture.main;
            out.film = picture.film;

            // The picture always lands in the album folder, whatever its name looks like.
            const Text savePath = task.albumFolder + fileName;
            if (st.stop.stop_requested()) {
                out.failure = Failure{FailureKind::Stopped, 0, {}};
            } else if (IsSafeComponent(fileName) &&
                       IsInsideFolder(PathFromText(task.albumFolder), PathFromText(savePath)) && picture.film) {
                FetchFilm(st, picture, fileName, out);
                if (out.status != PictureStatus::Saved && st.stop.stop_requested())
                    out.failure = Failure{FailureKind::Stopped, 0, {}};
            } else if (IsSafeComponent(fileName) &&
                       IsInsideFolder(PathFromText(task.albumFolder), PathFromText(savePath))) {
                ST_URLRESPONSE resp;
                bool saved = FetchPicture(st, picture.main, picture.headers, fileName, resp);
                // A full disk takes the alternate's bytes no better: it is not asked, and the reason
                // stays the disk's, not whatever the alternate would have answered.
                const bool diskFull = !saved && resp.failure.kind == FailureKind::DiskFull;
                if (diskFull) st.diskFull.store(true);
                // Whatever kept the main address from giving the picture (an error status, a cut
                // or refused body, a time-out, a reset) sends us to the alternate. The Topit host
                // also answers a short error page with success, so a short picture from it
                // counts as none.
                const std::size_t word = picture.alternate.find(kTopitHostWord);
                const bool topit = word != Text::npos && word > 0;
                const bool retry = !picture.alternate.empty() && !st.stop.stop_requested() && !diskFull &&
                                   (!saved || (topit && resp.bodySize < kTopitMinBody));
                if (retry) {
                    ST_URLRESPONSE second;
                    saved = FetchPicture(st, picture.alternate, picture.headers, fileName, second);
                    out.usedAlternate = true;
                    out.address = picture.alternate;
                    resp = std::move(second);
                    if (!saved && resp.failure.kind == FailureKind::DiskFull) st.diskFull.store(true);
                }
                if (saved) {
                    out.status = PictureStatus::Saved;
                    out.bytes = resp.savedBytes;
                    out.sha256 = std::move(resp.sha256);
                    out.failure = Failure();
                } else {
                    out.failure = resp.failure ? resp.failure : Failure{FailureKind::Other, 0, "not saved"};
                    if (st.stop.stop_requested()) out.failure = Failure{FailureKind::Stopped, 0, {}};
                }
            } else {
                Trace("refused save path for entry %zu\n", index);
                out.failure = Failure{FailureKind::Unsafe, 0, {}};
            }
        }
    } catch (const std::exception& e) {
        out.status = PictureStatus::Failed;
        out.failure = Failure{FailureKind::Other, 0, e.what()};
    }
    if (index < st.outcomes.size()) st.outcomes[index] = out;
    if (st.pictureEnded) st.pictureEnded(out);
    const uint32_t done = st.Finished.fetch_add(1) + 1;
    st.observer->PictureFinished(out, done, st.task.pictures.size());
}

void DownPicFunc(DownloadState& st) {
    st.Finished.store(0);
    const std::size_t total = st.task.pictures.size();
    st.outcomes.assign(total, PictureOutcome());
    for (std::size_t i = 0; i < total; ++i) {
        st.outcomes[i].index = i;
        st.outcomes[i].fileName = st.task.fileNames[i];
        st.outcomes[i].address = st.task.pictures[i].main;
        st.outcomes[i].film = st.task.pictures[i].film;
        st.outcomes[i].failure = Failure{FailureKind::Stopped, 0, {}};  // until its worker ran
    }
    // Entries the controller left out end at once, without a request.
    std::vector<std::size_t> order;
    order.reserve(total);
    for (std::size_t i = 0; i < total; ++i) {
        const uint8_t skip = i < st.skip.size() ? st.skip[i] : DownloadState::kFetch;
        if (skip == DownloadState::kFetch) {
            order.push_back(i);
            continue;
        }
        if (skip == DownloadState::kAlreadyHad) {
            st.outcomes[i].status = PictureStatus::AlreadyHad;
            st.outcomes[i].failure = Failure();
        }
        const uint32_t done = st.Finished.fetch_add(1) + 1;
        st.observer->PictureFinished(st.outcomes[i], done, total);
    }
    if (order.empty()) return;

    const int threadSetting = st.worker.ThreadCount.load();
    const std::size_t n = std::min<std::size_t>(static_cast<std::size_t>(std::max(threadSetting, 1)), order.size());
    st.Running.store(1);

    EndSignal signal;
    std::vector<std::thread> slots(n);
    std::size_t active = 0;
    std::size_t next = 0;

    // Starts the next entry in `slot`. An entry whose thread cannot be created counts as finished
    // and the following one is tried, so the manager never waits for a worker that never ran.
    auto startInSlot = [&](int slot) {
        while (next < order.size()) {
            const std::size_t index = order[next++];
            try {
                slots[static_cast<std::size_t>(slot)] = std::thread([&st, &signal, slot, index] {
                    DownOnePicFunc(st, index);
                    signal.Report(slot);
                });
                ++active;
                return;
            } catch (const std::system_error& e) {
                Trace("Create thread:DownOnePicFunc failed.\n");
                st.outcomes[index].failure = Failure{FailureKind::Other, 0, e.what()};
                const uint32_t done = st.Finished.fetch_add(1) + 1;
                st.observer->PictureFinished(st.outcomes[index], done, total);
            }
        }
    };

    for (std::size_t i = 0; i < n; ++i) startInSlot(static_cast<int>(i));

    bool last = false;
    while (!last) {
        std::vector<int> ended;
        {
            std::unique_lock<std::mutex> lock(signal.mutex);
            if (active > 0) signal.cv.wait(lock, [&] { return !signal.ended.empty(); });
            ended.swap(signal.ended);
        }
        if (st.stop.stop_requested()) break;

        for (int s : ended) {
            Trace("Close Handle:%d\n", s);
            slots[static_cast<std::size_t>(s)].join();
            --active;
            // After a full disk nothing more is started: the pictures left stay not tried.
            if (next < order.size() && !st.diskFull.load()) {
                if (threadSetting == 1 && !PauseUnlessStopped(st, kSingleThreadPause)) break;
                startInSlot(s);
            }
        }

        const uint32_t done = st.Finished.load();
        if (done >= total || (active == 0 && (next >= order.size() || st.diskFull.load()))) last = true;
        if (st.stop.stop_requested()) break;
    }

    // Workers still running after a stop finish their picture; they are waited for here so that
    // nobody reads the task list once this function has returned.
    for (auto& t : slots)
        if (t.joinable()) t.join();
    Trace("OK\n");

    st.Running.store(0);
}

bool AllPicturesSaved(const DownloadState& st) {
    const ST_DOWNTASK& task = st.task;
    if (task.refused || task.dropped > 0 || st.outcomes.size() != task.pictures.size()) return false;
    for (const PictureOutcome& o : st.outcomes)
        if (o.status == PictureStatus::Failed) return false;
    return true;
}

bool TransferPictures(DownloadState& st) {
    std::thread manager;
    if (!StartDownloadManager(st, manager)) return false;
    if (manager.joinable()) manager.join();
    return true;
}

bool StartDownloadManager(DownloadState& st, std::thread& manager) {
    try {
        manager = std::thread([&st] { DownPicFunc(st); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

}  // namespace qm
