#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/Session.h"
#include "core/Settings.h"
#include "core/SiteCatalogue.h"
#include "jobs/JobRunner.h"
#include "jobs/ListJob.h"

namespace qm::cli {

namespace {

constexpr char kListUsage[] =
    "usage: quillmoss-cli [--demo] list TARGET [-k|--kind qzone|group|weibo] [-f|--format table|tsv|json] "
    "[-y|--yes|-n|--no]";

constexpr char kListHelp[] =
    "usage: quillmoss-cli [--demo] list TARGET [-k|--kind qzone|group|weibo] [-f|--format table|tsv|json] "
    "[-y|--yes|-n|--no]\n"
    "\n"
    "Lists the albums of TARGET: a QQ number (or a QZone page address), a QQ group number, or a\n"
    "Tencent Weibo page address.\n"
    "\n"
    "  -k, --kind K  qzone (QZone albums of a QQ number), group (QQ group albums) or weibo (Tencent\n"
    "                Weibo albums). Without it the address decides: a Weibo address gives weibo, a\n"
    "                QQ group address gives group, anything else qzone.\n"
    "  -f, --format F table (default), tsv (rows of 序号, 名称, 数量, 备注 separated by tabs, no\n"
    "                header) or json (an array of objects).\n"
    "  -y, --yes, -n, --no\n"
    "                the answer to the program's questions (without them, questions are asked on\n"
    "                the terminal, and answered no when there is none).\n"
    "  --demo        serve everything from the built-in simulator instead of the real services.\n"
    "\n"
    "The program folder (soft.dat, cookies.txt): see quillmoss-cli --help.\n"
    "Exit status: 0 albums listed, 1 nothing found, 2 usage, 130 interrupted.\n";

}  // namespace

const char* ListUsage() {
    return kListUsage;
}

const char* ListHelp() {
    return kListHelp;
}

bool ResolveKind(const std::string* word, TextView target, int& kind) {
    if (word) {
        if (*word == "qzone")
            kind = 0;
        else if (*word == "group")
            kind = 1;
        else if (*word == "weibo")
            kind = 2;
        else
            return false;
        return true;
    }
    kind = 0;
    const auto found = DetectSite(target, 0);
    if (found && found->site == 0 && found->kind >= 0) kind = found->kind;
    return true;
}

ListResult RunList(Session& s, const Text& target, int kind) {
    ListResult result;
    JobRunner runner;
    const ListRequest request{target, static_cast<TargetKind>(kind)};
    const Text programFolder = s.st.programFolder;
    if (runner.PressButton([&] { result = RunListJob(request, s.fe, runner.control, programFolder); }) !=
        JobRunner::Press::Started)
        return result;
    WaitForJob(runner, [&runner] {
        Console::Get().Err("正在终止获取相册列表（再按一次 Ctrl-C 立即退出）");
        runner.control.RequestStop();
    });
    // The recent targets remember a target that gave albums, as the window does.
    if (!result.albums.empty() && AddRecent(s.st, 0, result.target)) SaveSettings(s.st);
    return result;
}

int ListCommand(const GlobalOptions& global, const ListOptions& o) {
    ListFormat format = ListFormat::Table;
    if (o.format == "table")
        format = ListFormat::Table;
    else if (o.format == "tsv")
        format = ListFormat::Tsv;
    else if (o.format == "json")
        format = ListFormat::Json;
    else
        return UsageError("未知的格式 " + o.format, kListUsage);
    const Text target = FromUtf8(o.target);
    int kind = 0;
    if (!ResolveKind(o.kind.empty() ? nullptr : &o.kind, target, kind))
        return UsageError("未知的类型 " + o.kind, kListUsage);

    Session s(o.answer);
    if (!s.Open(global)) return ExitFailure;

    const ListResult result = RunList(s, target, kind);
    const auto& albums = result.albums;
    Console::Get().Out(RenderAlbums(albums, format));
    if (InterruptCount() > 0) return ExitInterrupted;
    return albums.empty() ? ExitFailure : ExitDone;
}

}  // namespace qm::cli
