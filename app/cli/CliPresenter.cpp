#include "app/cli/CliPresenter.h"

#include <nlohmann/json.hpp>

#include <algorithm>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Console.h"
#include "app/cli/TerminalText.h"
#include "core/OutcomeWords.h"
#include "download/MoodsJson.h"
#include "jobs/AlbumSidecar.h"
#include "texts/EventTexts.h"

namespace qm::cli {

namespace {

using Json = nlohmann::ordered_json;

void Emit(const Json& event) {
    // File and album names come from servers: what a JSON writer leaves raw is escaped too.
    Console::Get().Out(JsonForTerminal(event.dump(-1, ' ', false, Json::error_handler_t::replace)) + "\n");
}

Json PictureJson(const PictureOutcome& p) {
    Json o;
    o["index"] = p.index + 1;
    o["status"] = PictureStatusWord(p.status);
    o["file"] = ToUtf8(p.fileName);
    o["address"] = ToUtf8(p.address);
    o["alternate"] = p.usedAlternate;
    o["bytes"] = p.bytes;
    if (p.film) o["video"] = true;
    if (!p.filmPlay.empty()) o["play"] = ToUtf8(p.filmPlay);
    if (p.status == PictureStatus::Failed) o["reason"] = DescribeFailure(p.failure);
    return o;
}

const char* ChangeWord(PostChange c) {
    switch (c) {
        case PostChange::Added:
            return "added";
        case PostChange::Refreshed:
            return "refreshed";
        case PostChange::Unchanged:
            break;
    }
    return "unchanged";
}

Json PostsJson(const PostTally& t) {
    Json o;
    o["listed"] = t.listed;
    o["added"] = t.added;
    o["refreshed"] = t.refreshed;
    o["kept"] = t.kept;
    o["text_cut"] = t.cutTexts;
    o["written"] = t.written;
    if (!t.error.empty()) o["error"] = t.error;
    return o;
}

// The films of an album's video items (the counts above are its pictures, covers included).
Json FilmsJson(const FilmCounts& f) {
    Json o;
    o["listed"] = f.listed;
    o["saved"] = f.saved;
    o["already_had"] = f.alreadyHad;
    o["failed"] = f.failed;
    o["not_tried"] = f.notTried;
    return o;
}

Json AlbumJson(const AlbumOutcome& a) {
    Json o;
    o["index"] = a.index + 1;
    o["name"] = ToUtf8(a.name);
    o["expected"] = a.expected;
    o["listed"] = a.listed;
    o["saved"] = a.saved;
    o["already_had"] = a.alreadyHad;
    o["failed"] = a.failed;
    o["not_tried"] = a.notTried;
    o["not_listed"] = a.NotListed();
    o["folder"] = ToUtf8(a.folder);
    o["list_only"] = a.listOnly;
    o["complete"] = a.Complete();
    o["reason"] = AlbumReasonWord(a.reason);
    if (!a.reasonText.empty()) o["reason_text"] = a.reasonText;
    Json failures = Json::array();
    for (const PictureOutcome& p : a.failures) failures.push_back(PictureJson(p));
    o["failures"] = std::move(failures);
    if (a.HasPosts()) o["posts"] = PostsJson(a.posts);
    if (a.films.listed > 0) o["videos"] = FilmsJson(a.films);
    return o;
}

std::string Pad(const std::string& utf8, int width, bool right = false) {
    const int pad = std::max(0, width - DisplayWidth(FromUtf8(utf8)));
    return right ? std::string(static_cast<std::size_t>(pad), ' ') + utf8
                 : utf8 + std::string(static_cast<std::size_t>(pad), ' ');
}

}  // namespace

std::string AlbumReasonText(const AlbumOutcome& a) {
    switch (a.reason) {
        case AlbumReason::NoAccess:
            return "无权访问";
        case AlbumReason::Password:
            return "密码未输入或不正确";
        case AlbumReason::Empty:
            return "没有图片";
        case AlbumReason::RateLimited:
            return "限流（服务限制了访问频率，稍后再试）";
        case AlbumReason::LoginNeeded:
            return "需要登录（在浏览器登录后用 quillmoss-cli cookies import 导入 Cookie）";
        case AlbumReason::Network:
            return "网络错误: " + EscapeControls(a.reasonText);
        case AlbumReason::Stopped:
            return "已终止";
        case AlbumReason::Unwritable:
            return "无法写入: " + EscapeControls(a.reasonText);
        case AlbumReason::None:
            break;
    }
    if (a.Complete()) return a.upToDate && a.listed == 0 ? "已是最新" : "";
    std::string out;
    if (a.failed > 0) out += std::to_string(a.failed) + " 张失败";
    if (a.notTried > 0) out += std::string(out.empty() ? "" : "，") + std::to_string(a.notTried) + " 张未下载";
    if (a.films.failed > 0) out += std::string(out.empty() ? "" : "，") + std::to_string(a.films.failed) + " 个视频失败";
    if (a.films.notTried > 0)
        out += std::string(out.empty() ? "" : "，") + std::to_string(a.films.notTried) + " 个视频未下载";
    if (out.empty() && a.listed == 0) out = "没有图片";
    return out;
}

std::string PostsText(const PostTally& t) {
    if (t.listed == 0 && t.kept == 0) return {};
    std::string out = "说说 " + std::to_string(t.listed) + " 条";
    if (t.added > 0) out += "，新增 " + std::to_string(t.added) + " 条";
    if (t.refreshed > 0) out += "，更新 " + std::to_string(t.refreshed) + " 条";
    if (t.kept > t.listed) out += "，共存 " + std::to_string(t.kept) + " 条";
    if (t.cutTexts > 0) out += "，" + std::to_string(t.cutTexts) + " 条未取到全文";
    if (!t.error.empty()) out += "，moods.json 未写入: " + EscapeControls(t.error);
    return out;
}

std::string RenderSummary(const ListResult& list, const JobOutcome& outcome, std::size_t maxFailures) {
    struct Row {
        std::string cells[7];
    };
    std::vector<Row> rows;
    rows.push_back(Row{{"序号", "名称", "列出", "已保存", "已有", "失败", "原因"}});
    for (const AlbumOutcome& a : outcome.albums) {
        Row r;
        r.cells[0] = ToUtf8(CellsOf(list.albums[static_cast<std::size_t>(a.index)], a.index + 1).number);
        r.cells[1] = EscapeControls(a.name);
        r.cells[2] = std::to_string(a.listed);
        r.cells[3] = std::to_string(a.saved);
        r.cells[4] = std::to_string(a.alreadyHad);
        r.cells[5] = std::to_string(a.failed);
        r.cells[6] = AlbumReasonText(a);
        if (a.listOnly && a.Complete()) r.cells[6] = "已写出下载列表";
        if (const std::string posts = PostsText(a.posts); !posts.empty())
            r.cells[6] = r.cells[6].empty() ? posts : r.cells[6] + "；" + posts;
        // Pictures (video covers among them) in the columns; the films of the video items here.
        if (a.films.listed > 0) {
            const std::string films = "视频 " + std::to_string(a.films.saved + a.films.alreadyHad) + "/" +
                                      std::to_string(a.films.listed) + " 个已保存";
            r.cells[6] = r.cells[6].empty() ? films : films + "；" + r.cells[6];
        }
        rows.push_back(std::move(r));
    }
    int width[7] = {0};
    for (const Row& r : rows)
        for (int c = 0; c < 7; ++c) width[c] = std::max(width[c], DisplayWidth(FromUtf8(r.cells[c])));
    std::string out;
    for (const Row& r : rows) {
        std::string line;
        for (int c = 0; c < 7; ++c) {
            const bool number = c >= 2 && c <= 5;
            line += c == 6 ? r.cells[c] : Pad(r.cells[c], width[c], number && &r != &rows.front());
            if (c < 6) line += "  ";
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        out += line + "\n";
    }

    std::size_t shown = 0, total = 0;
    std::string failures;
    for (const AlbumOutcome& a : outcome.albums) {
        for (const PictureOutcome& p : a.failures) {
            ++total;
            if (shown >= maxFailures) continue;
            ++shown;
            failures += "  " + EscapeControls(a.name) + "/" + EscapeControls(p.fileName) + ": " +
                        EscapeControls(DescribeFailure(p.failure)) + "\n";
        }
    }
    if (total > 0) {
        out += "\n未下载的图片 (" + std::to_string(total) + "):\n" + failures;
        if (total > shown) out += "  ... 其余 " + std::to_string(total - shown) + " 张见 --format json\n";
    }
    return out;
}

bool CliPresenter::LoginRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loginRequested_;
}

std::string AlbumId(const ST_PERLISTRECORD& album) {
    return ToUtf8(AlbumIdOf(album));
}

const char kLoginHowTo[] =
    "  在浏览器（Firefox）里登录QQ空间后运行\n"
    "    quillmoss-cli cookies import --from-browser firefox\n"
    "  或把浏览器导出的 cookies.txt 导入：\n"
    "    quillmoss-cli cookies import cookies.txt\n"
    "  然后再运行本命令。";

void CliPresenter::Notify(const NoticeEvent& n) {
    // Texts of the service itself are shown with their control characters escaped.
    const ShownText shown = NoticeText(n);
    std::string line = IsServiceText(n) ? EscapeControls(shown.text) : ToUtf8(shown.text);
    // The window's wording points at its login menu; a terminal user imports cookies instead.
    if (n.id == Notice::MoodLogin) line = std::string("下载说说里的图片需要先登录QQ空间。\n") + kLoginHowTo;
    if (!shown.title.empty()) line = "[" + ToUtf8(shown.title) + "] " + line;
    if (!n.cause.empty()) line += ": " + EscapeControls(n.cause);
    std::lock_guard<std::mutex> lock(mutex_);
    Console::Get().Err(line);
}

bool CliPresenter::Ask(const QuestionEvent& q) {
    const ShownText shown = QuestionText(q);
    std::string question = ToUtf8(shown.text);
    if (!shown.title.empty()) question = "[" + ToUtf8(shown.title) + "] " + question;
    Console& con = Console::Get();
    if (answer_) {
        con.Err(question + (*answer_ ? " -> 是 (--yes)" : " -> 否 (--no)"));
        return *answer_;
    }
    if (!con.InIsTerminal()) {
        con.Err(question + " -> 否（没有终端可以回答；要回答“是”请加 --yes）");
        return false;
    }
    for (;;) {
        std::string reply;
        if (!con.Ask(question + " [y/N] ", reply)) return false;
        const std::string r = ToUtf8(Trim(FromUtf8(reply)));
        if (r.empty() || r == "n" || r == "N" || r == "no" || r == "否") return false;
        if (r == "y" || r == "Y" || r == "yes" || r == "是") return true;
    }
}

PasswordAnswer CliPresenter::AskAlbumPassword(const QuestionEvent& q, const ST_PERLISTRECORD& album,
                                              const Text& pageUrl) {
    (void)pageUrl;
    const ShownText shown = QuestionText(q);
    std::string question = ToUtf8(shown.text);
    if (!shown.title.empty()) question = "[" + ToUtf8(shown.title) + "] " + question;
    const std::string name = EscapeControls(album.Name);
    Console& con = Console::Get();
    // --album-password: by the list's number (leading zeros optional) or by the album's id.
    const std::string number = std::to_string(album.ListPosition + 1);
    const std::string id = AlbumId(album);
    for (const auto& [key, password] : passwords_) {
        const std::size_t digits = key.find_first_not_of('0');
        const std::string trimmed = digits == std::string::npos ? std::string() : key.substr(digits);
        if (trimmed == number || (!id.empty() && key == id)) {
            con.Err(question + " -> 是（“" + name + "”的密码来自 --album-password）");
            return {true, FromUtf8(password)};
        }
    }
    if (answer_ && !*answer_) {
        con.Err(question + " -> 否 (--no)");
        return {};
    }
    if (!con.InIsTerminal()) {
        con.Err(question + " -> 否（没有终端可以输入密码；可用 --album-password " + number + "=密码）");
        return {};
    }
    if (!answer_) {
        std::string reply;
        for (;;) {
            if (!con.Ask(question + "（" + name + "）[y/N] ", reply)) return {};
            const std::string r = ToUtf8(Trim(FromUtf8(reply)));
            if (r.empty() || r == "n" || r == "N" || r == "no" || r == "否") return {};
            if (r == "y" || r == "Y" || r == "yes" || r == "是") break;
        }
    }
    std::string password;
    if (!con.AskSecret("相册“" + name + "”的密码: ", password) || password.empty()) return {};
    return {true, FromUtf8(password)};
}

void CliPresenter::RequestLogin(const Text& url) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loginRequested_ = true;
    }
    Console::Get().Err("这里需要登录: " + EscapeControls(url) + "\n" + kLoginHowTo);
}

void CliPresenter::DownloadStarted(std::size_t albums) {
    std::lock_guard<std::mutex> lock(mutex_);
    albums_ = albums;
}

void CliPresenter::AlbumStarted(std::size_t position, std::size_t count, const ST_PERLISTRECORD& rec) {
    std::lock_guard<std::mutex> lock(mutex_);
    album_ = position;
    albums_ = count;
    listed_ = done_ = total_ = 0;
    transferring_ = false;
    lastBar_.clear();
    if (json_) {
        Json o;
        o["event"] = "album_started";
        o["position"] = position;
        o["count"] = count;
        o["index"] = rec.ListPosition + 1;
        o["name"] = ToUtf8(rec.Name);
        o["expected"] = rec.PictureCount;
        Emit(o);
        return;
    }
    if (!showProgress_) return;
    Console::Get().Err("正在下载第" + std::to_string(position) + "/" + std::to_string(count) + "个图集  " +
                       EscapeControls(rec.Name));
}

void CliPresenter::PicturesListed(std::size_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    listed_ = count;
    DrawLocked();
}

void CliPresenter::TransferStarted(std::size_t total, const Text&) {
    std::lock_guard<std::mutex> lock(mutex_);
    transferring_ = true;
    total_ = total;
    done_ = 0;
    if (showProgress_ && !json_ && !Console::Get().ErrIsTerminal()) {
        Console::Get().Err("已获取到" + std::to_string(total) + "张图片信息");
        Console::Get().Err("已开始下载图片");
    }
    DrawLocked();
}

void CliPresenter::PictureFinished(const PictureOutcome& picture, std::size_t done, std::size_t total) {
    std::lock_guard<std::mutex> lock(mutex_);
    done_ = std::max(done_, done);
    total_ = total;
    if (json_) {
        const Json o = PictureJson(picture);
        Json e;
        e["event"] = "picture";
        e["album"] = album_;
        for (auto it = o.begin(); it != o.end(); ++it)
            if (it.key() != "event" && it.key() != "album") e[it.key()] = it.value();
        Emit(e);
        return;
    }
    DrawLocked();
}

void CliPresenter::PostRecorded(const PostEvent& post) {
    if (!json_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    Json o;
    o["event"] = "post";
    o["album"] = album_;
    o["id"] = post.id;
    o["time"] = IsoChinaTime(post.time);
    o["change"] = ChangeWord(post.change);
    o["pictures"] = post.pictures;
    o["comments"] = post.comments;
    o["text_cut"] = post.textCut;
    Emit(o);
}

void CliPresenter::AlbumFinished(const AlbumOutcome& album, unsigned seconds) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_) {
        Json o;
        o["event"] = "album_finished";
        o["position"] = album_;
        o["seconds"] = seconds;
        const Json fields = AlbumJson(album);
        for (auto it = fields.begin(); it != fields.end(); ++it) o[it.key()] = it.value();
        Emit(o);
        return;
    }
    if (!showProgress_) return;
    Console& con = Console::Get();
    con.EndProgress();
    lastBar_.clear();
    if (!con.ErrIsTerminal() && transferring_)
        con.Err("已下载" + std::to_string(album.saved + album.alreadyHad) + "/" + std::to_string(album.listed));
}

void CliPresenter::DownloadFinished(const JobOutcome& outcome) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (json_) {
        Json o;
        o["event"] = "finished";
        o["complete"] = outcome.Complete();
        o["stopped"] = outcome.stopped;
        std::size_t saved = 0, had = 0, failed = 0, notTried = 0, posts = 0;
        FilmCounts films;
        for (const AlbumOutcome& a : outcome.albums) {
            saved += a.saved;
            had += a.alreadyHad;
            failed += a.failed;
            notTried += a.notTried;
            posts += a.posts.listed;
            films.listed += a.films.listed;
            films.saved += a.films.saved;
            films.alreadyHad += a.films.alreadyHad;
            films.failed += a.films.failed;
            films.notTried += a.films.notTried;
        }
        if (films.listed > 0) o["videos"] = FilmsJson(films);
        o["saved"] = saved;
        o["already_had"] = had;
        o["failed"] = failed;
        o["not_tried"] = notTried;
        o["posts"] = posts;
        o["folder"] = ToUtf8(outcome.lastFolder);
        Emit(o);
        return;
    }
    Console& con = Console::Get();
    con.EndProgress();
    if (!showProgress_) return;
    std::size_t notTried = 0;
    for (const AlbumOutcome& a : outcome.albums) notTried += a.notTried;
    con.Err(outcome.stopped ? "下载完毕（已终止，" + std::to_string(notTried) + " 张未下载）" : std::string("下载完毕"));
}

void CliPresenter::Waiting(std::chrono::seconds left) {
    std::lock_guard<std::mutex> lock(mutex_);
    const long before = waitLeft_;
    waitLeft_ = static_cast<long>(left.count());
    if (json_) {
        // One event when a wait begins (and each half minute of a long one).
        if (waitLeft_ > 0 && (before == 0 || waitLeft_ % 30 == 0)) {
            Json o;
            o["event"] = "rate_limited";
            o["wait_seconds"] = waitLeft_;
            Emit(o);
        }
        return;
    }
    Console& con = Console::Get();
    const std::string line = "服务正在限流，等待 " + std::to_string(waitLeft_) + " 秒后继续";
    if (con.ErrIsTerminal()) {
        if (!showProgress_) return;
        if (waitLeft_ > 0) {
            lastBar_.clear();
            con.Progress(line);
        } else {
            DrawLocked();
        }
    } else if (waitLeft_ > 0 && (before == 0 || waitLeft_ % 30 == 0)) {
        // Also on a pipe or a log file: the start of every wait and then every half minute.
        con.Err(line);
    }
}

void CliPresenter::DrawLocked() {
    Console& con = Console::Get();
    if (!showProgress_ || json_ || !con.ErrIsTerminal() || albums_ == 0) return;
    const std::string album = "  相册 " + std::to_string(album_) + "/" + std::to_string(albums_);
    std::string line;
    if (!transferring_) {
        line = "已获取到" + std::to_string(listed_) + "张图片信息" + album;
    } else {
        const std::string counts = "[] " + std::to_string(done_) + "/" + std::to_string(total_) + album;
        const std::size_t kWidth =
            static_cast<std::size_t>(std::max(0, BarCells(con.Columns(), static_cast<int>(counts.size()), 30)));
        const std::size_t filled = total_ > 0 && kWidth > 0 ? std::min(kWidth, done_ * kWidth / total_) : 0;
        line = "[" + std::string(filled, '#') + std::string(kWidth - filled, '-') + "] " + std::to_string(done_) +
               "/" + std::to_string(total_) + album;
    }
    if (line == lastBar_) return;
    lastBar_ = line;
    con.Progress(line);
}

}  // namespace qm::cli
