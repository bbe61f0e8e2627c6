#include "gallery/AlbumScan.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>

#include "download/AlbumJson.h"
#include "net/FileUtil.h"

namespace qm::gallery {

namespace fs = std::filesystem;

namespace {

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

// A plain regular file directly in `folder` (no separators, no "..", not a link).
bool IsPlainFile(const fs::path& folder, const std::string& name) {
    if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos ||
        name.find('\\') != std::string::npos || name.find('\0') != std::string::npos)
        return false;
    std::error_code ec;
    return fs::is_regular_file(fs::symlink_status(folder / fs::path(name), ec));
}

std::string Stem(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

}  // namespace

bool IsPictureName(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    if (dot == std::string::npos || dot == 0) return false;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return std::tolower(c); });
    static const std::set<std::string> kPictures = {"jpg", "jpeg", "jpe",  "jfif", "png",  "gif", "webp",
                                                    "bmp", "tif",  "tiff", "heic", "heif", "avif"};
    return kPictures.count(ext) > 0;
}

bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (IsDigit(a[i]) && IsDigit(b[j])) {
            std::size_t ie = i, je = j;
            while (ie < a.size() && a[ie] == '0') ++ie;  // leading zeros do not count
            while (je < b.size() && b[je] == '0') ++je;
            std::size_t in = ie, jn = je;
            while (in < a.size() && IsDigit(a[in])) ++in;
            while (jn < b.size() && IsDigit(b[jn])) ++jn;
            if (in - ie != jn - je) return in - ie < jn - je;
            const int c = a.compare(ie, in - ie, b, je, jn - je);
            if (c != 0) return c < 0;
            i = in;
            j = jn;
        } else {
            if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
            ++i;
            ++j;
        }
    }
    if ((a.size() - i) != (b.size() - j)) return a.size() - i < b.size() - j;
    return a < b;  // equal by value ("01" and "1"): any fixed order
}

std::optional<GalleryAlbum> ScanAlbum(const fs::path& folder) {
    GalleryAlbum album;
    album.folder = folder.filename().string();
    album.name = album.folder;
    std::set<std::string> shown;
    // album.json picture by picture: an album of 100,000 pictures is never held as a document.
    AlbumJson meta;
    const bool read = ReadAlbumJson(TextFromPath(folder), meta, [&](const AlbumJsonPicture& p) {
        const std::string file = ToUtf8(p.file);
        const bool saved = p.state == "saved" || p.state == "already_had";
        if (!saved || file.empty() || !IsPlainFile(folder, file)) {
            const std::string name = !p.title.empty() ? ToUtf8(p.title) : !file.empty() ? file : ToUtf8(p.main);
            album.missing.push_back({name, saved ? std::string("文件已不在相册文件夹里")
                                                 : !p.reason.empty() ? p.reason : std::string("未下载")});
            return;
        }
        if (!shown.insert(file).second) return;
        const std::string& when = !p.shot.empty() ? p.shot : p.uploaded;
        album.pictures.push_back({file, ToUtf8(p.title), ToUtf8(p.description), {}, when.substr(0, 10)});
        if (p.video && (p.video->state == "saved" || p.video->state == "already_had")) {
            const std::string film = ToUtf8(p.video->file);
            if (IsPlainFile(folder, film) && shown.insert(film).second) album.pictures.back().film = film;
        }
    });
    if (read) {
        album.known = true;
        if (!meta.name.empty()) album.name = ToUtf8(meta.name);
        album.complete = meta.complete;
        album.listed = meta.listed;
        album.expected = meta.expected;
    } else {
        // A file found bad part-way: what it gave is not shown.
        album.pictures.clear();
        album.missing.clear();
        shown.clear();
    }
    std::vector<std::string> others;
    std::error_code ec;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        const std::string name = it->path().filename().string();
        if (name.empty() || name[0] == '.' || !IsPictureName(name) || shown.count(name)) continue;
        if (IsPlainFile(folder, name)) others.push_back(name);
    }
    std::sort(others.begin(), others.end(), NaturalLess);
    for (std::string& name : others) {
        // A file the program saved carries its shoot time as its modification time.
        std::string date;
        struct stat sb;
        if (::stat((folder / name).c_str(), &sb) == 0) date = ChinaTimeText(sb.st_mtime).substr(0, 10);
        album.pictures.push_back({name, Stem(name), {}, {}, date});
    }
    if (!album.known && album.pictures.empty()) return std::nullopt;
    return album;
}

}  // namespace qm::gallery
