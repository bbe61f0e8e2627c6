#include "app/cli/ReportTable.h"

#include <algorithm>

#include "app/cli/AlbumTableText.h"
#include "net/TerminalSafe.h"
#include "sites/Services.h"

namespace qm::cli {

namespace {

// Names and reasons may hold what a server or the system wrote: control characters are shown
// escaped so they cannot move the terminal's cursor or split a row.
std::string Printable(const std::string& s) {
    return EscapeForTerminal(s);
}

std::string AlbumReasonText(const AlbumReport& r) {
    std::string detail = r.lastReasonText.empty() ? std::string() : "：" + r.lastReasonText;
    switch (r.lastReason) {
        case AlbumReason::None:
            return {};
        case AlbumReason::NoAccess:
            return "无权访问";
        case AlbumReason::Password:
            return "需要密码";
        case AlbumReason::Empty:
            return "没有图片";
        case AlbumReason::RateLimited:
            return "限流";
        case AlbumReason::LoginNeeded:
            return "需要登录";
        case AlbumReason::Network:
            return "网络错误" + detail;
        case AlbumReason::Stopped:
            return "已中止";
        case AlbumReason::Unwritable:
            return "无法写入" + detail;
    }
    return {};
}

std::string FailureText(const FailureTally& t) {
    const std::string detail = t.text.empty() ? std::string() : "（" + t.text + "）";
    switch (t.kind) {
        case FailureKind::HttpStatus:
            return "HTTP " + std::to_string(t.httpStatus);
        case FailureKind::Timeout:
            return "超时";
        case FailureKind::SizeLimit:
            return "大小超出限制";
        case FailureKind::WriteError:
            return "写入失败" + detail;
        case FailureKind::Connection:
            return "连接失败" + detail;
        case FailureKind::Unsafe:
            return "路径不安全";
        case FailureKind::RateLimited:
            return "限流";
        case FailureKind::DiskFull:
            return "磁盘已满";
        case FailureKind::NotAPicture:
            return "不是图片" + detail;
        case FailureKind::FilmNotReady:
            return "视频未就绪";
        case FailureKind::FilmStreamOnly:
            return "只有在线播放地址";
        default:
            return "其他错误" + detail;
    }
}

struct Row {
    std::string cells[8];
};

std::string Padded(const std::string& s, int width) {
    const int pad = width - DisplayWidth(FromUtf8(s));
    return pad > 0 ? s + std::string(static_cast<std::size_t>(pad), ' ') : s;
}

std::string Count(std::size_t n) {
    return std::to_string(n);
}

}  // namespace

bool ReportComplete(const AlbumReport& r) {
    return r.lastReason == AlbumReason::None && !r.folder.empty() && r.listed > 0 && r.failed == 0 &&
           r.missing == 0 &&
           r.saved >= static_cast<std::size_t>(r.listed);
}

std::string ReportReason(const AlbumReport& r) {
    std::vector<std::string> parts;
    if (std::string a = AlbumReasonText(r); !a.empty()) parts.push_back(std::move(a));
    if (r.listOnly) parts.push_back("只写了地址列表，未下载");
    if (r.listed < 0 && parts.empty()) parts.push_back("未完成过一次下载");
    for (const FailureTally& t : r.failures) parts.push_back(FailureText(t) + " ×" + Count(t.count));
    if (r.folder.empty()) parts.push_back("记录的文件夹不在保存文件夹内，未查看");
    if (r.missing > 0) parts.push_back(Count(r.missing) + " 个已保存的文件不在了");
    if (r.posts > 0) parts.push_back("说说 " + Count(r.posts) + " 条");
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : "；") + p;
    return Printable(out);
}

std::string RenderReport(const std::vector<AlbumReport>& albums, ReportFormat format) {
    static const char* kHead[8] = {"序号", "名称", "应有", "列出", "已保存", "失败", "未列出", "原因"};
    std::string out;
    std::size_t i = 0;
    while (i < albums.size()) {
        // One table per target, in the archive's order.
        std::vector<Row> rows;
        const AlbumReport& first = albums[i];
        for (int n = 1; i < albums.size() && albums[i].kind == first.kind && albums[i].target == first.target;
             ++i, ++n) {
            const AlbumReport& r = albums[i];
            Row row;
            // Numbered as the album list numbers them; albums recorded before the archive kept their
            // place in the list take their row's number.
            row.cells[0] = ToUtf8(FormatText("%04d", r.position >= 0 ? r.position + 1 : n));
            row.cells[1] = Printable(r.name);
            row.cells[2] = r.expected < 0 ? "未知" : std::to_string(r.expected);
            row.cells[3] = r.listed < 0 ? "-" : std::to_string(r.listed);
            row.cells[4] = Count(r.saved);
            row.cells[5] = Count(r.failed);
            row.cells[6] = Count(r.NotListed());
            row.cells[7] = ReportReason(r);
            rows.push_back(std::move(row));
        }
        const std::string target = ToUtf8(ServiceOf(first.kind).name) + " " + Printable(first.target);
        if (format == ReportFormat::Tsv) {
            for (const Row& row : rows) {
                out += target;
                for (const std::string& c : row.cells) {
                    std::string cell = c;
                    std::replace(cell.begin(), cell.end(), '\t', ' ');
                    out += "\t" + cell;
                }
                out += "\n";
            }
            continue;
        }
        int w[8];
        for (int c = 0; c < 8; ++c) w[c] = DisplayWidth(FromUtf8(kHead[c]));
        for (const Row& row : rows)
            for (int c = 0; c < 8; ++c) w[c] = std::max(w[c], DisplayWidth(FromUtf8(row.cells[c])));
        auto line = [&](const std::string* cells) {
            std::string s;
            for (int c = 0; c < 8; ++c) {
                // Numbers are aligned right, texts left.
                const bool number = c >= 2 && c <= 6;
                const int pad = w[c] - DisplayWidth(FromUtf8(cells[c]));
                if (c > 0) s += "  ";
                if (number && pad > 0) s += std::string(static_cast<std::size_t>(pad), ' ');
                s += number ? cells[c] : Padded(cells[c], w[c]);
            }
            while (!s.empty() && s.back() == ' ') s.pop_back();
            return s + "\n";
        };
        if (!out.empty()) out += "\n";
        out += target + "\n";
        const std::string head[8] = {kHead[0], kHead[1], kHead[2], kHead[3],
                                     kHead[4], kHead[5], kHead[6], kHead[7]};
        out += line(head);
        for (const Row& row : rows) out += line(row.cells);
    }
    return out;
}

}  // namespace qm::cli
