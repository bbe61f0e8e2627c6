#include "gallery/GalleryPages.h"

#include <cstdio>

#include <nlohmann/json.hpp>

#include "gallery/GalleryAssets.h"
#include "gallery/HtmlText.h"

namespace qm::gallery {

namespace {

// Only our own files under file:// (style sheet, script, pictures); no inline script runs even if
// some text escaped its escaping, and nothing is fetched from a network.
// Tiles whose thumbnail address is in the page itself (the first screens, shown even without the
// script). The others carry it in data-src and gallery.js sets it as they come near the screen:
// Chromium starts a request for every <img src> while it parses, lazy or not, which made an album
// of 5,000 pictures take seconds to open instead of a fraction of one.
constexpr std::size_t kEagerTiles = 60;

constexpr char kPolicy[] =
    "default-src 'none'; img-src 'self' file:; media-src 'self' file:; style-src 'self' file:; "
    "script-src 'self' file:";

std::string Head(const std::string& title, const std::string& assets) {
    return "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"" +
           std::string(kPolicy) + "\">\n<title>" + EscapeHtml(title) +
           "</title>\n<link rel=\"stylesheet\" href=\"" + assets + kCssName + "\">\n</head>\n";
}

// "24 张", with the incomplete mark and what it means.
std::string CountLine(const GalleryAlbum& a) {
    std::string out = std::to_string(a.pictures.size()) + " 张";
    if (a.known && !a.complete) {
        const long long total = a.expected >= 0 ? a.expected : static_cast<long long>(a.listed);
        out += "<span class=\"warn\" title=\"没有下载完整：已保存 " + std::to_string(a.pictures.size()) +
               " 张，相册共 " + std::to_string(total) + " 张\">不完整</span>";
    }
    return out;
}

}  // namespace

std::string AlbumPageHtml(const GalleryAlbum& album, const std::vector<ThumbState>& thumbs,
                          const std::string& targetName) {
    std::string out = Head(album.name + " · " + targetName, "../");
    out += "<body>\n<header><a class=\"back\" href=\"../index.html\">‹ 全部相册</a><h1>" +
           EscapeHtml(album.name) + "</h1><p class=\"meta\">" + CountLine(album) + "</p></header>\n";
    out += "<main class=\"grid\" id=\"grid\" data-up=\"../index.html\">\n";
    out.reserve(out.size() + album.pictures.size() * 120);
    nlohmann::json notes = nlohmann::json::array();
    for (std::size_t i = 0; i < album.pictures.size(); ++i) {
        const GalleryPicture& p = album.pictures[i];
        // A video item's tile leads to its cover and names its film; the large view plays it.
        if (p.film.empty())
            out += "<a href=\"" + UrlComponent(p.file) + "\">";
        else
            out += "<a class=\"video\" href=\"" + UrlComponent(p.file) + "\" data-film=\"" + UrlComponent(p.film) +
                   "\" title=\"视频\">";
        if (i < thumbs.size() && thumbs[i] != ThumbState::Failed)
            out += std::string(i < kEagerTiles ? "<img src=\"" : "<img data-src=\"") + kThumbFolder + "/" +
                   ThumbName(p.file) + "\" loading=\"lazy\" decoding=\"async\" alt=\"\">";
        else  // no thumbnail (a format the thumbnailer cannot read): the browser may show the original
            out += std::string(i < kEagerTiles ? "<img src=\"" : "<img data-src=\"") + UrlComponent(p.file) +
                   "\" loading=\"lazy\" decoding=\"async\" alt=\"\" onerror=\"this.outerHTML='<i class=ph></i>'\">";
        out += "<span>" + EscapeHtml(p.title) + "</span>";
        if (!p.date.empty()) out += "<time>" + EscapeHtml(p.date) + "</time>";
        out += "</a>\n";
        notes.push_back(p.description);
    }
    if (album.pictures.empty()) out += "<p class=\"empty\">这个相册里还没有保存的图片。</p>\n";
    out += "</main>\n";
    // What the album lists but the folder does not hold, by name and with the reason.
    if (!album.missing.empty()) {
        out += "<section class=\"missing\"><h2>没有保存的图片 " + std::to_string(album.missing.size()) +
               " 张</h2><ul>\n";
        for (const GalleryAlbum::Missing& m : album.missing)
            out += "<li>" + EscapeHtml(m.name) + "：" + EscapeHtml(m.reason) + "</li>\n";
        out += "</ul></section>\n";
    }
    out += "<script type=\"application/json\" id=\"notes\">" + ScriptJson(notes) + "</script>\n";
    out += "<script src=\"../" + std::string(kJsName) + "\"></script>\n</body>\n</html>\n";
    return out;
}

std::string TargetPageHtml(const std::string& targetName, const std::vector<AlbumTile>& albums,
                           std::size_t posts, const std::vector<NotBackedUp>& missing) {
    std::size_t pictures = 0;
    for (const AlbumTile& t : albums) pictures += t.album->pictures.size();
    std::string out = Head(targetName + " 的相册", "");
    out += "<body>\n<header><h1>" + EscapeHtml(targetName) + " 的相册</h1><p class=\"meta\">" +
           std::to_string(albums.size()) + " 个相册，共 " + std::to_string(pictures) + " 张</p>";
    if (posts > 0)
        out += "<p class=\"meta\"><a class=\"back\" href=\"moods.html\">说说 " + std::to_string(posts) + " 条 ›</a></p>";
    out += "</header>\n";
    out += "<main class=\"albums\">\n";
    for (const AlbumTile& t : albums) {
        const std::string folder = UrlComponent(t.album->folder);
        out += "<a href=\"" + folder + "/index.html\"><span class=\"cover\">";
        if (!t.coverThumb.empty())
            out += "<img src=\"" + folder + "/" + kThumbFolder + "/" + t.coverThumb +
                   "\" loading=\"lazy\" decoding=\"async\" alt=\"\">";
        else if (!t.coverOriginal.empty())
            out += "<img src=\"" + folder + "/" + UrlComponent(t.coverOriginal) +
                   "\" loading=\"lazy\" decoding=\"async\" alt=\"\" onerror=\"this.outerHTML='<i class=ph></i>'\">";
        else
            out += t.album->pictures.empty() ? "<i></i>" : "<i class=\"ph\"></i>";
        out += "</span><b>" + EscapeHtml(t.album->name) + "</b><span class=\"n\">" + CountLine(*t.album) +
               "</span></a>\n";
    }
    out += "</main>\n";
    if (!missing.empty()) {
        out += "<section class=\"missing\"><h2>没有备份的相册 " + std::to_string(missing.size()) + " 个</h2><ul>\n";
        for (const NotBackedUp& m : missing) {
            char number[16] = "";
            if (m.position >= 0) std::snprintf(number, sizeof number, "%04d ", m.position + 1);
            out += "<li>" + std::string(number) + "<b>" + EscapeHtml(m.name) + "</b>：" + EscapeHtml(m.reason) + "</li>\n";
        }
        out += "</ul></section>\n";
    }
    out += "</body>\n</html>\n";
    return out;
}

}  // namespace qm::gallery
