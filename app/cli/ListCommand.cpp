#include <thread>

#include "app/cli/AlbumTableText.h"
#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/Interrupt.h"
#include "app/cli/ServiceWords.h"
#include "app/cli/Session.h"
#include "core/Settings.h"
#include "core/SiteCatalogue.h"
#include "jobs/JobRunner.h"
#include "jobs/ListJob.h"
#include "sites/Services.h"

namespace qm::cli {

namespace {

constexpr char kListUsage[] =
    "usage: quillmoss-cli [--demo] list TARGET [-k|--kind {kinds|}] [-f|--format table|tsv|json] "
    "[-y|--yes|-n|--no]";

constexpr char kListHelp[] =
    "usage: quillmoss-cli [--demo] list TARGET [-k|--kind {kinds|}] [-f|--format table|tsv|json] [-y|--yes|-n|--no]\n"
    "\n"
    "列出 TARGET 的相册：{targets}。\n"
    "\n"
    "  -k, --kind K  {kinds+}。\n"
    "                不给时由网址决定：{by-address}。\n"
    "  -f, --format F table（默认）、tsv（序号、名称、数量、备注，以制表符分隔，没有表头）\n"
    "                或 json（对象数组）。\n"
    "  -y, --yes, -n, --no\n"
    "                程序提问的回答（不给时在终端上提问，没有终端则回答“否”）。\n"
    "  --demo        全部由内置的模拟服务应答，不连真实的服务。\n"
    "\n"
    "程序文件夹（soft.dat、cookies.txt）：见 quillmoss-cli --help。\n"
    "退出状态：0 已列出，1 没有找到，2 用法错误，130 被中断。\n";

}  // namespace

const char* ListUsage() {
    static const std::string usage = ServiceWords(kListUsage);
    return usage.c_str();
}

const char* ListHelp() {
    static const std::string help = ServiceWords(kListHelp);
    return help.c_str();
}

bool ResolveKind(const std::string* word, TextView target, int& kind) {
    if (word) {
        const Service* service = ServiceByWord(*word);
        if (!service) return false;
        kind = static_cast<int>(service->kind);
        return true;
    }
    kind = static_cast<int>(Services().front().kind);
    const auto found = DetectSite(target, 0);
    if (found && found->site == 0) kind = static_cast<int>(ServiceOfAddress(target).kind);
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
        return UsageError("未知的格式 " + o.format, ListUsage());
    const Text target = FromUtf8(o.target);
    int kind = 0;
    if (!ResolveKind(o.kind.empty() ? nullptr : &o.kind, target, kind))
        return UsageError("未知的类型 " + o.kind, ListUsage());

    Session s(o.answer);
    if (!s.Open(global)) return ExitFailure;

    const ListResult result = RunList(s, target, kind);
    const auto& albums = result.albums;
    Console::Get().Out(RenderAlbums(albums, format));
    if (InterruptCount() > 0) return ExitInterrupted;
    return albums.empty() ? ExitFailure : ExitDone;
}

}  // namespace qm::cli
