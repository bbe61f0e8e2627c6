#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Session.h"
#include "app/cli/CliPresenter.h"
#include "app/cli/TerminalText.h"
#include "jobs/DownloadJob.h"
#include "jobs/JobRunner.h"
#include "net/FileUtil.h"
#include "net/Trace.h"

namespace qm::cli {

namespace {

constexpr char kDownloadUsage[] =
    "usage: quillmoss-cli [--demo] download TARGET... -s|--save DIR [-k|--kind qzone|group|weibo] "
    "[-a|--albums all|1,3-5] [-f|--format table|json] [--refetch|--retry-failed] [-i|--input FILE] "
    "[--album-password ID=PASSWORD] [-y|--yes|-n|--no] [-q|--quiet|--no-progress] [-v|--verbose]";

constexpr char kDownloadHelp[] =
    "usage: quillmoss-cli [--demo] download TARGET... -s|--save DIR [-k|--kind qzone|group|weibo] "
    "[-a|--albums all|1,3-5] [-f|--format table|json] [--refetch|--retry-failed] [-i|--input FILE] "
    "[--album-password ID=PASSWORD] [-y|--yes|-n|--no] [-q|--quiet|--no-progress] [-v|--verbose]\n"
    "\n"
    "Lists the albums of TARGET (as `list` does), then downloads the chosen ones into DIR, one\n"
    "folder per album below a folder named after the target, with the naming rules and options\n"
    "of `settings`.\n"
    "\n"
    "  -s, --save DIR    the save folder (created when missing).\n"
    "  -a, --albums SEL  all (default), or row numbers of the list (序号) such as 1,3-5.\n"
    "  -k, --kind K      qzone, group or weibo (see `list --help`).\n"
    "  -y, --yes, -n, --no\n"
    "                    the answer to the program's questions (passwords, logins, partial albums).\n"
    "  --album-password ID=PASSWORD\n"
    "                    the password of an encrypted album, ID being its number in the list (4 or\n"
    "                    0004) or its album id; repeat it for several albums. Without it the\n"
    "                    password is asked on the terminal (not shown while typed).\n"
    "  -q, --quiet       no progress and no album lines: the program's messages and the summary.\n"
    "  --no-progress     the album lines, but no progress bar or progress lines.\n"
    "  --no-gallery      do not write the offline gallery of the target at the end (see `gallery`).\n"
    "  -f, --format F    table (default): a progress bar, then one summary table per target (序号,\n"
    "                    名称, 列出, 已保存, 已有, 失败, 原因) and the failed pictures with their\n"
    "                    reasons; json: one JSON object per line for every event (album_started,\n"
    "                    picture, album_finished, finished), see docs/cli.md (installed as\n"
    "                    /usr/share/doc/quillmoss/cli.md.gz).\n"
    "  --refetch         fetch every listed picture again, even those the save folder's archive\n"
    "                    (quillmoss-archive.sqlite3) records as saved. Without it a picture whose\n"
    "                    file is there with its recorded size is skipped and counted as already had.\n"
    "  --retry-failed    fetch only the pictures the archive records as failed (the albums are\n"
    "                    listed again for fresh addresses).\n"
    "  -i, --input FILE  more targets, one per line (# starts a comment). Several TARGETs run one\n"
    "                    after the other into DIR, each with its own summary.\n"
    "  -v, --verbose     trace every request and failure on stderr (as QUILLMOSS_TRACE=1 does).\n"
    "  --demo            serve everything from the built-in simulator.\n"
    "\n"
    "The progress bar fits the terminal's width; a pipe or TERM=dumb gets plain lines.\n"
    "\n"
    "Ctrl-C once stops after the pictures in progress (what is done stays); twice quits at once.\n"
    "Exit status: 0 only when every chosen album of every target is complete (each listed picture\n"
    "saved or already had), 1 otherwise, 2 usage, 130 interrupted.\n";

}  // namespace

const char* DownloadUsage() {
    return kDownloadUsage;
}

const char* DownloadHelp() {
    return kDownloadHelp;
}

bool ParseAlbumSelection(const std::string& text, int rows, std::vector<int>& out, std::string& error) {
    out.clear();
    if (text == "all") {
        for (int i = 0; i < rows; ++i) out.push_back(i);
        return true;
    }
    std::set<int> chosen;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t comma = text.find(',', pos);
        if (comma == std::string::npos) comma = text.size();
        const std::string part = text.substr(pos, comma - pos);
        auto number = [](const std::string& s, int& v) {
            if (s.empty() || s.size() > 9 || s.find_first_not_of("0123456789") != std::string::npos)
                return false;
            v = std::stoi(s);
            return true;
        };
        int from = 0, to = 0;
        const std::size_t dash = part.find('-');
        const bool ok = dash == std::string::npos
                            ? number(part, from) && (to = from, true)
                            : number(part.substr(0, dash), from) && number(part.substr(dash + 1), to);
        if (!ok || from > to) {
            error = "相册选择有误：\"" + part + "\"（用 all，或 1,3-5 这样的序号）";
            return false;
        }
        if (from < 1 || to > rows) {
            error = "第 " + std::to_string(from < 1 ? from : to) + " 个相册不在列表里（序号 1 到 " +
                    std::to_string(rows) + "）";
            return false;
        }
        for (int r = from; r <= to; ++r) chosen.insert(r - 1);
        pos = comma + 1;
    }
    out.assign(chosen.begin(), chosen.end());
    return true;
}

namespace {

// Targets of --input FILE: one per line; blank lines and lines starting with '#' are skipped.
bool ReadTargetFile(const std::string& path, std::vector<std::string>& out, std::string& error) {
    std::string bytes;
    if (!ReadWholeFile(PathFromText(FromUtf8(path)), bytes)) {
        error = "无法读取 " + path;
        return false;
    }
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        std::size_t end = bytes.find('\n', pos);
        if (end == std::string::npos) end = bytes.size();
        const std::string line = ToUtf8(Trim(FromUtf8(std::string_view(bytes).substr(pos, end - pos))));
        if (!line.empty() && line[0] != '#') out.push_back(line);
        pos = end + 1;
    }
    return true;
}

// The target's folder inside the save folder, as the download named it.
std::string TargetFolderText(const Text& saveFolder, const ListResult& list) {
    std::filesystem::path folder = PathFromText(saveFolder) / PathFromText(list.targetFolder);
    if (!list.targetSubFolder.empty()) folder /= PathFromText(list.targetSubFolder);
    Text text = TextFromPath(folder.lexically_normal());
    if (!text.empty() && text.back() != u'/') text += u'/';
    return ToUtf8(text);
}

// Lists one target, downloads its chosen albums and prints its summary. The exit status of this
// target alone.
int DownloadOneTarget(Session& s, const Text& target, const DownloadOptions& o, bool json) {
    Console& con = Console::Get();
    int kind = 0;
    ResolveKind(o.kind.empty() ? nullptr : &o.kind, target, kind);
    const ListResult list = RunList(s, target, kind);
    if (InterruptCount() > 0) return ExitInterrupted;
    const auto& albums = list.albums;
    if (albums.empty()) {
        con.Err("quillmoss-cli: " + EscapeControls(target) + ": 没有找到相册");
        return ExitFailure;
    }

    std::vector<int> selection;
    std::string err;
    if (!ParseAlbumSelection(o.albums, static_cast<int>(albums.size()), selection, err)) {
        con.Out(RenderAlbums(albums, ListFormat::Table));
        return UsageError(err, kDownloadUsage);
    }
    std::vector<ST_PERLISTRECORD> chosen;
    std::vector<int> rowNumbers;
    for (int i : selection) {
        chosen.push_back(albums[static_cast<std::size_t>(i)]);
        rowNumbers.push_back(i + 1);
    }
    if (!o.quiet) {
        con.Err("下载 " + EscapeControls(target) + " 的 " + std::to_string(chosen.size()) + " 个相册（共 " +
                std::to_string(albums.size()) + " 个）：");
        std::string table = RenderAlbums(chosen, ListFormat::Table, &rowNumbers);
        while (!table.empty() && table.back() == '\n') table.pop_back();
        con.Err(table);
    }

    DownloadRequest request;
    request.list = list;
    request.albums = selection;
    request.saveFolder = FromUtf8(o.save);
    request.settings = s.st.Snapshot();
    request.programFolder = s.st.programFolder;
    request.refetch = o.refetch;
    request.retryFailed = o.retryFailed;

    JobOutcome outcome;
    JobRunner runner;
    if (runner.PressButton([&] { outcome = RunDownloadJob(request, s.fe, runner.control); }) !=
        JobRunner::Press::Started)
        return ExitFailure;
    WaitForJob(runner, [&runner] {
        Console::Get().Err("正在终止：等正在下载的图片结束（再按一次 Ctrl-C 立即退出）");
        runner.control.RequestStop();
    });
    con.EndProgress();

    // The offline gallery of the target, from what is on disk now (unless the settings or
    // --no-gallery turn it off).
    const bool galleryOff = (request.settings.profile.SiteFlags & SiteFlag::NoGalleryAfterDownload) != 0;
    if (!o.noGallery && !galleryOff && outcome.error == JobError::None && InterruptCount() == 0)
        GalleryAfterDownload(request.saveFolder, list.targetFolder + u"/" + list.targetSubFolder);
    if (!json) {
        con.Out(RenderSummary(list, outcome));
        // The target's folder holds every album of the run (not only the last one).
        if (!outcome.openFolder.empty())
            con.Err("保存在: " + EscapeControls(TargetFolderText(request.saveFolder, list)));
    }
    if (InterruptCount() > 0) return ExitInterrupted;
    if (outcome.error == JobError::SaveFolderUnusable)
        con.Err("quillmoss-cli: 保存路径无法使用: " + outcome.errorText);
    return outcome.Complete() ? ExitDone : ExitFailure;
}

}  // namespace

int DownloadCommand(const GlobalOptions& global, const DownloadOptions& o) {
    std::string err;
    std::vector<std::string> targets = o.targets;
    if (!o.input.empty() && !ReadTargetFile(o.input, targets, err)) {
        Console::Get().Err("quillmoss-cli: " + err);
        return ExitFailure;
    }
    if (targets.empty()) return UsageError("download 需要一个 TARGET（或 --input FILE）", kDownloadUsage);
    if (!o.kind.empty()) {
        int kind = 0;
        if (!ResolveKind(&o.kind, Text(), kind)) return UsageError("未知的类型 " + o.kind, kDownloadUsage);
    }
    if (o.format != "table" && o.format != "json")
        return UsageError("未知的格式 " + o.format + "（table 或 json）", kDownloadUsage);
    if (o.refetch && o.retryFailed)
        return UsageError("--refetch 和 --retry-failed 不能同时使用", kDownloadUsage);
    std::map<std::string, std::string> passwords;
    for (const std::string& given : o.albumPasswords) {
        const std::size_t eq = given.find('=');
        if (eq == 0 || eq == std::string::npos)
            return UsageError("--album-password 要写成 序号=密码 或 相册ID=密码: " + given, kDownloadUsage);
        passwords[given.substr(0, eq)] = given.substr(eq + 1);
    }
    const bool json = o.format == "json";
    if (o.verbose) SetTraceEnabled(true);
    if (o.quiet || o.noProgress) Console::Get().DisableProgress();

    Session s(o.answer);
    if (!s.Open(global)) return ExitFailure;
    s.fe.ShowProgress(!json && !o.quiet);
    s.fe.JsonEvents(json);
    s.fe.SetAlbumPasswords(std::move(passwords));

    // One target after the other, into the one save folder (and its one archive); the status is 0
    // only when every target is complete.
    int status = ExitDone;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets.size() > 1 && !json)
            Console::Get().Out((i ? "\n" : "") + std::string("# ") + EscapeControls(targets[i]) + "\n");
        const int one = DownloadOneTarget(s, FromUtf8(targets[i]), o, json);
        if (one == ExitInterrupted || one == ExitUsage) return one;
        if (one != ExitDone) status = ExitFailure;
    }
    return status;
}

}  // namespace qm::cli
