// The album's task list as an input file for aria2c (`aria2c -i FILE`), for users who hand a large
// transfer to a download manager: per picture one line of addresses (main and alternate, tab
// separated, which aria2c treats as mirrors of one file), then indented option lines naming the
// file, its folder and the request headers the program's own fetch would send.
#include <filesystem>
#include <string>
#include <system_error>

#include "download/DownProc.h"
#include "download/ListAddress.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/Trace.h"
#include "net/URLSource2.h"

namespace qm {

namespace {

constexpr TextView kListSuffix = u".lst";
constexpr TextView kAria2Suffix = u".aria2.txt";

// A value that could end its line early or start another option is never written.
bool FitsOneLine(std::string_view s) {
    for (char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
    }
    return true;
}

}  // namespace

Text Aria2ListPath(const Text& listPath) {
    const std::size_t slash = listPath.rfind(u'/');
    const Text folder = slash == Text::npos ? Text() : listPath.substr(0, slash + 1);
    Text base = slash == Text::npos ? listPath : listPath.substr(slash + 1);
    if (base.size() >= kListSuffix.size() &&
        TextView(base).substr(base.size() - kListSuffix.size()) == kListSuffix)
        base.resize(base.size() - kListSuffix.size());
    return folder + CutToUtf8Bytes(base, kMaxFileNameBytes - kAria2Suffix.size()) + Text(kAria2Suffix);
}

bool WriteAria2Entries(const std::vector<Aria2Entry>& entries, const Text& albumFolder,
                       const Text& listPath) {
    const Text path = Aria2ListPath(listPath);
    const std::size_t slash = path.rfind(u'/');
    if (!IsSafeComponent(slash == Text::npos ? TextView(path) : TextView(path).substr(slash + 1)))
        return false;

    std::error_code ec;
    std::filesystem::path dir = std::filesystem::absolute(PathFromText(albumFolder), ec).lexically_normal();
    if (ec) return false;
    std::string dirText = dir.string();
    while (dirText.size() > 1 && dirText.back() == '/') dirText.pop_back();
    if (!FitsOneLine(dirText)) return false;

    std::string content;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const Aria2Entry& e = entries[i];
        std::string why, alternateWhy;
        const Text mainLine = ListableAddress(e.main, why);
        const Text alternateLine = e.alternate.empty() ? Text() : ListableAddress(e.alternate, alternateWhy);
        std::string main = mainLine.empty() ? std::string() : WireUrl(mainLine);
        std::string alternate = alternateLine.empty() ? std::string() : WireUrl(alternateLine);
        if (main.empty()) std::swap(main, alternate);  // the alternate alone is still the picture
        const std::string out = ToUtf8(e.fileName);
        if (main.empty() || !FitsOneLine(main) || !FitsOneLine(alternate) || !FitsOneLine(out) ||
            !IsSafeComponent(e.fileName)) {
            Trace("aria2 list: entry %zu left out%s%s\n", i, why.empty() ? "" : ": ", why.c_str());
            continue;
        }
        content += main;
        if (!alternate.empty()) content += "\t" + alternate;
        content += "\n out=" + out + "\n dir=" + dirText + "\n";
        // The request header lines of the picture (CR LF separated): the same fetch would send each.
        TextView rest = e.headers;
        while (!rest.empty()) {
            const std::size_t end = rest.find(u"\r\n");
            const std::string line = ToUtf8(Trim(rest.substr(0, end)));
            if (!line.empty() && FitsOneLine(line)) content += " header=" + line + "\n";
            rest = end == TextView::npos ? TextView() : rest.substr(end + 2);
        }
    }
    return WriteFileAtomic(PathFromText(path), content);
}

bool WriteAria2List(const ST_DOWNTASK& task, const Text& listPath) {
    std::vector<Aria2Entry> entries;
    for (std::size_t i = 0; i < task.pictures.size() && i < task.fileNames.size(); ++i) {
        Aria2Entry e;
        e.main = task.pictures[i].main;
        e.alternate = task.pictures[i].alternate;
        e.fileName = task.fileNames[i];
        e.headers = task.pictures[i].headers.Get();
        entries.push_back(e);
    }
    return WriteAria2Entries(entries, task.albumFolder, listPath);
}

}  // namespace qm
