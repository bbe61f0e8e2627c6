#include "app/cli/CliFrontend.h"

#include <filesystem>

#include "app/cli/Console.h"
#include "net/FileUtil.h"

namespace qm::cli {

bool ParseFraction(TextView text, TextView prefix, int& done, int& total) {
    const std::size_t at = text.find(prefix);
    if (at == TextView::npos) return false;
    TextView rest = text.substr(at + prefix.size());
    auto number = [&rest](int& out) {
        std::size_t i = 0;
        long long v = 0;
        while (i < rest.size() && rest[i] >= u'0' && rest[i] <= u'9' && v < 100000000)
            v = v * 10 + (rest[i++] - u'0');
        if (i == 0) return false;
        out = static_cast<int>(v);
        rest.remove_prefix(i);
        return true;
    };
    if (!number(done) || rest.empty() || rest.front() != u'/') return false;
    rest.remove_prefix(1);
    return number(total);
}

std::vector<CliFrontend::AlbumResult> CliFrontend::Results() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return results_;
}

std::vector<Text> CliFrontend::Messages() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
}

bool CliFrontend::LoginRequested() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return loginRequested_;
}

void CliFrontend::ShowMessage(const Text& text, const Text& title) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        messages_.push_back(text);
    }
    std::string line = ToUtf8(text);
    if (!title.empty()) line = "[" + ToUtf8(title) + "] " + line;
    Console::Get().Err(line);
}

bool CliFrontend::AskYesNo(const Text& text, const Text& title) {
    std::string question = ToUtf8(text);
    if (!title.empty()) question = "[" + ToUtf8(title) + "] " + question;
    Console& con = Console::Get();
    if (answer_) {
        con.Err(question + (*answer_ ? " -> 是 (--yes)" : " -> 否 (--no)"));
        return *answer_;
    }
    if (!con.InIsTerminal()) {
        con.Err(question + " -> 否 (no terminal to ask; pass --yes to answer yes)");
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

void CliFrontend::RequestLogin(const Text& url) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        loginRequested_ = true;
    }
    Console::Get().Err(
        "a web browser is needed here: " + ToUtf8(url) +
        "\n  Open that address in a browser and log in (or enter the album's password there), export "
        "the browser's cookies for qq.com to a cookies.txt file and run\n"
        "    quillmoss-cli cookies import cookies.txt\n"
        "  or copy the Cookie header of a request to qzone.qq.com and run\n"
        "    quillmoss-cli cookies import --domain qq.com 'uin=o12345678; skey=@AbCdEfGhI; p_skey=...'\n"
        "  then run the command again.");
}

Text CliFrontend::ControlText(Ctl id) {
    if (id == Ctl::Target) return target_;
    if (id == Ctl::SaveFolder) return saveFolder_;
    return Text();
}

void CliFrontend::SetControlText(Ctl id, const Text& text) {
    if (!showProgress_) return;
    Console& con = Console::Get();
    std::lock_guard<std::mutex> lock(mutex_);
    if (id == Ctl::Status) {
        int a = 0, n = 0;
        if (ParseFraction(text, u"第", a, n)) {
            album_ = a;
            albums_ = n;
            done_ = total_ = 0;
            started_.push_back(a);
        }
        FlushListedLocked();
        if (!text.empty()) con.Err(ToUtf8(text));
        DrawProgressLocked();
    } else if (id == Ctl::Progress) {
        if (text == lastProgress_) return;
        lastProgress_ = text;
        int d = 0, t = 0;
        if (ParseFraction(text, u"已下载", d, t)) {
            done_ = d;
            total_ = t;
        }
        if (con.ErrIsTerminal()) {
            if (text.rfind(u"已获取到", 0) == 0)
                listed_ = text;  // shown in the bar while listing
            else if (!text.empty() && text.find_first_not_of(u'.') != Text::npos)
                listed_.clear();
            DrawProgressLocked();
            return;
        }
        // Plain lines: the count of listed pictures only once it has settled, and no filler dots.
        if (text.rfind(u"已获取到", 0) == 0) {
            listed_ = text;
            return;
        }
        FlushListedLocked();
        if (text.find_first_not_of(u'.') != Text::npos) con.Err(ToUtf8(text));
    }
}

void CliFrontend::FlushListedLocked() {
    if (listed_.empty()) return;
    Console::Get().Err(ToUtf8(listed_));
    listed_.clear();
}

std::vector<int> CliFrontend::StartedAlbums() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return started_;
}

void CliFrontend::DrawProgressLocked() {
    Console& con = Console::Get();
    if (!con.ErrIsTerminal() || albums_ == 0) return;
    std::string line;
    const std::string album = "  album " + std::to_string(album_) + "/" + std::to_string(albums_);
    if (total_ == 0 && !listed_.empty()) {
        line = ToUtf8(listed_) + album;
    } else {
        const std::string counts = "[] " + std::to_string(done_) + "/" + std::to_string(total_) + album;
        const int kWidth = BarCells(con.Columns(), static_cast<int>(counts.size()), 30);
        const int filled = total_ > 0 ? std::min(kWidth, done_ * kWidth / total_) : 0;
        line = "[" + std::string(static_cast<std::size_t>(filled), '#') +
               std::string(static_cast<std::size_t>(kWidth - filled), '-') + "] " + std::to_string(done_) +
               "/" + std::to_string(total_) + album;
    }
    if (line == lastBar_) return;
    lastBar_ = line;
    con.Progress(line);
}

void CliFrontend::AlbumDownloaded(unsigned seconds, unsigned pictures) {
    (void)seconds;
    (void)pictures;
    AlbumResult r;
    if (state_) {
        // The manager calls this once the album's workers are done and before the controller
        // moves on, so the task list still describes this album.
        const ST_DOWNTASK& task = state_->task;
        r.folder = task.albumFolder;
        r.pictures = static_cast<unsigned>(task.fileNames.size());
        std::error_code ec;
        for (const Text& name : task.fileNames)
            if (std::filesystem::is_regular_file(PathFromText(task.albumFolder + name), ec)) ++r.saved;
    }
    std::lock_guard<std::mutex> lock(mutex_);
    r.position = album_;
    results_.push_back(r);
    lastBar_.clear();
    Console::Get().EndProgress();
}

void CliFrontend::AlbumAdded(int index) {
    // The album table shows at most 80 characters of a name, and the record keeps what the table
    // shows, so the album folder is named the same way under every front end.
    if (state_ && index >= 0) state_->albums.CutName(static_cast<std::size_t>(index), 80);
}

void CliFrontend::OpenFolder(const Text& path) {
    Console::Get().Err("saved under: " + ToUtf8(path));
}

}  // namespace qm::cli
