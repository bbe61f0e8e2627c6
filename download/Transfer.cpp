#include "download/Transfer.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <thread>
#include <vector>

#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/RateLimit.h"
#include "net/Trace.h"
#include "net/URLSource2.h"

namespace qm {

namespace {

using std::chrono::milliseconds;
using std::chrono::seconds;

// The picture host of the Topit site is recognised by its domain word between two dots.
constexpr TextView kTopitHostWord = u".topit.";
// A first answer this short from the Topit host is an error page, not the picture.
constexpr std::size_t kTopitMinBody = 600;
constexpr milliseconds kSingleThreadPause{2000};
// A failed picture request (not a refusal) is tried once more after this pause.
constexpr milliseconds kRetryPause{1000};

struct Item {
    std::size_t index = 0;
    bool alternate = false;  // the main address did not give the picture: its alternate is next
    std::size_t refusals = 0;
};

}  // namespace

// One album's run of the pool over its queue.
class TransferRun {
public:
    TransferRun(Transfer& t, DownloadState& st) : t_(t), st_(st) {}

    void Run() {
        const std::size_t total = st_.task.pictures.size();
        st_.Finished.store(0);
        st_.outcomes.assign(total, PictureOutcome());
        for (std::size_t i = 0; i < total; ++i) {
            st_.outcomes[i].index = i;
            st_.outcomes[i].fileName = st_.task.fileNames[i];
            st_.outcomes[i].film = st_.task.pictures[i].film;
            st_.outcomes[i].failure = Failure{FailureKind::Stopped, 0, {}};  // until it is tried
        }
        // Entries the controller left out end at once, without a request.
        for (std::size_t i = 0; i < total; ++i) {
            const uint8_t skip = i < st_.skip.size() ? st_.skip[i] : DownloadState::kFetch;
            if (skip == DownloadState::kFetch) {
                queue_.push_back(Item{i, false, 0});
                continue;
            }
            if (skip == DownloadState::kAlreadyHad) {
                st_.outcomes[i].status = PictureStatus::AlreadyHad;
                st_.outcomes[i].failure = Failure();
            }
            Report(st_.outcomes[i]);
        }
        if (queue_.empty()) return;

        ceiling_ = std::max(1, st_.worker.ThreadCount.load());
        const std::size_t threads = std::min<std::size_t>(static_cast<std::size_t>(ceiling_), queue_.size());
        st_.Running.store(1);
        const auto waitedBefore = t_.backoff_.Waited();
        std::vector<std::thread> pool;
        pool.reserve(threads);
        for (std::size_t i = 0; i < threads; ++i) {
            try {
                pool.emplace_back([this] { Work(); });
            } catch (const std::system_error& e) {
                // Fewer workers than asked for: the ones that started share the queue.
                Trace("Create thread:DownOnePicFunc failed.\n");
                if (pool.empty()) {
                    FailQueued(Failure{FailureKind::Other, 0, e.what()});
                    break;
                }
            }
        }
        for (std::thread& w : pool) w.join();
        Trace("OK\n");
        const auto waited = t_.backoff_.Waited() - waitedBefore;
        st_.rateLimitWaitedMs.fetch_add(waited.count());
        st_.Running.store(0);
    }

private:
    // The report names the address the picture came from, which its stored outcome leaves out.
    void Report(const PictureOutcome& out) {
        const uint32_t done = st_.Finished.fetch_add(1) + 1;
        const std::size_t total = st_.task.pictures.size();
        if (out.address.empty() && !out.film && out.index < total) {
            PictureOutcome shown = out;
            shown.address = SourceAddress(st_.task.pictures[out.index], out);
            st_.observer->PictureFinished(shown, done, total);
            return;
        }
        st_.observer->PictureFinished(out, done, total);
    }

    // Pictures still queued when the run cannot go on end with `why`.
    void FailQueued(const Failure& why) {
        std::deque<Item> left;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            left.swap(queue_);
        }
        for (const Item& item : left) {
            PictureOutcome out = st_.outcomes[item.index];
            out.failure = why;
            Finish(item.index, out);
        }
    }

    // Each picture's outcome is written by the one worker that ended it; the run joins every
    // worker before anyone reads them. A picture's is stored without its address (its main or
    // alternate one, as usedAlternate says): an album of 100,000 pictures would hold every address twice.
    void Finish(std::size_t index, PictureOutcome& out) {
        Text address;
        if (!out.film) address.swap(out.address);
        st_.outcomes[index] = out;
        out.address.swap(address);
        if (st_.pictureEnded) st_.pictureEnded(out);
        Report(out);
    }

    // Takes the next picture when fewer than the allowed number are in flight; false when there is
    // nothing more to do for this worker.
    bool Take(Item& item) {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, st_.stop, [&] {
            return (!queue_.empty() && inFlight_ < t_.LimitFor(ceiling_)) || (queue_.empty() && inFlight_ == 0) ||
                   st_.diskFull.load();
        });
        // After a full disk nothing more is started: the pictures left stay not tried.
        if (st_.stop.stop_requested() || queue_.empty() || st_.diskFull.load()) return false;
        item = queue_.front();
        queue_.pop_front();
        ++inFlight_;
        return true;
    }

    void Done() {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            --inFlight_;
        }
        changed_.notify_all();
    }

    void Requeue(const Item& item) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            queue_.push_front(item);
            --inFlight_;
        }
        changed_.notify_all();
    }

    void Work() {
        Item item;
        while (Take(item)) {
            if (ceiling_ == 1 && started_.exchange(true) && !t_.clock_.SleepFor(kSingleThreadPause, st_.stop)) {
                Requeue(item);
                break;
            }
            started_.store(true);
            if (Process(item))
                Done();
            else
                Requeue(item);
        }
        changed_.notify_all();
    }

    // One attempt at one address (a failure that is no refusal is tried once more).
    bool Fetch(const Text& address, const Text& headers, const Text& fileName, ST_URLRESPONSE& resp,
               Clock::time_point& sentAt) {
        ST_URLREQUEST req(Text(), Text(), 20000);
        req.url = address;
        req.headers = headers;
        req.savePath = st_.task.albumFolder + fileName;
        // Written through the album folder held since it was checked, never by its path.
        req.saveFolder = st_.task.folder;
        req.saveName = ToUtf8(fileName);
        req.readWaitMs = st_.worker.TimeoutSec.load() * 1000;
        req.attemptDeadlineMs = PictureAttemptDeadlineMs(st_.worker.TimeoutSec.load());
        req.minKB = static_cast<uint32_t>(st_.worker.MinSizeKB.load());
        req.maxKB = static_cast<uint32_t>(st_.worker.MaxSizeKB.load());
        req.attempts = 1;
        req.pauseSeconds = 0;
        req.stop = st_.stop;
        for (int attempt = 1;; ++attempt) {
            resp = ST_URLRESPONSE();
            sentAt = t_.clock_.Now();
            if (FetchUrl(req, resp, URLF_CACHE_WRITE | URLF_CACHE_READ)) return true;
            if (attempt >= 2 || IsRateLimited(resp) || resp.failure.kind == FailureKind::Stopped ||
                resp.failure.kind == FailureKind::DiskFull)
                return false;
            if (!t_.clock_.SleepFor(kRetryPause, st_.stop)) return false;
        }
    }

    // Works on one picture until it ended (true) or was refused and goes back to the queue (false).
    bool Process(Item& item) {
        const PictureRef& picture = st_.task.pictures[item.index];
        const Text& fileName = st_.task.fileNames[item.index];
        PictureOutcome out = st_.outcomes[item.index];
        out.fileName = fileName;
        // The picture always lands in the album folder, whatever its name looks like.
        const Text savePath = st_.task.albumFolder + fileName;
        if (!IsSafeComponent(fileName) ||
            !IsInsideFolder(PathFromText(st_.task.albumFolder), PathFromText(savePath))) {
            Trace("refused save path for entry %zu\n", item.index);
            out.failure = Failure{FailureKind::Unsafe, 0, {}};
            Finish(item.index, out);
            return true;
        }
        if (picture.film) {
            FetchFilmEntry(picture, fileName, savePath, out);
            Finish(item.index, out);
            return true;
        }
        try {
            for (;;) {
                if (st_.stop.stop_requested()) {
                    out.failure = Failure{FailureKind::Stopped, 0, {}};
                    break;
                }
                if (!t_.Pass(st_.stop) || !t_.PaceStart(st_.stop)) {
                    out.failure = t_.backoff_.GaveUp()
                                      ? Failure{FailureKind::RateLimited, 0, "rate limited"}
                                      : Failure{FailureKind::Stopped, 0, {}};
                    break;
                }
                const Text& address = item.alternate ? picture.alternate : picture.main;
                out.address = address;
                out.usedAlternate = item.alternate;
                ST_URLRESPONSE resp;
                Clock::time_point sentAt;
                bool saved = Fetch(address, picture.headers, fileName, resp, sentAt);
                if (!saved && IsRateLimited(resp)) {
                    std::optional<seconds> retryAfter;
                    if (const auto s = RetryAfterSeconds(resp.headers)) retryAfter = seconds(*s);
                    t_.Refused(sentAt, retryAfter);
                    if (++item.refusals > Backoff::kPictureWaits.size()) {
                        out.failure = Failure{FailureKind::RateLimited, resp.status, "rate limited"};
                        break;
                    }
                    return false;  // asked again once the wait is over
                }
                t_.Served(sentAt);
                saved = saved && !resp.failure && resp.bodySize > 0;
                // A full disk takes the alternate's bytes no better: it is not asked, and the reason
                // stays the disk's.
                const bool diskFull = !saved && resp.failure.kind == FailureKind::DiskFull;
                if (diskFull) {
                    st_.diskFull.store(true);
                    changed_.notify_all();
                }
                if (!item.alternate && !picture.alternate.empty() && !st_.stop.stop_requested() && !diskFull) {
                    // Whatever kept the main address from giving the picture (an error status, a
                    // cut or refused body, a time-out, a reset) sends us to the alternate. The Topit
                    // host also answers a short error page with success, so a short picture from
                    // it counts as none.
                    const std::size_t word = picture.alternate.find(kTopitHostWord);
                    const bool topit = word != Text::npos && word > 0;
                    if (!saved || (topit && resp.bodySize < kTopitMinBody)) {
                        item.alternate = true;
                        item.refusals = 0;
                        continue;
                    }
                }
                if (saved) {
                    out.status = PictureStatus::Saved;
                    out.bytes = resp.savedBytes;
                    out.sha256 = std::move(resp.sha256);
                    out.failure = Failure();
                    KeepShootTime(picture, fileName, savePath);
                } else {
                    out.failure = resp.failure ? resp.failure : Failure{FailureKind::Other, 0, "not saved"};
                    if (st_.stop.stop_requested()) out.failure = Failure{FailureKind::Stopped, 0, {}};
                }
                break;
            }
        } catch (const std::exception& e) {
            out.status = PictureStatus::Failed;
            out.failure = Failure{FailureKind::Other, 0, e.what()};
        }
        Finish(item.index, out);
        return true;
    }

    // The film of a video item: its address is asked for right before the download (the service
    // signs it for a while), then it is fetched with resume. It passes the job's wait like every
    // request, but is not paced: one film is one long transfer, not a stream of pictures.
    void FetchFilmEntry(const PictureRef& film, const Text& fileName, const Text& savePath, PictureOutcome& out) {
        try {
            if (st_.stop.stop_requested()) {
                out.failure = Failure{FailureKind::Stopped, 0, {}};
                return;
            }
            if (!t_.Pass(st_.stop)) {
                out.failure = t_.backoff_.GaveUp() ? Failure{FailureKind::RateLimited, 0, "rate limited"}
                                                   : Failure{FailureKind::Stopped, 0, {}};
                return;
            }
            FetchFilm(st_, film, fileName, out);
            if (out.status == PictureStatus::Saved) {
                KeepShootTime(film, fileName, savePath);
                return;
            }
            if (out.failure.kind == FailureKind::DiskFull) {
                st_.diskFull.store(true);
                changed_.notify_all();
            }
            if (st_.stop.stop_requested()) out.failure = Failure{FailureKind::Stopped, 0, {}};
        } catch (const std::exception& e) {
            out.status = PictureStatus::Failed;
            out.failure = Failure{FailureKind::Other, 0, e.what()};
        }
    }

    // A saved file takes the picture's shoot time (else its upload time) when the user keeps them.
    void KeepShootTime(const PictureRef& picture, const Text& fileName, const Text& savePath) {
        if (!st_.keepShootTime) return;
        const int64_t when = picture.shootTime > 0 ? picture.shootTime : picture.uploadTime;
        if (when > 0) SetSavedTime(fileName, savePath, static_cast<std::time_t>(when));
    }

    // The file's time, through the held album folder when there is one (never through a link).
    void SetSavedTime(const Text& fileName, const Text& savePath, std::time_t when) {
        if (!st_.task.folder) {
            SetFileTimes(savePath, when);
            return;
        }
        const struct timespec times[2] = {{when, 0}, {when, 0}};
        if (::utimensat(st_.task.folder->Fd(), ToUtf8(fileName).c_str(), times, AT_SYMLINK_NOFOLLOW) != 0)
            Trace("file time not set for %s\n", ToUtf8(fileName).c_str());
    }

    Transfer& t_;
    DownloadState& st_;
    int ceiling_ = 1;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    std::deque<Item> queue_;
    int inFlight_ = 0;
    std::atomic<bool> started_{false};
};

Transfer::Transfer(Clock& clock, Backoff& backoff) : clock_(clock), backoff_(backoff) {}

void Transfer::Run(DownloadState& st) {
    TransferRun(*this, st).Run();
}

int Transfer::LimitFor(int ceiling) {
    std::lock_guard<std::mutex> lock(mutex_);
    pace_.SetCeiling(ceiling);
    return pace_.Limit();
}

void Transfer::Refused(Clock::time_point sentAt, std::optional<seconds> retryAfter) {
    // Only the refusal that opens a wait teaches the pace: the others were sent before it.
    const bool opened = backoff_.Refused(WaitLadder::Picture, sentAt, retryAfter);
    std::lock_guard<std::mutex> lock(mutex_);
    ++refusals_;
    pace_.Refused(clock_.Now(), sentAt, opened);
}

void Transfer::Served(Clock::time_point sentAt) {
    backoff_.Served(sentAt);
    std::lock_guard<std::mutex> lock(mutex_);
    pace_.Served(clock_.Now(), sentAt);
}

bool Transfer::Pass(std::stop_token stop) {
    if (!backoff_.Pass(stop)) return false;
    const int waits = backoff_.Waits();
    std::lock_guard<std::mutex> lock(mutex_);
    if (waits != seenWaits_) {
        seenWaits_ = waits;
        pace_.Resumed(clock_.Now());
    }
    return true;
}

bool Transfer::PaceStart(std::stop_token stop) {
    Clock::time_point at, now;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        now = clock_.Now();
        at = pace_.NextStart(now);
    }
    if (at <= now) return !stop.stop_requested();
    return clock_.SleepFor(std::chrono::ceil<milliseconds>(at - now), stop);
}

int Transfer::Concurrency() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pace_.Limit();
}

double Transfer::Pace() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return pace_.Pace();
}

std::size_t Transfer::Refusals() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return refusals_;
}

}  // namespace qm
