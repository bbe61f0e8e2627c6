#include "sites/QZoneMood.h"

#include <chrono>
#include <vector>

#include "core/Prompts.h"
#include "sites/Hosts.h"
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
bool ReadPost(SiteContext& st, PictureSink& sink, Text post) {
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
        if (!sink.Picture(picture) || st.Stopped()) return false;
    }
    return true;
}

}  // namespace

Text MoodListAddress(const Text& qq) {
    return Text(u"http://") + hosts::kQZoneProxy + u"/proxy/domain/" + hosts::kMood +
           u"/cgi-bin/emotion_cgi_msglist_v6?uin=" + qq + u"&inCharset=utf-8&outCharset=utf-8&hostUin=" + qq +
           u"&notice=0&sort=0";
}

void FetchMoodPictures(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink) {

    const Text headers = MoodHeaders();
    const Text cgiHost = Text(u"http%3A%2F%2F") + hosts::kMood + u"%2Fcgi-bin%2Femotion_cgi_msglist_v6";
    const bool unlimited = st.ext.MoodDownloadMode == kMoodUnlockValue;
    int page = 0;
    bool full = true;
    while (full && !st.Stopped() && !sink.Ended()) {
        // Cookie text and token are read afresh for every page.
        const unsigned gtk = MoodToken();
        if (gtk == 5381) {  // the hash of an empty key: not logged in to QZone
            st.reason = ListReason::NoAccess;
            st.observer->Notify(NoticeEvent{Notice::MoodLogin, PromptMoodLogin(), {}, {}});
            return;
        }
        const Text url = album.ListParam + FormatText("&pos=%d&num=20&cgi_host=", page * kPostsPerPage) +
                         cgiHost +
                         FormatText("&code_version=1&format=jsonp&need_private_comment=1&g_tk=%u", gtk);
        ++page;
        const Text body = pagefetch::FetchText(st, url, headers, TXT_GUNZIP | TXT_AUTO);
        if (body.empty()) return;

        if (pagefetch::ContainsAfterFirst(body, u"\"message\":\"") &&
            pagefetch::ContainsAfterFirst(body, u"\"code\":-3000")) {
            TextView rest = body;
            st.observer->Notify(
                NoticeEvent{Notice::ServiceMessage, CutBetween(rest, u"\"message\":\"", u"\""), {}, {}});
            return;
        }

        std::vector<Text> posts;
        if (SplitByMarker(body, u"\"certified\"", posts) == 0) return;
        for (std::size_t i = 1; i < posts.size(); ++i) {
            if (!ReadPost(st, sink, std::move(posts[i]))) return;
        }

        full = posts.size() == kPostsPerPage + 1;
        if (page >= kDefaultPageLimit && !unlimited) return;
        // The service refuses callers that page too fast.
        st.clock->SleepFor(std::chrono::milliseconds((page + 20) * 200), st.stop);
    }
}

}  // namespace qm
