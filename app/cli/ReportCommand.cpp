// quillmoss-cli report: the completeness of what was downloaded into a save folder, read from the
// folder's archive alone (no network).
#include <algorithm>

#include "app/cli/Commands.h"
#include "app/cli/Console.h"
#include "app/cli/ReportTable.h"
#include "download/Archive.h"

namespace qm::cli {

namespace {

constexpr char kReportUsage[] = "usage: quillmoss-cli report -s|--save DIR [-f|--format table|tsv]";

constexpr char kReportHelp[] =
    "usage: quillmoss-cli report -s|--save DIR [-f|--format table|tsv]\n"
    "\n"
    "从 DIR 里下载时保留的记录（quillmoss-archive.sqlite3）列出曾经为下载到 DIR 而选中的每个相册\n"
    "下载得是否完整，不连服务。每个目标一张表：\n"
    "\n"
    "  序号      相册在目标的相册列表里的序号，与 list 的序号相同\n"
    "  名称      相册名称\n"
    "  应有      相册列表给出的图片数（服务没有给出时为“未知”）\n"
    "  列出      上一次下载时服务列出的图片数（第一次下载完成之前为 -）\n"
    "  已保存    记录为已保存、文件仍在且大小与记录相同的图片数\n"
    "  失败      最后一次尝试失败的图片数\n"
    "  未列出    服务列出的比相册列表给出的少时，应有减去列出\n"
    "  原因      上一次下载的原因、按原因分的失败数、保存后又不见了的文件，\n"
    "            说说相册还有保存的说说条数（说说 N 条）\n"
    "\n"
    "  -s, --save DIR    以前下载时给的保存路径。\n"
    "  -f, --format F    table（默认）或 tsv（每行先是目标，再是上面各栏，以制表符分隔，没有表头）。\n"
    "\n"
    "退出状态：0 每个相册都完整，1 有相册不完整或没有可用的下载记录，2 用法错误。\n";

}  // namespace

const char* ReportUsage() {
    return kReportUsage;
}

const char* ReportHelp() {
    return kReportHelp;
}

int ReportCommand(const GlobalOptions&, const ReportOptions& o) {
    ReportFormat format = ReportFormat::Table;
    if (o.format == "tsv") {
        format = ReportFormat::Tsv;
    } else if (o.format != "table") {
        return UsageError("未知的格式 " + o.format, kReportUsage);
    }
    const std::string* save = &o.save;

    const std::filesystem::path folder(*save);
    ArchiveOpenError error;
    const std::unique_ptr<Archive> archive = Archive::Open(folder, error, /*create=*/false);
    if (!archive) {
        Console::Get().Err("quillmoss-cli: " + DescribeArchiveError(error, folder / kArchiveFileName));
        return ExitFailure;
    }
    const std::vector<AlbumReport> albums = archive->Report();
    if (albums.empty()) {
        Console::Get().Err("quillmoss-cli: 下载记录里还没有相册");
        return ExitFailure;
    }
    Console::Get().Out(RenderReport(albums, format));
    const bool complete = std::all_of(albums.begin(), albums.end(), ReportComplete);
    return complete ? ExitDone : ExitFailure;
}

}  // namespace qm::cli
