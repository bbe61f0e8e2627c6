#include "gallery/Timeline.h"

#include <ctime>
#include <nlohmann/json.hpp>

#include "gallery/GalleryAssets.h"
#include "gallery/HtmlText.h"
#include "gallery/Thumbnails.h"

namespace qm::gallery {

namespace {

using nlohmann::json;

constexpr char kPolicy[] =
    "default-src 'none'; img-src 'self' file:; style-src 'self' file:; script-src 'self' file:";

// China time, "2014-01-17 23:06"; the service's own text when the time is unknown.
std::string ShownTime(int64_t seconds, const Text& text) {
    if (seconds == 0) return ToUtf8(text);
    const std::time_t t = static_cast<std::time_t>(seconds + 8 * 3600);
    std::tm tm{};
    if (!gmtime_r(&t, &tm)) return ToUtf8(text);
    char buf[32];
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M", &tm);
    return buf;
}

int YearOf(int64_t seconds) {
    if (seconds == 0) return 0;
    const std::time_t t = static_cast<std::time_t>(seconds + 8 * 3600);
    std::tm tm{};
    return gmtime_r(&t, &tm) ? tm.tm_year + 1900 : 0;
}

std::string PlaceOf(const MoodPost& p) {
    return ToUtf8(p.place.name.empty() ? p.place.idname : p.place.name);
}

// One post as the page and the script hold it: [time, year, text, repost, place, cut,
// [[picture address, thumbnail address], …], [[name, time, text, [[name, time, text], …]], …]].
json PostData(const MoodPost& p, const std::string& folder, const std::map<std::string, std::string>& thumbs) {
    json pictures = json::array();
    for (const Text& f : p.files) {
        const std::string file = ToUtf8(f);
        const auto it = thumbs.find(file);
        if (it == thumbs.end()) continue;
        const std::string href = folder + "/" + UrlComponent(file);
        const std::string thumb = it->second.empty() ? "" : folder + "/" + kThumbFolder + "/" + it->second;
        pictures.push_back(json::array({href, thumb}));
    }
    json comments = json::array();
    for (const MoodComment& c : p.comments) {
        json replies = json::array();
        for (const MoodComment& r : c.replies)
            replies.push_back(json::array({ToUtf8(r.name), ShownTime(r.time, r.timeText), ToUtf8(r.text)}));
        comments.push_back(
            json::array({ToUtf8(c.name), ShownTime(c.time, c.timeText), ToUtf8(c.text), std::move(replies)}));
    }
    return json::array({ShownTime(p.time, p.timeText), YearOf(p.time), ToUtf8(p.text), ToUtf8(p.repost), PlaceOf(p),
                        p.textCut ? 1 : 0, std::move(pictures), std::move(comments)});
}

void AppendComment(std::string& out, const json& c) {
    out += "<li><b>" + EscapeHtml(c[0].get_ref<const std::string&>()) + "</b>";
    out += "<span>" + EscapeHtml(c[2].get_ref<const std::string&>()) + "</span>";
    out += "<time>" + EscapeHtml(c[1].get_ref<const std::string&>()) + "</time>";
    if (c.size() > 3 && !c[3].empty()) {
        out += "<ul>";
        for (const json& r : c[3]) AppendComment(out, r);
        out += "</ul>";
    }
    out += "</li>";
}

// The same markup timeline.js makes for a post.
void AppendPost(std::string& out, const json& d, std::size_t index) {
    out += "<article class=\"post\" id=\"p" + std::to_string(index) + "\"><time>" +
           EscapeHtml(d[0].get_ref<const std::string&>()) + "</time>";
    const std::string& text = d[2].get_ref<const std::string&>();
    if (!text.empty()) out += "<p class=\"text\">" + EscapeHtml(text) + "</p>";
    if (d[5].get<int>() != 0) out += "<p class=\"cut\">（全文未能取到）</p>";
    const std::string& repost = d[3].get_ref<const std::string&>();
    if (!repost.empty()) out += "<blockquote class=\"rt\">" + EscapeHtml(repost) + "</blockquote>";
    if (!d[6].empty()) {
        out += "<div class=\"pics\">";
        for (const json& pic : d[6]) {
            out += "<a href=\"" + EscapeHtml(pic[0].get_ref<const std::string&>()) + "\">";
            const std::string& thumb = pic[1].get_ref<const std::string&>();
            if (thumb.empty())
                out += "<i class=\"ph\"></i>";
            else
                out += "<img src=\"" + EscapeHtml(thumb) + "\" loading=\"lazy\" decoding=\"async\" alt=\"\">";
            out += "</a>";
        }
        out += "</div>";
    }
    const std::string& place = d[4].get_ref<const std::string&>();
    if (!place.empty()) out += "<p class=\"place\">" + EscapeHtml(place) + "</p>";
    if (!d[7].empty()) {
        out += "<ul class=\"cmts\">";
        for (const json& c : d[7]) AppendComment(out, c);
        out += "</ul>";
    }
    out += "</article>\n";
}

}  // namespace

std::string TimelinePageHtml(const std::string& targetName, const std::string& moodFolder,
                             const std::vector<MoodPost>& posts, const std::map<std::string, std::string>& thumbs) {
    const std::string folder = UrlComponent(moodFolder);
    json data = json::array();
    std::vector<std::pair<int, std::size_t>> years;  // year, first post; in page order
    std::map<int, std::size_t> perYear;
    for (std::size_t i = 0; i < posts.size(); ++i) {
        data.push_back(PostData(posts[i], folder, thumbs));
        const int y = YearOf(posts[i].time);
        if (years.empty() || years.back().first != y) years.emplace_back(y, i);
        ++perYear[y];
    }

    std::string out;
    out.reserve(4096 + posts.size() * 600);
    out += "<!DOCTYPE html>\n<html lang=\"zh-CN\">\n<head>\n<meta charset=\"utf-8\">\n"
           "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
           "<meta http-equiv=\"Content-Security-Policy\" content=\"";
    out += kPolicy;
    out += "\">\n<title>" + EscapeHtml(targetName) + " 的说说</title>\n<link rel=\"stylesheet\" href=\"" +
           std::string(kCssName) + "\">\n<link rel=\"stylesheet\" href=\"" + kTimelineCssName + "\">\n</head>\n";
    out += "<body class=\"tl\">\n<header><a class=\"back\" href=\"index.html\">‹ 全部相册</a><h1>" +
           EscapeHtml(targetName) + " 的说说</h1><p class=\"meta\">" + std::to_string(posts.size()) +
           " 条说说</p>\n<input type=\"search\" id=\"q\" placeholder=\"搜索说说\" aria-label=\"搜索说说\" "
           "autocomplete=\"off\"><p class=\"meta\" id=\"found\"></p>\n<nav class=\"years\" id=\"years\">";
    for (const auto& [year, first] : years) {
        if (year == 0) continue;
        out += "<a href=\"#p" + std::to_string(first) + "\" data-i=\"" + std::to_string(first) + "\">" +
               std::to_string(year) + "<small>" + std::to_string(perYear[year]) + "</small></a>";
    }
    out += "</nav></header>\n<main class=\"posts\" id=\"posts\" data-shown=\"";
    const std::size_t eager = std::min(kTimelineEagerPosts, posts.size());
    out += std::to_string(eager) + "\">\n";
    for (std::size_t i = 0; i < eager; ++i) AppendPost(out, data[i], i);
    if (posts.empty()) out += "<p class=\"empty\">还没有保存的说说。</p>\n";
    out += "</main>\n<div id=\"more\"></div>\n<script type=\"application/json\" id=\"data\">" + ScriptJson(data) +
           "</script>\n<script src=\"" + std::string(kTimelineJsName) + "\"></script>\n</body>\n</html>\n";
    return out;
}

}  // namespace qm::gallery
