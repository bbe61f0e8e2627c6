// The terminal's observer of the jobs: messages to stderr (a network cause on the same line),
// questions asked on the terminal (or answered by --yes/--no, or No when nobody can answer), a
// login request explaining how to bring cookies in, album passwords typed on the terminal or
// given on the command line, and during a download a progress bar on a
// terminal, plain lines elsewhere, or one JSON object per event with --format json.
#pragma once

#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "core/JobObserver.h"
#include "core/JobRequests.h"

namespace qm::cli {

class CliPresenter final : public JobObserver {
public:
    // `answer`: the reply to every question (--yes / --no); nothing asks the terminal.
    explicit CliPresenter(std::optional<bool> answer = std::nullopt) : answer_(answer) {}

    // Progress of a download on stderr; list runs stay quiet until the end.
    void ShowProgress(bool on) { showProgress_ = on; }
    // One JSON object per line on stdout for every download event (and no bar).
    void JsonEvents(bool on) { json_ = on; }
    // Passwords of encrypted albums given with --album-password, by the album's number in the
    // list (as `list` shows it, leading zeros optional) or by its id.
    void SetAlbumPasswords(std::map<std::string, std::string> passwords) { passwords_ = std::move(passwords); }

    bool LoginRequested() const;

    void DownloadStarted(std::size_t albums) override;
    void AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) override;
    void PicturesListed(std::size_t count) override;
    void TransferStarted(std::size_t total, const Text& folder) override;
    void PictureFinished(const PictureOutcome& picture, std::size_t done, std::size_t total) override;
    void PostRecorded(const PostEvent& post) override;
    void AlbumFinished(const AlbumOutcome& album, unsigned seconds) override;
    void DownloadFinished(const JobOutcome& outcome) override;
    void Waiting(std::chrono::seconds left) override;

    void Notify(const NoticeEvent& notice) override;
    bool Ask(const QuestionEvent& question) override;
    void RequestLogin(const Text& url) override;
    PasswordAnswer AskAlbumPassword(const QuestionEvent& question, const ST_PERLISTRECORD& album,
                                    const Text& pageUrl) override;

private:
    void DrawLocked();

    std::optional<bool> answer_;
    std::map<std::string, std::string> passwords_;
    bool showProgress_ = false;
    bool json_ = false;

    mutable std::mutex mutex_;
    bool loginRequested_ = false;
    std::size_t album_ = 0, albums_ = 0;
    std::size_t listed_ = 0;
    std::size_t done_ = 0, total_ = 0;
    bool transferring_ = false;
    std::string lastBar_;
    long waitLeft_ = 0;
};

// The summary of a download: one aligned table with 序号, 名称, 列出, 已保存, 已有, 失败, 原因, then
// the failed pictures with their reasons (at most `maxFailures`).
std::string RenderSummary(const ListResult& list, const JobOutcome& outcome, std::size_t maxFailures = 10);
// The id of an album as its list address names it ("albumid=…"); empty when it names none.
std::string AlbumId(const ST_PERLISTRECORD& album);

// What a terminal user does to log in: import the browser's cookies, then run the command again.
extern const char kLoginHowTo[];

// A short reason for an album that is not complete (empty when it is).
std::string AlbumReasonText(const AlbumOutcome& album);
// What the mood row says of its posts ("说说 35 条，新增 2 条，更新 1 条"); empty for other albums.
std::string PostsText(const PostTally& posts);

}  // namespace qm::cli
