#include "sites/QZoneAlbumList.h"

#include "net/BodyText.h"
#include "net/Trace.h"
#include "net/URLSource2.h"
#include "sites/Hosts.h"
#include "net/RateLimit.h"
#include "sites/Token.h"

namespace qm {

namespace {

constexpr int32_t kWaitMs = 20000;
constexpr int kSecondPassIdcNum = 102;

enum class Version { V2, V3 };

// How one album-list answer ended.
enum class ListOutcome {
    Done,      // albums read, a server message handled, or a stop request: the fetch ends
    NoAlbums,  // request failed, empty body or no album marker: version 3 tries its second pass
};

Text HomeAddress(const Text& qq) {
    return Text(u"http://") + hosts::kQZoneUser + u"/" + qq;
}

// The decimal number at the start of `text` after leading blanks; 0 when there are no digits.
int32_t LeadingNumber(TextView text) {
    std::size_t i = 0;
    while (i < text.size() && (text[i] == u' ' || text[i] == u'\t')) ++i;
    int64_t value = 0;
    for (; i < text.size() && text[i] >= u'0' && text[i] <= u'9'; ++i) {
        value = value * 10 + (text[i] - u'0');
        if (value > 0x7FFFFFFF) value = 0x7FFFFFFF;  // a huge count saturates instead of wrapping
    }
    return static_cast<int32_t>(value);
}

// Moves `view` past the first `marker`; leaves it as it is when the marker is absent.
void SkipPast(TextView& view, TextView marker) {
    const std::size_t pos = view.find(marker);
    if (pos != TextView::npos) view.remove_prefix(pos + marker.size());
}

uint32_t PrivacyFromValue(TextView priv) {
    if (priv.find(u'3') != TextView::npos) return PrivacyPrivate;
    if (priv.find(u'4') != TextView::npos) return PrivacyFriends;
    if (priv.find(u'6') != TextView::npos) return PrivacyFriends;
    if (priv.find(u'5') != TextView::npos) return PrivacyEncrypted;
    return 0;
}

// Asks the route service (then the user site's route path) where the target's albums live.
bool LookupRoute(SiteContext& st, const Text& qq, const Text& headers, unsigned textFlags, Text& answer) {
    ST_URLREQUEST req(Text(), Text(), kWaitMs);
    req.headers = headers;
    req.stop = st.stop;
    req.url = Text(u"http://") + hosts::kRoute + u"/GetRoute?UIN=" + qq + u"&version=2&type=json";
    ST_URLRESPONSE resp;
    if (!FetchUrl(req, resp, 0)) {
        req.url = Text(u"http://") + hosts::kQZoneUser + u"/q/route.store/GetRoute?UIN=" + qq +
                  u"&type=json&version=2";
        resp = ST_URLRESPONSE();
        if (!FetchUrl(req, resp, 0)) {
            if (st.Stopped()) return false;
            const std::string cause = DescribeFailure(resp.failure);
            st.reason = ListReason::Network;
            st.reasonText = cause;
            st.observer->Notify(NoticeEvent{Notice::RouteFailed, cause});
            return false;
        }
    }
    answer = GetBodyText(resp, textFlags);
    return true;
}

// The hosts of one route entry: the walk from `view` on, consuming.
struct RouteHosts {
    Text view;
    Text album;
    Text photo;
};

RouteHosts WalkRouteEntry(TextView& view) {
    RouteHosts h;
    h.view = CutBetween(view, u"\"nu\":\"", u"\"", CUT_CONSUME);
    h.album = CutBetween(view, u"\"p\":\"", u"\"", CUT_CONSUME);
    ReplaceAll(h.album, u"sznewp", u"alist");
    ReplaceAll(h.album, u"xanewp", u"xalist");
    h.photo = CutBetween(view, u"\"s\":\"", u"\"", CUT_CONSUME);
    ReplaceAll(h.photo, u"static", u"plist");
    return h;
}

Text SkeyToken() {
    const Text cookies = GetUrlCookie(Text(u"http://") + hosts::kQZoneUser + u"/");
    return CookieValue(cookies, u"skey");
}

// Reads the albums of one list answer and hands each to the sink.
ListOutcome ReadAnswer(SiteContext& st, const Text& qq, int idcNum, const Text& body, AlbumSink& sink) {
    if (body.empty()) return ListOutcome::NoAlbums;

    // A refusal or warning of the service. The texts are matched wherever they start, the very
    // front included.
    const TextView msgMarker = u"\"msg\" : \"";
    const std::size_t msgPos = body.find(msgMarker);
    if (msgPos != Text::npos) {
        TextView rest = TextView(body).substr(msgPos + msgMarker.size());
        const Text message(rest.substr(0, rest.find(u'"')));
        if (message.find(kRateLimitText) != Text::npos) {
            st.reason = ListReason::RateLimited;
            st.reasonText = ToUtf8(message);
            st.observer->Notify(NoticeEvent{Notice::RateLimited, {}, message});
        } else {
            if (st.reason != ListReason::LoginNeeded) st.reason = ListReason::NoAccess;
            if (st.observer->Ask(QuestionEvent{Question::VerifyAccess}))
                st.observer->RequestLogin(HomeAddress(qq));
        }
        return ListOutcome::Done;
    }

    std::vector<Text> pieces;
    SplitByMarker(body, u"\"id\" : \"", pieces);
    if (pieces.size() < 2) return ListOutcome::NoAlbums;

    const Text paramHead = FormatText("idcNum=%d", idcNum) + u"&hostUin=" + qq + u"&albumid=";
    for (std::size_t i = 1; i < pieces.size(); ++i) {
        TextView piece(pieces[i]);
        ST_PERLISTRECORD rec;
        const std::size_t quote = piece.find(u'"');
        rec.ListParam = paramHead + Text(quote == TextView::npos ? TextView() : piece.substr(0, quote));
        rec.Name = CutBetween(piece, u"\"name\" : \"", u"\"", CUT_CONSUME);
        if (rec.Name.empty()) continue;
        rec.CoverUrl = CutBetween(piece, u"\"pre\" : \"", u"\"", CUT_CONSUME);
        ReplaceAll(rec.CoverUrl, u"\\/", u"/");
        rec.PrivacyFlags = PrivacyFromValue(CutBetween(piece, u"\"priv\" :", u",", CUT_CONSUME));
        rec.PictureCount = LeadingNumber(CutBetween(piece, u"\"total\" :", u",", CUT_CONSUME));
        sink.Album(rec);
        if (st.Stopped()) break;
    }
    return ListOutcome::Done;
}

// One album-list request with the hosts of one route entry; the photo and view hosts are kept.
// A route answer that names no usable album host is a failed route lookup: nothing is requested.
ListOutcome RequestAlbums(SiteContext& st, AlbumSink& sink, Version v, const Text& qq, const Text& headers, int idcNum,
                          const RouteHosts& hostsOfEntry) {
    if (!IsRouteHost(hostsOfEntry.album)) {
        Trace("route lookup gave no album host\n");
        if (st.reason == ListReason::None) {
            st.reason = ListReason::Network;
            st.reasonText = "the route lookup failed: its answer names no album host";
        }
        return ListOutcome::NoAlbums;
    }
    st.route.viewHost = hostsOfEntry.view;
    const unsigned gtk = ComputeGTk(SkeyToken());
    const Text buster = RandomFraction();
    ST_URLREQUEST req(Text(), Text(), kWaitMs);
    req.headers = headers;
    req.stop = st.stop;
    if (v == Version::V2) {
        req.url = Text(u"http://") + hostsOfEntry.album + u"/fcgi-bin/fcg_list_album_v2?hostUin=" + qq +
                  u"&format=jsonp&plat=qzone&source=qzone&t=" + buster + FormatText("&g_tk=%u", gtk);
    } else {
        req.url = Text(u"http://") + hostsOfEntry.album +
                  FormatText("/fcgi-bin/fcg_list_album_v3?g_tk=%u", gtk) +
                  u"&callback=shine1_Callback&hostUin=" + qq +
                  u"&appid=4&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&format=jsonp&notice=0"
                  u"&filter=1&handset=4&pageNumModeSort=40&pageNumModeClass=10&needUserInfo=1" +
                  FormatText("&idcNum=%d", idcNum) + u"&callbackFun=shine1&_=" + buster;
    }
    st.route.photoHost = hostsOfEntry.photo;

    ST_URLRESPONSE resp;
    const unsigned flags = v == Version::V2 ? (st.ext.V2Charset | unsigned{TXT_GUNZIP}) : unsigned{TXT_UTF8};
    if (!FetchPaced(st, req, resp)) {
        Trace("album list request failed\n");
        // The back-off gave up: the last refusal is shown as the service worded it.
        if (st.reason == ListReason::RateLimited) return ReadAnswer(st, qq, idcNum, GetBodyText(resp, flags), sink);
        if (st.reason == ListReason::None && !st.Stopped()) {
            st.reason = ListReason::Network;
            st.reasonText = DescribeFailure(resp.failure);
        }
        return ListOutcome::NoAlbums;
    }
    return ReadAnswer(st, qq, idcNum, GetBodyText(resp, flags), sink);
}

void FetchQZoneAlbums(SiteContext& st, AlbumSink& sink, Version v, const Text& qq) {
    Text headers = Text(u"Referer: ") + HomeAddress(qq);
    if (v == Version::V2) headers = Text(u"Accept-Encoding: gzip, deflate\r\n") + headers;

    Text answer;
    if (!LookupRoute(st, qq, headers, v == Version::V2 ? unsigned{TXT_GUNZIP} : unsigned{st.ext.V3Charset},
                     answer))
        return;

    // The default route entry: the data-centre number, then the entry named by the default key.
    TextView view(answer);
    const int idcNum = LeadingNumber(CutBetween(view, u"idcno\":\"", u",", CUT_CONSUME));
    const Text defaultKey = CutBetween(view, u"default\":\"", u"\"", CUT_CONSUME);
    SkipPast(view, defaultKey + u"\":");

    const RouteHosts first = WalkRouteEntry(view);
    if (RequestAlbums(st, sink, v, qq, headers, idcNum, first) == ListOutcome::Done || v == Version::V2) return;

    // Second pass of version 3: the first route entry of the answer and data centre 102.
    TextView again(answer);
    const RouteHosts second = WalkRouteEntry(again);
    RequestAlbums(st, sink, v, qq, headers, kSecondPassIdcNum, second);
}

}  // namespace

void FetchQZoneAlbumsV2(SiteContext& st, const Text& qq, AlbumSink& sink) {
    FetchQZoneAlbums(st, sink, Version::V2, qq);
}

void FetchQZoneAlbumsV3(SiteContext& st, const Text& qq, AlbumSink& sink) {
    FetchQZoneAlbums(st, sink, Version::V3, qq);
}

}  // namespace qm
