// The float view answers JSONP with `data.photos[]`: the asked item and its neighbours, each with
// `picKey`/`lloc`, and a video item with `video_info`. The answer is read with a small bounded JSON
// reader (strings with their escapes, nesting at most kMaxDepth deep); the entry is found by its key,
// never by its position.
#include "sites/QZoneFloatView.h"

#include "net/BodyText.h"
#include "net/URLSource2.h"
#include "sites/Hosts.h"
#include "sites/PageFetch.h"
#include "sites/Token.h"

namespace qm {
namespace {

constexpr int kMaxDepth = 32;

struct Reader {
    TextView s;
    std::size_t i = 0;

    void Blank() {
        while (i < s.size() && (s[i] == u' ' || s[i] == u'\t' || s[i] == u'\r' || s[i] == u'\n')) ++i;
    }
    bool Eat(char16_t c) {
        Blank();
        if (i < s.size() && s[i] == c) {
            ++i;
            return true;
        }
        return false;
    }
    static int Hex(char16_t c) {
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    }
    // A string at the cursor, unescaped; false when there is none or it is malformed.
    bool String(Text* out) {
        Blank();
        if (i >= s.size() || s[i] != u'"') return false;
        ++i;
        while (i < s.size()) {
            const char16_t c = s[i++];
            if (c == u'"') return true;
            if (c != u'\\') {
                if (out) out->push_back(c);
                continue;
            }
            if (i >= s.size()) return false;
            const char16_t e = s[i++];
            char16_t v = e;
            switch (e) {
                case u'n': v = u'\n'; break;
                case u't': v = u'\t'; break;
                case u'r': v = u'\r'; break;
                case u'b': v = u'\b'; break;
                case u'f': v = u'\f'; break;
                case u'u': {
                    if (i + 4 > s.size()) return false;
                    int code = 0;
                    for (int k = 0; k < 4; ++k) {
                        const int h = Hex(s[i + k]);
                        if (h < 0) return false;
                        code = code * 16 + h;
                    }
                    i += 4;
                    v = static_cast<char16_t>(code);
                    break;
                }
                default: break;  // \" \\ \/ and anything else stand for themselves
            }
            if (out) out->push_back(v);
        }
        return false;
    }
    // Skips one value of any kind; false when malformed or nested too deep.
    bool Skip(int depth = 0) {
        Blank();
        if (i >= s.size() || depth > kMaxDepth) return false;
        const char16_t c = s[i];
        if (c == u'"') return String(nullptr);
        if (c == u'{' || c == u'[') {
            const char16_t close = c == u'{' ? u'}' : u']';
            ++i;
            if (Eat(close)) return true;
            for (;;) {
                if (c == u'{' && (!String(nullptr) || !Eat(u':'))) return false;
                if (!Skip(depth + 1)) return false;
                if (Eat(close)) return true;
                if (!Eat(u',')) return false;
            }
        }
        const std::size_t start = i;
        while (i < s.size() && s[i] != u',' && s[i] != u'}' && s[i] != u']' && s[i] != u' ' && s[i] != u'\r' &&
               s[i] != u'\n' && s[i] != u'\t')
            ++i;
        return i > start;
    }
    // Calls `member(key)` with the cursor at each member's value of the object at the cursor; the
    // callback reads the value or leaves it (it is skipped). False when malformed.
    template <typename F>
    bool Object(F&& member) {
        if (!Eat(u'{')) return false;
        if (Eat(u'}')) return true;
        for (;;) {
            Text key;
            if (!String(&key) || !Eat(u':')) return false;
            const std::size_t at = i;
            member(key);
            i = at;
            if (!Skip()) return false;
            if (Eat(u'}')) return true;
            if (!Eat(u',')) return false;
        }
    }
    // The scalar at the cursor as text (a string unescaped, a number or word as written).
    Text Scalar() {
        Blank();
        Text out;
        if (i < s.size() && s[i] == u'"') {
            if (!String(&out)) out.clear();
            return out;
        }
        const std::size_t start = i;
        if (!Skip()) return {};
        if (i > start && (s[start] == u'{' || s[start] == u'[')) return {};
        return Text(s.substr(start, i - start));
    }
};

bool IsHttp(const Text& url) {
    return url.rfind(u"http://", 0) == 0 || url.rfind(u"https://", 0) == 0;
}

FilmAddress Failed(Failure why) {
    FilmAddress out;
    out.failure = std::move(why);
    return out;
}
FilmAddress Failed(std::string why) {
    return Failed(Failure{FailureKind::Other, 0, std::move(why)});
}

Text AlbumIdOf(const Text& listParam) {
    for (TextView key : {TextView(u"albumid="), TextView(u"albumId="), TextView(u"topicId=")}) {
        const std::size_t at = listParam.find(key);
        if (at == Text::npos) continue;
        const std::size_t start = at + key.size();
        return listParam.substr(start, listParam.find(u'&', start) - start);
    }
    return {};
}

Text LoginNumber(TextView cookies) {
    Text uin;
    for (char16_t c : CookieValue(cookies, u"uin"))
        if (c != u'o') uin.push_back(c);
    const auto first = uin.find_first_not_of(u'0');
    uin.erase(0, first == Text::npos ? uin.size() : first);
    return uin;
}

Text Percent(const Text& value) {
    static const char kHex[] = "0123456789ABCDEF";
    Text out;
    for (unsigned char c : ToUtf8(value)) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_' ||
            c == '.' || c == '~') {
            out.push_back(c);
        } else {
            out.push_back(u'%');
            out.push_back(static_cast<char16_t>(kHex[c >> 4]));
            out.push_back(static_cast<char16_t>(kHex[c & 15]));
        }
    }
    return out;
}

}  // namespace

Text FloatViewAddress(const Text& albumId, const Text& picKey, const Text& hostUin, unsigned gtk, const Text& uin) {
    return Text(u"http://") + hosts::kQZoneProxy + u"/proxy/domain/photo.qzone.qq.com/fcgi-bin/" +
           u"cgi_floatview_photo_list_v2?g_tk=" + FromUtf8(std::to_string(gtk)) +
           u"&callback=viewer_Callback&topicId=" + Percent(albumId) + u"&picKey=" + Percent(picKey) +
           u"&cmtOrder=1&fupdate=1&plat=qzone&source=qzone&inCharset=utf-8&outCharset=utf-8&callbackFun=viewer" +
           u"&uin=" + Percent(uin) + u"&hostUin=" + Percent(hostUin) + u"&appid=4&isFirst=1";
}

FilmAddress ReadFloatView(TextView answer, TextView picKey) {
    // The JSON object inside the JSONP wrapper.
    const std::size_t open = answer.find(u'{');
    if (open == TextView::npos) return Failed("the float view gave no answer");
    Reader r{answer, open};
    long code = 0;
    Text message;
    bool found = false, video = false, hasInfo = false;
    Text status, download, play;
    bool ok = r.Object([&](const Text& key) {
        if (key == u"code") {
            code = pagefetch::LeadingInt(r.Scalar());
        } else if (key == u"message") {
            message = r.Scalar();
        } else if (key == u"data") {
            r.Object([&](const Text& dataKey) {
                if (dataKey != u"photos" || !r.Eat(u'[')) return;
                if (r.Eat(u']')) return;
                for (;;) {
                    Text id, lloc, st, dl, pl;
                    bool isVideo = false, info = false;
                    if (!r.Object([&](const Text& k) {
                            if (k == u"picKey") id = r.Scalar();
                            else if (k == u"lloc") lloc = r.Scalar();
                            else if (k == u"is_video") isVideo = r.Scalar() == u"true";
                            else if (k == u"video_info") {
                                info = true;
                                r.Object([&](const Text& vk) {
                                    if (vk == u"status") st = r.Scalar();
                                    else if (vk == u"download_url") dl = r.Scalar();
                                    else if (vk == u"video_url") pl = r.Scalar();
                                });
                            }
                        }))
                        return;
                    if (!found && (id == picKey || (id.empty() && lloc == picKey))) {
                        found = true;
                        video = isVideo;
                        hasInfo = info;
                        status = st;
                        download = dl;
                        play = pl;
                    }
                    if (!r.Eat(u',')) return;
                }
            });
        }
    });
    if (!ok && !found) return Failed("the float view answer is not readable");
    if (code < 0) return Failed("the float view refused: " + std::to_string(code) + " " + ToUtf8(message));
    if (!found) return Failed("the float view does not list the item");
    if (!hasInfo) return Failed(video ? "the float view gives no video_info" : "the item is no video");
    FilmAddress out;
    if (IsHttp(play)) out.play = play;
    if (status != u"2") {
        out.state = FilmState::NotReady;
    } else if (IsHttp(download)) {
        out.state = FilmState::Ready;
        out.download = download;
    } else if (!out.play.empty()) {
        out.state = FilmState::StreamOnly;
    } else {
        return Failed("the float view names no film address");
    }
    return out;
}

FilmAddress LookUpQZoneFilm(const SiteContext& ctx, const ST_PERLISTRECORD& album, const PictureRef& item) {
    const Text albumId = AlbumIdOf(album.ListParam);
    if (albumId.empty() || item.photoId.empty()) return Failed("the item has no key for the float view");
    const Text user = Text(u"http://") + hosts::kQZoneUser;
    const Text cookies = GetUrlCookie(user);
    ST_URLREQUEST req(FloatViewAddress(albumId, item.photoId, ctx.target, PSkeyOrSkeyToken(cookies),
                                       LoginNumber(cookies)),
                      Text(), 20000);
    req.headers = u"Accept-Encoding: gzip, deflate\r\nReferer: " + user + u"/" + ctx.target;
    req.attempts = 2;
    req.pauseSeconds = 2;
    req.stop = ctx.stop;
    ST_URLRESPONSE resp;
    if (!FetchUrl(req, resp, 0)) return Failed(resp.failure);
    FilmAddress film = ReadFloatView(GetBodyText(resp, TXT_GUNZIP | TXT_AUTO), item.photoId);
    // The film host wants to be asked from a QZone page, as the viewer does.
    film.headers = u"Referer: " + user + u"/" + ctx.target;
    return film;
}

}  // namespace qm
