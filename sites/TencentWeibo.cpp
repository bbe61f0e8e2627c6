#include "sites/TencentWeibo.h"

#include <vector>

#include "sites/Hosts.h"
#include "sites/PageFetch.h"

namespace qm {

namespace {

// The token value the picture interface expects; it is not derived from any cookie.
constexpr unsigned kPhotoToken = 8170296;

Text ApiBase() {
    return Text(u"http://") + hosts::kWeiboApi;
}
// The API host's own address, percent-encoded for the apiHost query value.
Text EncodedApiHost() {
    return Text(u"http%3A%2F%2F") + hosts::kWeiboApi;
}
Text WeiboHeaders() {
    return Text(u"Accept-Encoding: gzip, deflate\r\nReferer: ") + ApiBase() + u"/proxy.html";
}

// The text of a post: escapes decoded, markup removed, "\/" unescaped.
Text PostText(Text raw) {
    Text text = StripTags(DecodeUnicodeEscapes(raw));
    ReplaceAll(text, u"\\/", u"/");
    return text;
}

// The numeric user number after "MI.App.guest" on the account's album page (empty when absent).
Text LoginNumberFromPage(TextView page) {
    const auto guest = page.find(u"MI.App.guest");
    if (guest == TextView::npos) return {};
    page.remove_prefix(guest + 12);
    return CutBetween(page, u"uin\":\"", u"\"");
}

// One album; each piece begins just after the album's "num". False when the list job asks to stop.
bool ReadAlbum(SiteContext& st, AlbumSink& sink, Text piece) {
    ST_PERLISTRECORD rec;
    rec.PrivacyFlags = 0;
    TextView view = piece;
    rec.PictureCount = pagefetch::LeadingInt(CutBetween(view, u":", u",", CUT_CONSUME));
    rec.Name = DecodeUnicodeEscapes(CutBetween(view, u"name\":\"", u"\",\"", CUT_CONSUME));
    const Text type = CutBetween(view, u"\"type\":\"", u"\"", CUT_CONSUME);
    if (!type.empty()) {
        rec.ListParam = type;
        rec.PictureCount = -1;  // a typed album does not tell its size
    } else {
        rec.ListParam = CutBetween(view, u"\"topicid\":\"", u"\"", CUT_CONSUME);
    }
    if (rec.ListParam.empty() || rec.Name.empty()) return true;
    rec.CoverUrl = CutBetween(view, u"image\":[\"", u"\"", CUT_CONSUME);
    ReplaceAll(rec.CoverUrl, u"\\/", u"/");
    rec.CoverUrl += u"/240";
    sink.Album(rec);
    return !st.Stopped();
}

}  // namespace

void FetchWeiboAlbums(SiteContext& st, const Text& weiboId, AlbumSink& sink) {
    const Text headers = WeiboHeaders();
    const Text page =
        pagefetch::FetchText(st, Text(u"http://") + hosts::kWeibo + u"/app/qzphoto/" + weiboId + u"?preview",
                             headers, TXT_GUNZIP | TXT_UTF8);
    if (page.empty()) {
        if (!st.reasonText.empty()) st.reason = ListReason::Network;
        return;
    }
    const Text login = LoginNumberFromPage(page);
    st.route.photoHost = login;  // the picture fetch needs it later

    for (int n = 1; !st.Stopped(); ++n) {
        const Text url = ApiBase() + u"/asyn/gettopicalbum.php?op=1&uin=" + login +
                         FormatText("&page=%d&n=12&apiType=14&apiHost=", n) + EncodedApiHost() +
                         FormatText("&_r=1382084292800&g_tk=%u", pagefetch::ProcessClockMs());
        const Text body = pagefetch::FetchText(st, url, headers, TXT_GUNZIP | TXT_UTF8);
        if (body.empty()) return;
        std::vector<Text> albums;
        if (SplitByMarker(body, u"\"num\"", albums) == 0) return;
        for (std::size_t i = 1; i < albums.size(); ++i)
            if (!ReadAlbum(st, sink, std::move(albums[i]))) return;
    }
}

void FetchWeiboPhotos(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink) {    const Text headers = WeiboHeaders();
    const Text& login = st.route.photoHost;
    Text tail;  // the continuation of the previous page: empty for the first one

    for (int n = 1; !st.Stopped() && !sink.Ended(); ++n) {
        const Text url = ApiBase() + u"/asyn/gettopicalbum.php?op=2&uin=" + login +
                         FormatText("&page=%d&n=24&topicid=", n) + album.ListParam +
                         u"&apiType=14&apiHost=" + EncodedApiHost() +
                         FormatText("&_r=1382325110273&g_tk=%u", kPhotoToken) + tail;
        const Text body = pagefetch::FetchText(st, url, headers, TXT_GUNZIP | TXT_UTF8);
        if (body.empty()) return;
        std::vector<Text> posts;
        if (SplitByMarker(body, u"{\"id\":\"", posts) == 0) return;

        for (std::size_t i = 1; i < posts.size(); ++i) {
            TextView post = posts[i];
            Text text = PostText(CutBetween(post, u"content\":\"", u"\",\"", CUT_CONSUME));
            std::vector<Text> pictures;
            SplitByMarker(post, u"{\"url\"", pictures);
            {
                TextView whole = posts[i];
                tail = u"&time=" + CutBetween(whole, u"realtime\":", u",") +
                       FormatText("&r=%u&u=", pagefetch::ProcessClockMs()) + st.weiboId;
            }
            // A forward without words of its own is named after the forwarded post, else the album.
            if (text.empty()) text = PostText(CutBetween(post, u"content\":\"", u"\",\"", CUT_CONSUME));
            if (text.empty()) text = album.Name;

            for (std::size_t j = 1; j < pictures.size(); ++j) {
                TextView piece = pictures[j];
                Text address = CutBetween(piece, u"\"", u"\"");
                ReplaceAll(address, u"\\/", u"/");
                if (address.empty()) continue;  // nothing to fetch
                address += u"/2000";
                PictureRef picture;
                picture.main = address;
                picture.title = text;
                picture.description = text;
                if (!sink.Picture(picture) || st.Stopped()) return;
            }
        }
    }
}

}  // namespace qm
