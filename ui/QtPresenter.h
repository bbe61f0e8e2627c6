// The window's presenter: turns the jobs' events into the status lines, progress texts, captions,
// enabling and message boxes of the main window. Job threads call it; every widget change runs
// on the GUI thread. Messages, questions and login requests block the job thread until the GUI
// thread has answered; the rest is queued in call order.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>

#include "core/JobObserver.h"
#include "core/JobRequests.h"
#include "ui/WindowState.h"

namespace qm::ui {

class CQuillmossDlg;

class QtPresenter final : public JobObserver {
public:
    explicit QtPresenter(CQuillmossDlg* window);

    // --- list job
    void ListStarted() override;
    void AlbumListed(std::size_t index, const ST_PERLISTRECORD& rec) override;
    void ListFinished(const ListResult& result) override;
    // --- download job
    void DownloadStarted(std::size_t albums) override;
    void AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) override;
    void PicturesListed(std::size_t count) override;
    void TransferStarted(std::size_t total, const Text& folder) override;
    void PictureFinished(const PictureOutcome& picture, std::size_t done, std::size_t total) override;
    void AlbumFinished(const AlbumOutcome& album, unsigned seconds) override;
    void DownloadFinished(const JobOutcome& outcome) override;
    void Waiting(std::chrono::seconds left) override;
    // --- messages, questions, logins
    void Notify(const NoticeEvent& notice) override;
    bool Ask(const QuestionEvent& question) override;
    void RequestLogin(const Text& url) override;

    // The folder of the album whose pictures are being fetched; empty between albums.
    Text CurrentAlbumFolder() const;

    // The user pressed "终止下载"; the status line at the end says whether it stopped anything.
    void NoteStopPressed() { stopPressed_ = true; }
    void ResetStopPressed() { stopPressed_ = false; }

    // Once the window is closing, modal calls answer at once (messages are dropped, questions
    // answered No, logins skipped) so that no job thread can wait on a window that is going away.
    void SetClosing() { closing_ = true; }
    bool Closing() const { return closing_; }

    // Control changes, queued to the GUI thread.
    void SetControlText(Ctl id, const Text& text);
    void EnableControl(Ctl id, bool enabled);
    void ShowControl(Ctl id, bool visible);
    void SetCheck(Ctl id, bool checked);
    void RefreshTable();

private:
    bool OnGuiThread() const;
    void Post(std::function<void()> f);
    void Call(const std::function<void()>& f);
    void SetDownloadLook(bool running);
    // Shows the latest picture count (GUI thread). Workers only record it: one queued update at a
    // time reads the newest count, so the display never lags behind a flood of events and never
    // shows an older count after a newer one.
    void ShowPictureProgress();

    CQuillmossDlg* window_;  // outlives every job thread (joined before it goes)
    std::atomic<bool> closing_{false};
    mutable std::mutex mutex_;
    Text albumFolder_;
    std::size_t lastDone_ = 0;
    std::size_t total_ = 0;
    bool progressQueued_ = false;
    std::atomic<bool> stopPressed_{false};
};

}  // namespace qm::ui
