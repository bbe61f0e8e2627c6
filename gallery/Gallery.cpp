#include "gallery/Gallery.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>
#include <optional>

#include "download/AlbumJson.h"
#include "download/Archive.h"
#include "gallery/AlbumScan.h"
#include "gallery/GalleryAssets.h"
#include "gallery/GalleryPages.h"
#include "gallery/Timeline.h"
#include "download/MoodsJson.h"
#include "net/FileUtil.h"

namespace qm::gallery {

namespace fs = std::filesystem;

namespace {

// `text` as a relative path: empty, "." and ".." components dropped, either separator accepted.
fs::path RelativeTarget(const Text& text) {
    fs::path out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = text.find_first_of(u"/\\", pos);
        if (end == Text::npos) end = text.size();
        const Text part = text.substr(pos, end - pos);
        if (!part.empty() && part != u"." && part != u"..") out /= PathFromText(part);
        pos = end + 1;
    }
    return out;
}

bool IsOwnFolder(const fs::path& dir) {
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(dir, ec);
    return !ec && fs::is_directory(st) && !dir.filename().string().starts_with(".");
}

// Album folders directly inside `target`, in natural order of their names.
std::vector<fs::path> AlbumFolders(const fs::path& target) {
    std::vector<fs::path> out;
    std::error_code ec;
    for (fs::directory_iterator it(target, ec), end; !ec && it != end; it.increment(ec))
        if (IsOwnFolder(it->path())) out.push_back(it->path());
    std::sort(out.begin(), out.end(), [](const fs::path& a, const fs::path& b) {
        return NaturalLess(a.filename().string(), b.filename().string());
    });
    return out;
}

bool SavedByUs(const fs::path& target) {
    std::error_code ec;
    for (const fs::path& album : AlbumFolders(target))
        if (fs::exists(album / kAlbumJsonName, ec) || fs::exists(album / "pic.vyr", ec)) return true;
    return false;
}

void Write(const fs::path& file, const std::string& text, GalleryReport& report) {
    errno = 0;
    if (!WriteFileAtomic(file, text, 0, /*durable=*/false))
        report.errors.push_back(file.string() + ": " + (errno ? std::strerror(errno) : "cannot write"));
}

// The target's albums as the save folder's archive records them: every album chosen for a
// download, with its place in the service's list (none when there is no usable archive; read only).
std::vector<AlbumReport> ChosenAlbums(const fs::path& save, const fs::path& relative) {
    std::vector<AlbumReport> out;
    ArchiveOpenError error;
    const std::unique_ptr<Archive> archive = Archive::Open(save, error, /*create=*/false);
    if (!archive) return out;
    for (AlbumReport& r : archive->Report())
        if (r.target == relative.generic_string()) out.push_back(std::move(r));
    return out;
}

// Why a chosen album has no pictures here, from its last run.
std::string NotBackedUpReason(const AlbumReport& r) {
    if (r.listOnly) return "只写了地址列表，未下载";
    const std::string detail = r.lastReasonText.empty() ? std::string() : "：" + r.lastReasonText;
    switch (r.lastReason) {
        case AlbumReason::NoAccess: return "无权访问";
        case AlbumReason::Password: return "需要密码";
        case AlbumReason::Empty: return "没有图片";
        case AlbumReason::RateLimited: return "限流";
        case AlbumReason::LoginNeeded: return "需要登录";
        case AlbumReason::Network: return "网络错误" + detail;
        case AlbumReason::Stopped: return "已中止";
        case AlbumReason::Unwritable: return "无法写入" + detail;
        case AlbumReason::None: break;
    }
    return r.listed < 0 ? "未完成过一次下载" : "没有保存任何图片";
}

void BuildTarget(const fs::path& save, const fs::path& relative, unsigned threads, GalleryReport& report) {
    const fs::path dir = save / relative;
    std::vector<GalleryAlbum> albums;
    std::vector<int> positions;
    const std::vector<AlbumReport> chosen = ChosenAlbums(save, relative);
    std::map<fs::path, const AlbumReport*> recorded;
    for (const AlbumReport& r : chosen) {
        std::error_code ec;
        if (!r.folder.empty()) recorded.emplace(fs::weakly_canonical(r.folder, ec), &r);
    }
    std::vector<const AlbumReport*> shown;
    for (const fs::path& folder : AlbumFolders(dir))
        if (auto a = ScanAlbum(folder)) {
            std::error_code ec;
            const auto at = recorded.find(fs::weakly_canonical(folder, ec));
            positions.push_back(at == recorded.end() ? -1 : at->second->position);
            if (at != recorded.end()) shown.push_back(at->second);
            albums.push_back(std::move(*a));
        }
    if (albums.empty()) return;
    std::vector<NotBackedUp> missing;
    for (const AlbumReport& r : chosen)
        if (std::find(shown.begin(), shown.end(), &r) == shown.end())
            missing.push_back(NotBackedUp{r.position, r.name, NotBackedUpReason(r)});
    // As the service lists them; folders the archive does not place follow in name order.
    std::vector<std::size_t> order(albums.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) {
        const bool pa = positions[a] >= 0, pb = positions[b] >= 0;
        if (pa != pb) return pa;
        return pa && positions[a] < positions[b];
    });
    std::vector<GalleryAlbum> ordered;
    for (std::size_t i : order) ordered.push_back(std::move(albums[i]));
    albums = std::move(ordered);

    const std::string name = relative.string();
    std::vector<AlbumTile> tiles;
    GalleryReport::Target t{name, dir / "index.html", albums.size(), 0, 0, {}};
    // The mood posts: from the first album folder that holds moods.json.
    std::optional<MoodsFile> moods;
    std::string moodFolder;
    std::map<std::string, std::string> moodThumbs;
    for (const GalleryAlbum& album : albums) {
        const fs::path folder = dir / album.folder;
        std::vector<std::string> files;
        for (const GalleryPicture& p : album.pictures) files.push_back(p.file);
        std::vector<ThumbState> states;
        const ThumbCounts c = UpdateThumbnails(folder, files, &states, threads);
        report.thumbs.made += c.made;
        report.thumbs.kept += c.kept;
        report.thumbs.failed += c.failed;
        t.pictures += files.size();
        Write(folder / "index.html", AlbumPageHtml(album, states, name), report);
        if (!moods) {
            if ((moods = ReadMoodsJson(TextFromPath(folder)))) {
                moodFolder = album.folder;
                for (std::size_t i = 0; i < files.size() && i < states.size(); ++i)
                    moodThumbs[files[i]] = states[i] == ThumbState::Failed ? std::string() : ThumbName(files[i]);
            }
        }

        AlbumTile tile{&album, {}, {}};
        for (std::size_t i = 0; i < states.size(); ++i)
            if (states[i] != ThumbState::Failed) {
                tile.coverThumb = ThumbName(files[i]);
                break;
            }
        if (tile.coverThumb.empty() && !files.empty()) tile.coverOriginal = files.front();
        tiles.push_back(tile);
    }
    Write(dir / kCssName, kGalleryCss, report);
    Write(dir / kJsName, kGalleryJs, report);
    if (moods) {
        t.posts = moods->posts.size();
        t.timeline = dir / kTimelinePageName;
        Write(dir / kTimelineCssName, kTimelineCss, report);
        Write(dir / kTimelineJsName, kTimelineJs, report);
        Write(t.timeline, TimelinePageHtml(name, moodFolder, moods->posts, moodThumbs), report);
    }
    Write(t.index, TargetPageHtml(name, tiles, t.posts, missing), report);
    report.targets.push_back(std::move(t));
}

}  // namespace

GalleryReport BuildGallery(const Text& saveFolder, const Text& targetFolder, unsigned threads) {
    GalleryReport report;
    const fs::path save = PathFromText(saveFolder);
    const fs::path relative = RelativeTarget(targetFolder);
    if (!relative.empty()) {
        if (IsOwnFolder(save / relative)) BuildTarget(save, relative, threads, report);
        return report;
    }
    std::vector<fs::path> targets;
    std::error_code ec;
    for (fs::directory_iterator it(save, ec), end; !ec && it != end; it.increment(ec))
        if (IsOwnFolder(it->path()) && SavedByUs(it->path())) targets.push_back(it->path().filename());
    std::sort(targets.begin(), targets.end());
    for (const fs::path& t : targets) BuildTarget(save, t, threads, report);
    return report;
}

fs::path GalleryIndexPath(const Text& saveFolder, const Text& targetFolder) {
    return PathFromText(saveFolder) / RelativeTarget(targetFolder) / "index.html";
}

}  // namespace qm::gallery
