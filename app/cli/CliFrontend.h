// The terminal's Frontend: the program's messages go to stderr as they are, questions are asked on
// the terminal (or answered by --yes/--no, or No when nobody can answer), a login request explains
// how to bring cookies in, and a download shows a progress bar (plain lines when not a terminal).
#pragma once

#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/AppState.h"
#include "core/Frontend.h"

namespace qm::cli {

class CliFrontend : public Frontend {
public:
    // `answer`: the reply to every question (--yes / --no); nothing asks the terminal.
    explicit CliFrontend(std::optional<bool> answer = std::nullopt) : answer_(answer) {}

    // What the window's controls would hold.
    void SetTarget(Text t) { target_ = std::move(t); }
    void SetSaveFolder(Text t) { saveFolder_ = std::move(t); }
    void SetKind(int kind) { kind_ = kind; }
    void SetSelection(std::vector<int> s) { selection_ = std::move(s); }
    // The state whose task list is counted when an album's download ends.
    void AttachState(AppState* st) { state_ = st; }
    // Show download progress (status and progress lines); list runs stay quiet until the end.
    void ShowProgress(bool on) { showProgress_ = on; }

    struct AlbumResult {
        int position = 0;  // 1-based position in the selection
        Text folder;
        unsigned pictures = 0;  // entries in the album's task list
        unsigned saved = 0;     // of them, files present on disk afterwards
    };
    std::vector<AlbumResult> Results() const;
    std::vector<Text> Messages() const;
    bool LoginRequested() const;
    // Positions (1-based, in the selection) of the albums the download reached.
    std::vector<int> StartedAlbums() const;

    void ShowMessage(const Text& text, const Text& title) override;
    bool AskYesNo(const Text& text, const Text& title) override;
    void RequestLogin(const Text& url) override;
    void SetControlText(Ctl id, const Text& text) override;
    void EnableControl(Ctl, bool) override {}
    void ShowControl(Ctl, bool) override {}
    void SetCheck(Ctl, bool) override {}
    Text ControlText(Ctl id) override;
    bool KindChoiceVisible() override { return true; }
    int KindChoice() override { return kind_; }
    void AlbumAdded(int index) override;
    void RefreshTable() override {}
    std::vector<int> SelectedAlbums() override { return selection_; }
    void AddHistory(Ctl, const Text&) override {}
    void AlbumDownloaded(unsigned seconds, unsigned pictures) override;
    void OpenFolder(const Text& path) override;

private:
    void DrawProgressLocked();
    void FlushListedLocked();

    std::optional<bool> answer_;
    Text target_;
    Text saveFolder_;
    int kind_ = 0;
    std::vector<int> selection_;
    AppState* state_ = nullptr;
    bool showProgress_ = false;

    mutable std::mutex mutex_;
    std::vector<Text> messages_;
    std::vector<AlbumResult> results_;
    bool loginRequested_ = false;
    int album_ = 0, albums_ = 0;  // "正在下载第%d/%d个图集"
    int done_ = 0, total_ = 0;    // "已下载%d/%d......"
    Text lastProgress_;
    std::string lastBar_;       // the progress line shown last
    Text listed_;               // "已获取到%d张图片信息" not yet printed
    std::vector<int> started_;  // albums reached
};

// Parses "已下载12/40......" style texts: the two numbers around the first '/' after `prefix`.
bool ParseFraction(TextView text, TextView prefix, int& done, int& total);

}  // namespace qm::cli
