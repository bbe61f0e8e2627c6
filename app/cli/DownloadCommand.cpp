#include <algorithm>
#include <set>
#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Session.h"
#include "core/jobs/DownloadJob.h"

namespace qm::cli {

namespace {

constexpr char kDownloadUsage[] =
    "usage: quillmoss-cli [--demo] download TARGET -s|--save DIR [-k|--kind qzone|group|weibo] "
    "[-a|--albums all|1,3-5] [-y|--yes|-n|--no] [-q|--quiet|--no-progress]";

constexpr char kDownloadHelp[] =
    "usage: quillmoss-cli [--demo] download TARGET -s|--save DIR [-k|--kind qzone|group|weibo] "
    "[-a|--albums all|1,3-5] [-y|--yes|-n|--no] [-q|--quiet|--no-progress]\n"
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
    "  -q, --quiet       no progress and no album lines: the program's messages and the summary.\n"
    "  --no-progress     the album lines, but no progress bar or progress lines.\n"
    "  --no-gallery      do not write the offline gallery of the target at the end (see `gallery`).\n"
    "  --demo            serve everything from the built-in simulator.\n"
    "\n"
    "The progress bar fits the terminal's width; a pipe or TERM=dumb gets plain lines.\n"
    "\n"
    "Ctrl-C once stops after the pictures in progress (what is done stays); twice quits at once.\n"
    "Exit status: 0 done, 1 a picture failed or nothing was found, 2 usage, 130 interrupted.\n";

bool IsSaveFolderError(const Text& message) {
    return message == u"请先设置保存路径" || message == u"请检测设置的保存路径是否有误" ||
           message.find(u"Create thread:") == 0;
}

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

int DownloadCommand(const GlobalOptions& global, const DownloadOptions& o) {
    std::string err;
    const Text target = FromUtf8(o.target);
    int kind = 0;
    if (!ResolveKind(o.kind.empty() ? nullptr : &o.kind, target, kind))
        return UsageError("unknown kind " + o.kind, kDownloadUsage);
    const std::string& albumSpec = o.albums;
    const std::string* save = &o.save;
    if (o.quiet || o.noProgress) Console::Get().DisableProgress();

    Session s(o.answer);
    if (!s.Open(global)) return ExitFailure;
    Console& con = Console::Get();

    RunListJob(s, target, kind);
    if (InterruptCount() > 0) return ExitInterrupted;
    const auto albums = s.st.albums.Snapshot();
    if (albums.empty()) return ExitFailure;

    std::vector<int> selection;
    if (!ParseAlbumSelection(albumSpec, static_cast<int>(albums.size()), selection, err)) {
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
        con.Err("downloading " + std::to_string(chosen.size()) + " of " + std::to_string(albums.size()) +
                " albums:");
        std::string table = RenderAlbums(chosen, ListFormat::Table, &rowNumbers);
        while (!table.empty() && table.back() == '\n') table.pop_back();
        con.Err(table);
    }

    s.fe.SetSaveFolder(FromUtf8(*save));
    s.fe.SetSelection(selection);
    s.fe.ShowProgress(!o.quiet);
    std::thread job;
    if (!PressDownloadButton(s.st, job)) return ExitFailure;
    WaitForJob(job, s.st.DownloadJobState, [&s] {
        Console::Get().Err("stopping after the pictures in progress (Ctrl-C again to quit at once)");
        // A stop request for a job that is still running; one that has just ended stays ended.
        uint8_t state = s.st.DownloadJobState.load();
        while (state != DownloadIdle &&
               !s.st.DownloadJobState.compare_exchange_weak(state, DownloadStopRequested)) {
        }
        if (state != DownloadIdle) s.st.StopFlag = 1;
    });
    con.EndProgress();

    // Summary: per chosen album its folder and the pictures on disk.
    bool anyFailed = false;
    const auto results = s.fe.Results();
    const auto started = s.fe.StartedAlbums();
    std::string summary = "序号\t名称\tsaved\tfailed\tfolder\n";
    for (std::size_t i = 0; i < chosen.size(); ++i) {
        const int position = static_cast<int>(i) + 1;
        std::string line = ToUtf8(CellsOf(chosen[i], selection[i] + 1).number);
        line += "\t" + ToUtf8(chosen[i].Name) + "\t";
        const auto r =
            std::find_if(results.begin(), results.end(),
                         [position](const CliFrontend::AlbumResult& x) { return x.position == position; });
        if (r != results.end()) {
            const unsigned failed = r->pictures - r->saved;
            anyFailed = anyFailed || failed > 0;
            line += std::to_string(r->saved) + "\t" + std::to_string(failed) + "\t" + ToUtf8(r->folder);
        } else if (std::find(started.begin(), started.end(), position) != started.end()) {
            line += "0\t0\t(no picture to download)";
        } else {
            line += "0\t0\t(not started)";
        }
        summary += line + "\n";
    }
    con.Out(summary);
    if (InterruptCount() > 0) return ExitInterrupted;
    if (!o.noGallery)
        GalleryAfterDownload(FromUtf8(*save), s.st.TargetFolder + u"/" + s.st.TargetSubFolder);
    for (const Text& m : s.fe.Messages())
        if (IsSaveFolderError(m)) return ExitFailure;
    return anyFailed ? ExitFailure : ExitDone;
}

}  // namespace qm::cli
