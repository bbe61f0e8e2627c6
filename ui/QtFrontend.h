// The Frontend of the desktop window. Job threads call it; every call that touches a widget runs
// on the GUI thread. Messages, questions, login requests and the selection block the calling
// thread until the GUI thread has answered; the rest is queued in call order. The texts of the
// target and save-folder boxes and the kind choice are mirrored under a lock, so reading them
// never waits for the GUI thread (a job may read them while the GUI thread joins it).
#pragma once

#include <atomic>
#include <functional>
#include <map>
#include <mutex>

#include "core/Frontend.h"

namespace qm::ui {

class CQuillmossDlg;

class QtFrontend : public Frontend {
public:
    explicit QtFrontend(CQuillmossDlg* window);

    void ShowMessage(const Text& text, const Text& title = {}) override;
    bool AskYesNo(const Text& text, const Text& title = {}) override;
    void RequestLogin(const Text& url) override;
    void SetControlText(Ctl id, const Text& text) override;
    void EnableControl(Ctl id, bool enabled) override;
    void ShowControl(Ctl id, bool visible) override;
    void SetCheck(Ctl id, bool checked) override;
    Text ControlText(Ctl id) override;
    bool KindChoiceVisible() override;
    int KindChoice() override;
    void AlbumAdded(int index) override;
    void RefreshTable() override;
    std::vector<int> SelectedAlbums() override;
    void AddHistory(Ctl box, const Text& text) override;
    void AlbumDownloaded(unsigned seconds, unsigned pictures) override;
    void OpenFolder(const Text& path) override;

    // Mirrors kept by the GUI thread.
    void MirrorText(Ctl id, const Text& text);
    void MirrorKind(bool visible, int kind);

    // Once the window is closing, modal calls answer at once (messages are dropped, questions
    // answered No, logins skipped) so that no job thread can wait on a window that is going away.
    void SetClosing() { closing_ = true; }
    bool Closing() const { return closing_; }

private:
    bool OnGuiThread() const;
    void Post(std::function<void()> f);
    void Call(const std::function<void()>& f);

    CQuillmossDlg* window_;  // outlives every job thread (joined before it goes)
    std::atomic<bool> closing_{false};
    std::atomic<bool> kindVisible_{true};
    std::atomic<int> kind_{0};
    mutable std::mutex textMutex_;
    std::map<Ctl, Text> texts_;
};

}  // namespace qm::ui
