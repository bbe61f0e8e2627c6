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
    "Shows, for every album ever chosen for a download into DIR, how complete it is, from the\n"
    "archive that downloads keep in DIR (quillmoss-archive.sqlite3). Nothing is fetched. One table\n"
    "per target:\n"
    "\n"
    "  序号      the album's number in the target's album list, as list numbers it\n"
    "  名称      the album's name\n"
    "  应有      the picture count of the album list (未知 when the service gave none)\n"
    "  列出      the pictures the service listed in the last run (- before the first finished run)\n"
    "  已保存    pictures recorded as saved whose file is still there with its recorded size\n"
    "  失败      pictures whose last attempt failed\n"
    "  未列出    应有 minus 列出, when the service listed fewer than the album list announced\n"
    "  原因      the last run's reason, the failures by reason, files gone since they were saved,\n"
    "            and for the mood album the posts kept (说说 N 条)\n"
    "\n"
    "  -s, --save DIR    the save folder of earlier downloads.\n"
    "  -f, --format F    table (default) or tsv (rows of the target, then the cells above, no header).\n"
    "\n"
    "Exit status: 0 every album complete, 1 an album incomplete or no usable archive, 2 usage.\n";

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
        return UsageError("unknown format " + o.format, kReportUsage);
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
        Console::Get().Err("quillmoss-cli: the archive records no album yet");
        return ExitFailure;
    }
    Console::Get().Out(RenderReport(albums, format));
    const bool complete = std::all_of(albums.begin(), albums.end(), ReportComplete);
    return complete ? ExitDone : ExitFailure;
}

}  // namespace qm::cli
