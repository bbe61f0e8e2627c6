#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ServiceWords.h"
#include "app/cli/Session.h"
#include "app/cli/TargetFile.h"
#include "app/cli/CliPresenter.h"
#include "app/cli/TerminalText.h"
#include "jobs/DownloadJob.h"
#include "jobs/JobRunner.h"
#include "net/FileUtil.h"
#include "net/Trace.h"

namespace qm::cli {

namespace {

constexpr char kDownloadUsage[] =
    "usage: quillmoss-cli [--demo] download TARGET... -s|--save DIR [-k|--kind {kinds|}] "
    "[-a|--albums all|1,3-5] [-f|--format table|json] [--refetch|--retry-failed] [-i|--input FILE] "
    "[--album-password ID=PASSWORD] [-y|--yes|-n|--no] [-q|--quiet|--no-progress] [-v|--verbose]";

constexpr char kDownloadHelp[] =
    "usage: quillmoss-cli [--demo] download TARGET... -s|--save DIR [-k|--kind {kinds|}] "
    "[-a|--albums all|1,3-5] [-f|--format table|json] [--refetch|--retry-failed] [-i|--input FILE] "
    "[--album-password ID=PASSWORD] [-y|--yes|-n|--no] [-q|--quiet|--no-progress] [-v|--verbose]\n"
    "\n"
    "先像 list 那样列出 TARGET 的相册，再把选中的相册下载到 DIR：每个相册一个文件夹，放在以\n"
    "目标命名的文件夹下，文件名规则和选项见 settings。\n"
    "\n"
    "  -s, --save DIR    保存路径（不存在时创建）。\n"
    "  -a, --albums SEL  all（默认），或列表里的序号，例如 1,3-5。\n"
    "  -k, --kind K      {kinds}（见 list --help）。\n"
    "  -y, --yes, -n, --no\n"
    "                    程序提问的回答（密码、登录、未列完的相册）。\n"
    "  --album-password ID=PASSWORD\n"
    "                    加密相册的密码，ID 是它在列表里的序号（4 或 0004）或相册 ID；可重复给出。\n"
    "                    不给时在终端上询问密码（输入时不显示）。\n"
    "  -q, --quiet       不显示进度和相册行：只有程序的消息和汇总表。\n"
    "  --no-progress     显示相册行，但没有进度条和进度行。\n"
    "  --no-gallery      结束时不生成目标的离线浏览页（见 gallery）。\n"
    "  -f, --format F    table（默认）：进度条，然后每个目标一张汇总表（序号、名称、列出、已保存、\n"
    "                    已有、失败、原因）和失败的图片及原因；json：每个事件一行 JSON 对象\n"
    "                    （album_started、picture、album_finished、finished），见 docs/cli.md\n"
    "                    （安装后在 /usr/share/doc/quillmoss/cli.md.gz）。\n"
    "  --refetch         重新下载列出的每张图片，包括保存路径的档案（quillmoss-archive.sqlite3）\n"
    "                    记为已保存的。不给时，文件还在且大小与记录相同的图片跳过，算作“已有”。\n"
    "  --retry-failed    只下载档案记为失败的图片（相册会重新列出，以取得新的地址）。\n"
    "  -i, --input FILE  更多目标，每行一个（# 开头为注释；最多 10000 个目标，每行最多 4096 字节）。\n"
    "                    多个 TARGET 依次下载到 DIR，各有汇总表。\n"
    "  -v, --verbose     在标准错误上记录每个请求和失败（同 QUILLMOSS_TRACE=1）。\n"
    "  --demo            全部由内置的模拟服务应答。\n"
    "\n"
    "进度条适应终端宽度；管道或 TERM=dumb 得到普通的文字行。\n"
    "\n"
    "按一次 Ctrl-C 等正在下载的图片结束后停止（已完成的保留）；按两次立即退出。\n"
    "退出状态：只有每个目标选中的每个相册都完整（列出的每张图片都已保存或已有）时为 0，否则 1；\n"
    "2 用法错误，130 被中断。\n";

}  // namespace

const char* DownloadUsage() {
    static const std::string usage = ServiceWords(kDownloadUsage);
    return usage.c_str();
}

const char* DownloadHelp() {
    static const std::string help = ServiceWords(kDownloadHelp);
    return help.c_str();
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
        return UsageError(err, DownloadUsage());
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
    if (!o.input.empty()) {
        const TargetFileEnd end = ReadTargetFile(o.input, targets, err, [] { return InterruptCount() > 0; });
        if (end == TargetFileEnd::Interrupted) return ExitInterrupted;
        if (end != TargetFileEnd::Read) {
            Console::Get().Err("quillmoss-cli: " + err);
            return ExitFailure;
        }
    }
    if (targets.empty()) return UsageError("download 需要一个 TARGET（或 --input FILE）", DownloadUsage());
    if (!o.kind.empty()) {
        int kind = 0;
        if (!ResolveKind(&o.kind, Text(), kind)) return UsageError("未知的类型 " + o.kind, DownloadUsage());
    }
    if (o.format != "table" && o.format != "json")
        return UsageError("未知的格式 " + o.format + "（table 或 json）", DownloadUsage());
    if (o.refetch && o.retryFailed)
        return UsageError("--refetch 和 --retry-failed 不能同时使用", DownloadUsage());
    std::map<std::string, std::string> passwords;
    for (const std::string& given : o.albumPasswords) {
        const std::size_t eq = given.find('=');
        if (eq == 0 || eq == std::string::npos)
            return UsageError("--album-password 要写成 序号=密码 或 相册ID=密码: " + given, DownloadUsage());
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
