#include "sites/QQGroup.h"

#include <vector>

#include "sites/Hosts.h"
#include "sites/PageFetch.h"
#include "sites/Token.h"

namespace qm {

namespace {

constexpr int kAlbumsPerPage = 60;
constexpr int kPhotosPerPage = 500;
constexpr char16_t kHeaders[] = u"Accept-Encoding: gzip, deflate";

Text GroupPhotoBase() {
    return Text(u"http://") + hosts::kGroupPhoto;
}

// The value of a field written as `"key" : "value"`, searched from the start of the piece.
Text Field(const Text& piece, TextView start) {
    TextView view = piece;
    return CutBetween(view, start, u"\"");
}

// The logged-in QQ number from the guin cookie ("o" and one leading zero dropped).
Text LoginNumber(const Text& cookies) {
    Text number = CookieValue(cookies, u"guin");
    if (!number.empty() && number.front() == u'o') number.erase(0, 1);
    if (!number.empty() && number.front() == u'0') number.erase(0, 1);
    return number;
}

// One album of the list; false when the list job asks to stop.
bool ReadAlbum(SiteContext& st, AlbumSink& sink, const Text& group, const Text& login, unsigned gtk, const Text& piece) {
    ST_PERLISTRECORD rec;
    rec.PrivacyFlags = 0;
    rec.ExtraText1 = Field(piece, u"createtime\" : \"");
    ReplaceAll(rec.ExtraText1, u":", u"：");  // a colon cannot stand in file or folder names
    const auto quote = piece.find(u'"');
    rec.CoverUrl = quote == Text::npos ? Text() : piece.substr(0, quote);
    ReplaceAll(rec.CoverUrl, u"\\/", u"/");
    const Text albumId = Field(piece, u"\"id\" : \"");
    rec.ListParam =
        u"qunId=" + group + u"&albumId=" + albumId + u"&uin=" + login + FormatText("&g_tk=%u", gtk);
    rec.Name = Field(piece, u"\"title\" : \"");
    if (rec.Name.empty()) return true;
    {
        TextView view = piece;
        rec.PictureCount = pagefetch::LeadingInt(CutBetween(view, u"\"photocnt\" :", u","));
    }
    sink.Album(rec);
    return !st.Stopped();
}

}  // namespace

void FetchGroupAlbums(SiteContext& st, const Text& group, AlbumSink& sink) {
    const Text cookies = GetUrlCookie(Text(u"http://") + hosts::kGroupSite + u"/") + u";";
    const unsigned gtk = ComputeGTk(CookieValue(cookies, u"skey"));
    const Text login = LoginNumber(cookies);
    st.route.photoHost = login;

    for (int start = 0; !st.Stopped(); start += kAlbumsPerPage) {
        const Text url =
            GroupPhotoBase() + u"/cgi-bin/upp/qun_list_album_v2?qunId=" + group + u"&uin=" + login +
            u"&hostUin=" + login + FormatText("&start=%d&num=%d", start, kAlbumsPerPage) +
            u"&userInfo=1&format=jsonp&platform=qzone&inCharset=utf-8&outCharset=utf-8&source=jsapi" +
            FormatText("&g_tk=%u", gtk);
        const Text body = pagefetch::FetchText(st, url, kHeaders, TXT_GUNZIP | TXT_UTF8);
        if (body.empty()) {
            if (!st.reasonText.empty() && st.reason == ListReason::None) st.reason = ListReason::Network;
            return;
        }
        if (pagefetch::ContainsAfterFirst(body, u"message\":\"对不起，您尚未登录")) {
            st.reason = ListReason::LoginNeeded;
            return;
        }
        std::vector<Text> pieces;
        if (SplitByMarker(body, u"\"coverurl\" : \"", pieces) == 0) return;
        for (std::size_t i = 1; i < pieces.size(); ++i)
            if (!ReadAlbum(st, sink, group, login, gtk, pieces[i])) return;
    }
}

void FetchGroupPhotos(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink) {
    const bool nameFirst = st.ext.OriginalNameMode == 1;

    for (int page = 0;; ++page) {
        if (sink.Ended() || st.Stopped()) return;
        const Text url =
            GroupPhotoBase() +
            u"/cgi-bin/upp/qun_list_photo_v2?getCommentCnt=5&format=jsonp&platform=qzone&inCharset="
            u"utf-8&outCharset=utf-8&source=jsapi&" +
            album.ListParam + u"&t=" + RandomFraction() +
            FormatText("&start=%d&num=%d", page * kPhotosPerPage, kPhotosPerPage);
        if (TraceEnabled()) Trace("%s\n", ToUtf8(url).c_str());
        const Text body = pagefetch::FetchText(st, url, kHeaders, TXT_GUNZIP | TXT_UTF8);
        if (body.empty()) return;
        std::vector<Text> photos;
        if (SplitByMarker(body, u"\"bheight\"", photos) == 0) return;
        for (std::size_t i = 1; i < photos.size(); ++i) {
            const Text& piece = photos[i];
            Text address = Field(piece, u"\"rawurl\" : \"");
            if (address.empty()) address = Field(piece, u"\"hdurl\" : \"");
            if (address.empty()) {
                address = Field(piece, u"\"burl\" : \"");
                if (!address.empty()) address += u"/800";
            }
            ReplaceAll(address, u"\\/", u"/");
            ReplaceAll(address, u"/200/", u"/");
            ReplaceAll(address, u"/200?", u"/800?");
            if (address.empty()) continue;  // nothing to fetch for this photo

            const Text name = Trim(Field(piece, u"\"name\" : \""));
            const Text desc = Trim(Field(piece, u"\"desc\" : \""));
            const Text& first = nameFirst ? name : desc;
            const Text& second = nameFirst ? desc : name;
            PictureRef picture;
            picture.main = address;
            picture.title = first.empty() ? second : first;
            picture.description = desc;
            picture.photoId = Field(piece, u"\"lloc\" : \"");
            if (!sink.Picture(picture) || st.Stopped()) return;
        }
    }
}

}  // namespace qm
