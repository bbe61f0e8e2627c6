// The one stop primitive of a job: its running state and its stop request, written once.
// A stop is sticky for the job (the next album does not start), while the transfers of one album
// get a fresh token each time they start, so that a stop answered with "download what is listed"
// can still be followed by a second stop that ends those transfers.
#pragma once

#include <atomic>
#include <mutex>
#include <stop_token>

namespace qm {

class JobControl {
public:
    // Idle -> running; false when the job is already running.
    bool TryStart() {
        bool expected = false;
        if (!running_.compare_exchange_strong(expected, true)) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = false;
        source_ = std::stop_source();
        return true;
    }
    void Finish() { running_.store(false); }
    bool Running() const { return running_.load(); }

    // A stop request for a running job; false when nothing runs.
    bool RequestStop() {
        if (!running_.load()) return false;
        std::lock_guard<std::mutex> lock(mutex_);
        stopRequested_ = true;
        source_.request_stop();
        return true;
    }
    bool StopRequested() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return stopRequested_;
    }
    // The token of the current transfers; a stop request ends them.
    std::stop_token Token() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return source_.get_token();
    }
    // A fresh token for the transfers of the next album, not yet stopped.
    std::stop_token RenewToken() {
        std::lock_guard<std::mutex> lock(mutex_);
        source_ = std::stop_source();
        return source_.get_token();
    }

private:
    std::atomic<bool> running_{false};
    mutable std::mutex mutex_;
    bool stopRequested_ = false;
    std::stop_source source_;
};

}  // namespace qm
