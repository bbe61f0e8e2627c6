#include <algorithm>
#include <set>
#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Session.h"
#include "app/cli/CliPresenter.h"
#include "app/cli/TerminalText.h"
#include "net/FileUtil.h"
#include "jobs/DownloadJob.h"
#include "jobs/JobRunner.h"
#include "net/Trace.h"

namespace qm::cli {

namespace {

constexpr char kDownloadUsage[] =
    "usage: quillmoss-cli [--demo] download TARGET... --save DIR [--kind qzone|group|weibo] [--albums "
    "all|1,3-5] "
    "[--format table|json] [--refetch|--retry-failed] [--input FILE] [--yes|--no] [-v]";

constexpr char kDownloadHelp[] =
    "usage: quillmoss-cli [--demo] download TARGET... --save DIR [--kind qzone|group|weibo] [--albums "
    "all|1,3-5] "
    "[--format table|json] [--refetch|--retry-failed] [--input FILE] [--yes|--no] [-v]\n"
    "\n"
    "Lists the albums of TARGET (as `list` does), then downloads the chosen ones into DIR, one\n"
    "folder per album below a folder named after the target, with the naming rules and options\n"
    "of `settings`.\n"
    "\n"
    "  --save DIR    the save folder (created when missing).\n"
    "  --albums SEL  all (default), or row numbers of the list (序号) such as 1,3-5.\n"
    "  --kind K      qzone, group or weibo (see `list --help`).\n"
    "  --format F    table (default): a progress bar, then a summary table per album (序号, 名称,\n"
    "                列出, 已保存, 已有, 失败, 原因) and the failed pictures with their reasons;\n"
    "                json: one JSON object per line for every event (album_started, picture,\n"
    "                album_finished, finished), see docs/cli.md.\n"
    "  --yes, --no   the answer to the program's questions (passwords, logins, partial albums).\n"
    "  -v, --verbose trace every request and failure on stderr (as QUILLMOSS_TRACE=1 does).\n"
    "  --refetch     fetch every listed picture again, even those the save folder's archive\n"
    "                (quillmoss-archive.sqlite3) records as saved. Without it a picture whose file\n"
    "                is there with its recorded size is skipped and counted as already had.\n"
    "  --retry-failed  fetch only the pictures the archive records as failed (the albums are\n"
    "                listed again to get fresh addresses).\n"
    "  --input FILE  more targets, one per line (# starts a comment); several TARGETs may also be\n"
    "                given. They run one after the other into DIR, each with its own summary.\n"
    "  --no-gallery  do not write the offline gallery of the target at the end (see `gallery`).\n"
    "  --demo        serve everything from the built-in simulator.\n"
    "\n"
    "Ctrl-C once stops after the pictures in progress (what is done stays); twice quits at once.\n"
    "Exit status: 0 only when every chosen album is complete (each listed picture saved or already\n"
    "had), 1 otherwise, 2 usage, 130 interrupted.\n";

}  // namespace

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
            error = "bad album selection \"" + part + "\" (use all, or numbers like 1,3-5)";
            return false;
        }
        if (from < 1 || to > rows) {
            error = "album " + std::to_string(from < 1 ? from : to) + " is not in the list (1 to " +
                    std::to_string(rows) + ")";
            return false;
        }
        for (int r = from; r <= to; ++r) chosen.insert(r - 1);
        pos = comma + 1;
    }
    out.assign(chosen.begin(), chosen.end());
    return true;
}

namespace {

struct DownloadOptions {
    std::string albumSpec = "all";
    std::string kindWord;  // empty: the address decides
    Text saveFolder;
    bool json = false;
    bool refetch = false;
    bool retryFailed = false;
    bool gallery = true;
};

// Targets of --input FILE: one per line; blank lines and lines starting with '#' are skipped.
bool ReadTargetFile(const std::string& path, std::vector<std::string>& out, std::string& error) {
    std::string bytes;
    if (!ReadWholeFile(PathFromText(FromUtf8(path)), bytes)) {
        error = "cannot read " + path;
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

// Lists one target, downloads its chosen albums and prints its summary. The exit status of this
// target alone.
int DownloadOneTarget(Session& s, const Text& target, const DownloadOptions& opt) {
    Console& con = Console::Get();
    int kind = 0;
    ResolveKind(opt.kindWord.empty() ? nullptr : &opt.kindWord, target, kind);
    const ListResult list = RunList(s, target, kind);
    if (InterruptCount() > 0) return ExitInterrupted;
    const auto& albums = list.albums;
    if (albums.empty()) {
        con.Err("quillmoss-cli: " + EscapeControls(target) + ": no album found");
        return ExitFailure;
    }

    std::vector<int> selection;
    std::string err;
    if (!ParseAlbumSelection(opt.albumSpec, static_cast<int>(albums.size()), selection, err)) {
        con.Out(RenderAlbums(albums, ListFormat::Table));
        return UsageError(err, kDownloadUsage);
    }
    std::vector<ST_PERLISTRECORD> chosen;
    std::vector<int> rowNumbers;
    for (int i : selection) {
        chosen.push_back(albums[static_cast<std::size_t>(i)]);
        rowNumbers.push_back(i + 1);
    }
    con.Err("downloading " + std::to_string(chosen.size()) + " of " + std::to_string(albums.size()) +
            " albums of " + EscapeControls(target) + ":");
    {
        std::string table = RenderAlbums(chosen, ListFormat::Table, &rowNumbers);
        while (!table.empty() && table.back() == '\n') table.pop_back();
        con.Err(table);
    }

    DownloadRequest request;
    request.list = list;
    request.albums = selection;
    request.saveFolder = opt.saveFolder;
    request.settings = s.st.Snapshot();
    request.programFolder = s.st.programFolder;
    request.refetch = opt.refetch;
    request.retryFailed = opt.retryFailed;

    JobOutcome outcome;
    JobRunner runner;
    if (runner.PressButton([&] { outcome = RunDownloadJob(request, s.fe, runner.control); }) !=
        JobRunner::Press::Started)
        return ExitFailure;
    WaitForJob(runner, [&runner] {
        Console::Get().Err("stopping after the pictures in progress (Ctrl-C again to quit at once)");
        runner.control.RequestStop();
    });
    con.EndProgress();

    // The offline gallery of the target, from what is on disk now.
    if (opt.gallery && outcome.error == JobError::None)
        GalleryAfterDownload(opt.saveFolder, list.targetFolder + u"/" + list.targetSubFolder);
    if (!opt.json) {
        con.Out(RenderSummary(list, outcome));
        if (!outcome.openFolder.empty()) con.Err("saved under: " + ToUtf8(outcome.openFolder));
    }
    if (InterruptCount() > 0) return ExitInterrupted;
    if (outcome.error == JobError::SaveFolderUnusable)
        con.Err("quillmoss-cli: the save folder cannot be used: " + outcome.errorText);
    return outcome.Complete() ? ExitDone : ExitFailure;
}

}  // namespace

int DownloadCommand(const std::vector<std::string>& words, bool demo) {
    Args a;
    std::string err;
    if (!ParseArgs(words, {"--kind", "--save", "--albums", "--format", "--input"},
                   {"--yes", "--no", "--demo", "--help", "-h", "--verbose", "-v", "--refetch", "--retry-failed",
                    "--no-gallery"}, a,
                   err))
        return UsageError(err, kDownloadUsage);
    if (a.Has("--help") || a.Has("-h")) {
        Console::Get().Out(kDownloadHelp);
        return ExitDone;
    }
    std::vector<std::string> targets = a.positional;
    if (const std::string* input = a.Value("--input")) {
        if (!ReadTargetFile(*input, targets, err)) {
            Console::Get().Err("quillmoss-cli: " + err);
            return ExitFailure;
        }
    }
    if (targets.empty()) return UsageError("download needs a TARGET (or --input FILE)", kDownloadUsage);
    if (a.Has("--yes") && a.Has("--no"))
        return UsageError("--yes and --no exclude each other", kDownloadUsage);
    if (a.Has("--refetch") && a.Has("--retry-failed"))
        return UsageError("--refetch and --retry-failed exclude each other", kDownloadUsage);
    const std::string* save = a.Value("--save");
    if (!save || save->empty()) return UsageError("download needs --save DIR", kDownloadUsage);

    DownloadOptions opt;
    if (const std::string* k = a.Value("--kind")) {
        int kind = 0;
        if (!ResolveKind(k, Text(), kind)) return UsageError("unknown kind " + *k, kDownloadUsage);
        opt.kindWord = *k;
    }
    opt.albumSpec = a.Value("--albums") ? *a.Value("--albums") : std::string("all");
    if (opt.albumSpec.empty()) return UsageError("--albums needs a value", kDownloadUsage);
    if (const std::string* f = a.Value("--format")) {
        if (*f == "json")
            opt.json = true;
        else if (*f != "table")
            return UsageError("unknown format " + *f + " (table or json)", kDownloadUsage);
    }
    opt.saveFolder = FromUtf8(*save);
    opt.refetch = a.Has("--refetch");
    opt.retryFailed = a.Has("--retry-failed");
    opt.gallery = !a.Has("--no-gallery");
    if (a.Has("--verbose") || a.Has("-v")) SetTraceEnabled(true);

    std::optional<bool> answer;
    if (a.Has("--yes")) answer = true;
    if (a.Has("--no")) answer = false;
    Session s(answer);
    if (!s.Open(demo || a.Has("--demo"))) return ExitFailure;
    s.fe.ShowProgress(!opt.json);
    s.fe.JsonEvents(opt.json);

    // One target after the other, into the one save folder (and its one archive); the status is 0
    // only when every target is complete.
    int status = ExitDone;
    for (std::size_t i = 0; i < targets.size(); ++i) {
        if (targets.size() > 1 && !opt.json)
            Console::Get().Out((i ? "\n" : "") + std::string("# ") + EscapeControls(targets[i]) + "\n");
        const int one = DownloadOneTarget(s, FromUtf8(targets[i]), opt);
        if (one == ExitInterrupted || one == ExitUsage) return one;
        if (one != ExitDone) status = ExitFailure;
    }
    return status;
}

}  // namespace qm::cli
