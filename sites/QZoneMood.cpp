#include "sites/QZoneMood.h"

#include <chrono>
#include <optional>
#include <vector>

#include "sites/Hosts.h"
#include "sites/MoodPostParse.h"
#include "sites/PageFetch.h"
#include "sites/Token.h"

namespace qm {

namespace {

constexpr int kPostsPerPage = 20;
constexpr int kDefaultPageLimit = 5;

Text MoodHeaders() {
    return Text(u"Accept-Encoding: gzip, deflate\r\nreferer:http://") + hosts::kStatic +
           u"/qzone/app/mood_v6/html/index.html";
}

// The token of the mood interface, from the cookies as they are now (a login in between counts):
// the same rule as the photo list's.
unsigned MoodToken() {
    return PSkeyOrSkeyToken(GetUrlCookie(Text(u"http://") + hosts::kQZoneUser + u"/") + u";");
}

// Hands the pictures of one post to the sink; false when it wants no more or the job stops.
bool ReadPost(SiteContext& st, PictureSink& sink, Text post, const std::string& postId) {
    // When the post was made: the pictures' file time when they carry no shoot time of their own.
    Text created = post;
    const int64_t postTime = pagefetch::LeadingInt(CutBetween(created, u"\"created_time\":", u","));
    DeleteThrough(post, u"conlist\"", true);
    const Text text = CutBetween(post, u"\"content\":\"", u"\"", CUT_CONSUME);
    std::vector<Text> pictures;
    SplitByMarker(post, u"\"pic_id\"", pictures);
    for (std::size_t i = 1; i < pictures.size(); ++i) {
        Text address = CutBetween(pictures[i], u"smallurl\":\"", u"\"");
        ReplaceAll(address, u"\\/", u"/");
        ReplaceAll(address, u"/a/", u"/b/");
        if (address.empty()) continue;  // a picture without an address cannot be fetched
        PictureRef picture;
        picture.main = address;
        picture.title = text;
        picture.description = text;
        picture.postId = postId;
        picture.uploadTime = postTime > 0 ? postTime : 0;
        if (!sink.Picture(picture) || st.Stopped()) return false;
    }
    return true;
}

// The post a piece of the split answer is: the same position when the answer's posts and pieces
// agree in number, else the post whose tid the piece names.
std::string PostIdOf(const std::vector<Text>& pieces, std::size_t piece, const std::vector<MoodPost>& posts) {
    if (pieces.size() == posts.size() + 1) return posts[piece - 1].id;
    for (const MoodPost& p : posts)
        if (pieces[piece].find(u"\"tid\":\"" + FromUtf8(p.id) + u"\"") != Text::npos) return p.id;
    return {};
}

// The list pages: pictures to the sink as they come, the posts' words into `posts`. False when the
// service refused (or wants a login), so no more of it is asked.
bool ListPages(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink, std::vector<MoodPost>& posts) {
    const Text headers = MoodHeaders();
    const Text cgiHost = Text(u"http%3A%2F%2F") + hosts::kMood + u"%2Fcgi-bin%2Femotion_cgi_msglist_v6";
    const bool unlimited = st.ext.MoodDownloadMode == kMoodUnlockValue;
    int page = 0;
    bool full = true;
    while (full && !st.Stopped() && !sink.Ended()) {
        // Cookie text and token are read afresh for every page.
        const unsigned gtk = MoodToken();
        if (gtk == 5381) {  // the hash of an empty key: not logged in to QZone
            st.reason = ListReason::LoginNeeded;
            st.observer->Notify(NoticeEvent{Notice::MoodLogin});
            return false;
        }
        const Text url = album.ListParam + FormatText("&pos=%d&num=20&cgi_host=", page * kPostsPerPage) +
                         cgiHost +
                         FormatText("&code_version=1&format=jsonp&need_private_comment=1&g_tk=%u", gtk);
        ++page;
        const Text body = pagefetch::FetchText(st, url, headers, TXT_GUNZIP | TXT_AUTO);
        if (body.empty()) return true;

        if (pagefetch::ContainsAfterFirst(body, u"\"message\":\"") &&
            pagefetch::ContainsAfterFirst(body, u"\"code\":-3000")) {
            TextView rest = body;
            st.observer->Notify(
                NoticeEvent{Notice::ServiceMessage, {}, CutBetween(rest, u"\"message\":\"", u"\"")});
            return false;
        }

        std::vector<Text> pieces;
        if (SplitByMarker(body, u"\"certified\"", pieces) == 0) return true;
        std::vector<MoodPost> words = ParseMoodList(body);
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            const std::string postId = PostIdOf(pieces, i, words);
            if (!ReadPost(st, sink, std::move(pieces[i]), postId)) break;
        }
        for (MoodPost& p : words) posts.push_back(std::move(p));
        if (st.Stopped() || sink.Ended()) return true;

        full = pieces.size() == kPostsPerPage + 1;
        if (page >= kDefaultPageLimit && !unlimited) return true;
        // The service refuses callers that page too fast.
        st.clock->SleepFor(std::chrono::milliseconds((page + 20) * 200), st.stop);
    }
    return true;
}

// Asks the detail interface for the full text of every post the list cut, one at a time with the
// pause of the list pages between requests; a post whose detail fails keeps the list's text.
void FetchLongTexts(SiteContext& st, const ST_PERLISTRECORD& album, std::vector<MoodPost>& posts) {
    const Text headers = MoodHeaders();
    for (MoodPost& post : posts) {
        if (!post.textCut) continue;
        if (st.Stopped() || st.reason != ListReason::None) return;
        if (!st.clock->SleepFor(kMoodDetailPause, st.stop)) return;
        const unsigned gtk = MoodToken();
        if (gtk == 5381) return;
        const Text body = pagefetch::FetchText(st, MoodDetailAddress(album.ListParam, post.id, gtk), headers,
                                               TXT_GUNZIP | TXT_AUTO);
        const std::optional<MoodPost> detail = ParseMoodDetail(body);
        if (!detail || detail->id != post.id || detail->textCut) continue;
        post.text = detail->text;
        post.textCut = false;
        // The detail carries the comments as well, often more of them than the list.
        if (detail->comments.size() > post.comments.size()) post.comments = detail->comments;
    }
}

}  // namespace

Text MoodListAddress(const Text& qq) {
    return Text(u"http://") + hosts::kQZoneProxy + u"/proxy/domain/" + hosts::kMood +
           u"/cgi-bin/emotion_cgi_msglist_v6?uin=" + qq + u"&inCharset=utf-8&outCharset=utf-8&hostUin=" + qq +
           u"&notice=0&sort=0";
}

Text MoodDetailAddress(const Text& listParam, const std::string& tid, unsigned gtk) {
    // A tid is hex digits; anything else in it is percent-encoded, so it cannot add to the query.
    static const char kHex[] = "0123456789ABCDEF";
    std::string id;
    for (const char ch : tid) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_' || c == '-') {
            id += ch;
        } else {
            id += '%';
            id += kHex[c >> 4];
            id += kHex[c & 15];
        }
    }
    Text url = listParam;
    ReplaceAll(url, u"emotion_cgi_msglist_v6", u"emotion_cgi_msgdetail_v6");
    return url + u"&tid=" + FromUtf8(id) + u"&pos=0&num=20&cgi_host=http%3A%2F%2F" + hosts::kMood +
           FormatText("%%2Fcgi-bin%%2Femotion_cgi_msgdetail_v6&code_version=1&format=jsonp&need_private_comment=1&g_tk=%u",
                      gtk);
}

void FetchMoodPictures(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink) {
    std::vector<MoodPost> posts;
    if (ListPages(st, album, sink, posts)) FetchLongTexts(st, album, posts);
    for (MoodPost& p : posts) sink.Post(std::move(p));
}

}  // namespace qm
