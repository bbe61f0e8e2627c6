// The transfer of a job's pictures: a fixed pool of the user's thread count fetches the pictures of
// one album after the other, and one back-off is shared by the whole job. When the picture host
// refuses (429, 503 or a busy answer) every worker waits out the same wait, the refused picture is
// asked again afterwards, and fewer transfers run at once (half, at least one). After a run of
// served pictures the transfer grows back by one, pacing its starts near the rate the host served,
// so that it settles just below the rate the service allows.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>
#include <stop_token>

#include "core/Backoff.h"
#include "net/Clock.h"
#include "download/TransferPace.h"

namespace qm {

struct DownloadState;

class Transfer {
public:
    // `backoff` is the job's; it must outlive the transfer.
    Transfer(Clock& clock, Backoff& backoff);

    // Fetches every entry of st.task that st.skip leaves, at most st.worker.ThreadCount at once,
    // records each outcome in st.outcomes and reports it; returns once every picture has ended (or,
    // after a stop, once every started transfer has).
    void Run(DownloadState& st);

    // What the transfer has learned so far (for the status and the benchmarks).
    int Concurrency() const;
    double Pace() const;           // starts per second; 0 when unpaced
    std::size_t Refusals() const;  // refused picture answers so far

private:
    friend class TransferRun;
    void Refused(Clock::time_point sentAt, std::optional<std::chrono::seconds> retryAfter);
    void Served(Clock::time_point sentAt);
    // Passes the shared wait; notes the first start after a wait. False when stopped or given up.
    bool Pass(std::stop_token stop);
    // Sleeps until the pace lets the next request start; false when stopped.
    bool PaceStart(std::stop_token stop);
    int LimitFor(int ceiling);

    Clock& clock_;
    Backoff& backoff_;
    mutable std::mutex mutex_;
    TransferPace pace_;
    int seenWaits_ = 0;
    std::size_t refusals_ = 0;
};

}  // namespace qm
