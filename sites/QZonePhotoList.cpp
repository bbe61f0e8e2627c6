// The QZone photo list: asks the photo-list interfaces for one album's pictures page by page and
// hands each picture (best address plus fallback) to the picture sink.
#include "sites/QZonePhotoList.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

#include "net/BodyText.h"
#include "net/FileUtil.h"
#include "net/FindUnit.h"
#include "net/Trace.h"
#include "net/URLSource2.h"
#include "sites/Hosts.h"
#include "sites/PageFetch.h"
#include "sites/QZoneMood.h"
#include "sites/QZonePicture.h"
#include "sites/Token.h"

namespace qm {
namespace {

constexpr char kNotAList[] = "the answer is not a photo list";

Text UserSiteAddress() {
    return Text(u"http://") + hosts::kQZoneUser;
}

Text Ascii(const std::string& s) {
    return Text(s.begin(), s.end());
}
Text Number(long long v) {
    return Ascii(std::to_string(v));
}
Text Unsigned(unsigned v) {
    return Ascii(std::to_string(v));
}

bool Contains(TextView text, TextView what) {
    return text.find(what) != TextView::npos;
}

// The login number from the "uin" cookie: every letter o removed and, when asked, leading zeros too.
Text LoginNumber(TextView cookies, bool stripZeros) {
    Text uin;
    for (char16_t c : CookieValue(cookies, u"uin"))
        if (c != u'o') uin.push_back(c);
    if (stripZeros) {
        const auto first = uin.find_first_not_of(u'0');
        uin.erase(0, first == Text::npos ? uin.size() : first);
    }
    return uin;
}

struct PageToken {
    unsigned gtk;
    Text uin;
};

// Token and login number, read afresh for every page so that a login in between counts.
PageToken ReadToken(bool utf8Variant) {
    const Text cookies = GetUrlCookie(UserSiteAddress());
    PageToken t;
    t.gtk = utf8Variant ? PSkeyOrSkeyToken(cookies) : ComputeGTk(CookieValue(cookies, u"skey"));
    t.uin = LoginNumber(cookies, utf8Variant);
    return t;
}

// The album's own page on the user site ("http://USER/QQ/photo/ALBUMID"), where the owner's
// password is entered.
Text AlbumPageAddress(const Text& listParam) {
    Text rest = listParam;
    const auto amp = rest.find(u'&');
    rest.erase(0, amp == Text::npos ? 0 : amp + 1);
    Text url = UserSiteAddress() + u"/" + rest;
    ReplaceAll(url, u"hostUin=", u"");
    ReplaceAll(url, u"&albumid=", u"/photo/");
    return url;
}

// A form value as a browser sends it: UTF-8, every byte but the unreserved ones as %XX.
std::string FormValue(const Text& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : ToUtf8(value)) {
        if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 15];
        }
    }
    return out;
}

// Posts the password to the album's page the way its form does (field "password").
void SubmitAlbumPassword(SiteContext& st, const Text& page, const Text& password) {
    ST_URLREQUEST req(page, Text(), 20000);
    req.verb = u"POST";
    req.headers = u"Content-Type: application/x-www-form-urlencoded\r\nReferer: " + page;
    req.body = "password=" + FormValue(password);
    req.stop = st.stop;
    ST_URLRESPONSE resp;
    FetchPaced(st, req, resp);
}

// Asks for the album password when the answer is the server's refusal of an encrypted album.
// Returns true when the user went on (the password was submitted, or the login window was shown
// on the album's page).
bool AskPassword(SiteContext& st, const Text& body, const ST_PERLISTRECORD& rec, bool& asked) {
    if (asked || !(rec.PrivacyFlags & PrivacyEncrypted)) return false;
    if (!pagefetch::ContainsAfterFirst(body, u"\"message\":\"对不起")) return false;
    asked = true;  // once per album and interface, whatever the answer
    st.reason = ListReason::NoAccess;
    if (st.passwordAskedFor == rec.ListParam) return false;  // the other interface asked already
    st.passwordAskedFor = rec.ListParam;
    const Text page = AlbumPageAddress(rec.ListParam);
    const PasswordAnswer answer =
        st.observer->AskAlbumPassword(QuestionEvent{Question::AlbumPassword}, rec, page);
    if (!answer.enter) return false;
    if (answer.password) SubmitAlbumPassword(st, page, *answer.password);
    st.reason = ListReason::None;  // the page is asked again: its answer decides
    return true;
}

// When the service asked for a login (or a verification), offers the login window once per album.
// True when the user logged in, so that the page is asked again.
bool OfferLogin(SiteContext& st, bool& asked) {
    if (asked || st.reason != ListReason::LoginNeeded) return false;
    asked = true;
    if (!st.observer->Ask(QuestionEvent{Question::VerifyAccess})) return false;
    st.observer->RequestLogin(UserSiteAddress() + u"/" + st.target);
    st.reason = ListReason::None;
    return true;
}

// Reads one picture (the text after a "batchId" marker). Only the picture's own object is read,
// never what follows the list. Reads nothing but its arguments, so pictures can be read on
// another thread than the one that names them.
PictureRef ReadPicture(TextView piece, const SharedText& headers, bool nameFirst) {
    const PictureFields fields(PictureObject(piece));
    const PictureFields::Key firstKey = nameFirst ? PictureFields::Name : PictureFields::Desc;
    const PictureFields::Key secondKey = nameFirst ? PictureFields::Desc : PictureFields::Name;
    Text name = Trim(fields.String(firstKey));
    if (name.empty()) name = Text(fields.String(secondKey));

    PictureAddresses addresses = BestAddresses(fields);
    PictureRef picture;
    picture.main = std::move(addresses.main);
    picture.alternate = std::move(addresses.alternate);
    picture.title = std::move(name);
    picture.headers = headers;
    picture.description = Text(fields.String(PictureFields::Desc));
    // The picture's key: "lloc", else "sloc" ("id" may be a useless 4294967295).
    picture.photoId = Text(fields.String(PictureFields::Lloc));
    if (picture.photoId.empty()) picture.photoId = Text(fields.String(PictureFields::Sloc));
    // A video item (the flag may come as a boolean, a string or a number).
    picture.isVideo = FlagField(fields, PictureFields::IsVideo);
    const PictureTimes times = ReadPictureTimes(fields);
    picture.shootTime = times.shot;
    picture.uploadTime = times.uploaded;
    return picture;
}

// The first "batchId" marker at or after `from`, found by its rare capital I rather than by its
// opening quote, which every key and text of the page has.
std::size_t FindBatchMarker(TextView body, std::size_t from) {
    constexpr TextView kMarker = u"\"batchId\"";
    constexpr std::size_t kCapital = 6;  // where the I is in the marker
    for (std::size_t i = FindUnit(body, u'I', from + kCapital); i != TextView::npos;
         i = FindUnit(body, u'I', i + 1)) {
        if (body.substr(i - kCapital, kMarker.size()) == kMarker) return i - kCapital;
    }
    return TextView::npos;
}

// The text before the first "batchId" marker and after each one, as views of the body (nothing
// copied); empty when the body has no marker.
std::vector<TextView> PicturePieces(TextView body) {
    constexpr std::size_t kMarkerSize = 9;  // "batchId" with its quotes
    std::vector<TextView> pieces;
    std::size_t at = FindBatchMarker(body, 0);
    if (at == TextView::npos) return pieces;
    std::size_t from = 0;
    while (at != TextView::npos) {
        pieces.push_back(body.substr(from, at - from));
        from = at + kMarkerSize;
        at = FindBatchMarker(body, from);
    }
    pieces.push_back(body.substr(from));
    return pieces;
}

// Reads the pictures of a page on two threads: a thread of its own and the thread that names
// them, which reads whenever the next picture in page order is not ready yet. Reading a picture
// costs about as much as naming it, and the two are most of the work of listing a large album
// again. Each picture is read once, by whichever thread claims it first. Stops reading when
// destroyed.
class PageReader {
public:
    PageReader(const std::vector<TextView>& pieces, const SharedText& headers, bool nameFirst)
        : pieces_(pieces), headers_(headers), nameFirst_(nameFirst), count_(pieces.size() - 1),
          pictures_(count_), errors_(count_), states_(std::make_unique<std::atomic<uint8_t>[]>(count_)),
          thread_([this] {
              while (ReadNext()) {
              }
          }) {}
    ~PageReader() {
        next_.store(count_, std::memory_order_relaxed);  // nothing more is claimed
        thread_.join();
    }
    PageReader(const PageReader&) = delete;
    PageReader& operator=(const PageReader&) = delete;

    // Picture `i` (counted from 0, asked in order); rethrows what reading it threw. The caller may
    // take it over.
    PictureRef& Get(std::size_t i) {
        uint8_t state;
        while ((state = states_[i].load(std::memory_order_acquire)) == kUnread) {
            if (!ReadNext()) states_[i].wait(kUnread, std::memory_order_acquire);
        }
        if (state == kFailed) std::rethrow_exception(errors_[i]);
        return pictures_[i];
    }

private:
    static constexpr uint8_t kUnread = 0, kRead = 1, kFailed = 2;

    // Claims and reads the first picture nobody claimed; false when none is left.
    bool ReadNext() {
        const std::size_t j = next_.fetch_add(1, std::memory_order_relaxed);
        if (j >= count_) return false;
        uint8_t state = kRead;
        try {
            pictures_[j] = ReadPicture(pieces_[j + 1], headers_, nameFirst_);
        } catch (...) {
            errors_[j] = std::current_exception();
            state = kFailed;
        }
        states_[j].store(state, std::memory_order_release);
        states_[j].notify_one();
        return true;
    }

    const std::vector<TextView>& pieces_;
    const SharedText& headers_;
    const bool nameFirst_;
    const std::size_t count_;
    std::vector<PictureRef> pictures_;
    std::vector<std::exception_ptr> errors_;
    std::unique_ptr<std::atomic<uint8_t>[]> states_;  // per picture: kUnread, kRead or kFailed
    std::atomic<std::size_t> next_{0};                // the first picture nobody claimed
    std::thread thread_;                              // last: starts once everything above is made
};

// Hands every picture piece (1..n) over in order; false when the job asked to end the album.
// A page of many pictures is read by a PageReader, on both cores, while this thread names them.
bool AddPictures(SiteContext& st, PictureSink& sink, const std::vector<TextView>& pieces,
                 const SharedText& headers) {
    constexpr std::size_t kReadAside = 64;  // fewer pictures are not worth a thread
    const bool nameFirst = st.ext.OriginalNameMode == 1;
    std::optional<PageReader> reader;
    if (pieces.size() > kReadAside) {
        try {
            reader.emplace(pieces, headers, nameFirst);
        } catch (const std::system_error&) {  // no thread to be had: this one reads them all
        }
    }
    if (!reader) {
        for (std::size_t i = 1; i < pieces.size(); ++i) {
            if (!sink.TakePicture(ReadPicture(pieces[i], headers, nameFirst)) || st.Stopped()) return false;
        }
        return true;
    }
    for (std::size_t i = 0; i + 1 < pieces.size(); ++i) {
        if (!sink.TakePicture(std::move(reader->Get(i))) || st.Stopped()) return false;
    }
    return true;
}

// True when the answer's first "code" is negative: the service refused the list.
bool IsRefusal(TextView body) {
    const std::size_t at = body.find(u"\"code\"");
    if (at == TextView::npos) return false;
    std::size_t i = at + 6;
    while (i < body.size() && (body[i] == u' ' || body[i] == u':')) ++i;
    return i < body.size() && body[i] == u'-';
}

// True when an answer is the photo-list interface's, with or without pictures ("photoList" is
// there even on the page after the last), as opposed to an error page answered with success.
bool IsPhotoListAnswer(TextView body) {
    return body.find(u"\"photoList\"") != TextView::npos || IsRefusal(body);
}

// Notes that a page could not be read: the album's listing is cut short for that reason.
void PageFailed(SiteContext& st, std::string reason) {
    if (st.Stopped()) return;
    if (st.reason == ListReason::None) st.reason = ListReason::Network;
    if (st.reasonText.empty()) st.reasonText = std::move(reason);
}

bool FetchBody(SiteContext& st, ST_URLREQUEST& req, Text& body) {
    ST_URLRESPONSE resp;
    if (!FetchPaced(st, req, resp) || pagefetch::FailedPage(resp)) {
        if (!st.Stopped() && st.reasonText.empty()) st.reasonText = DescribeFailure(resp.failure);
        return false;
    }
    // An error status is a failed page, whatever its body says.
    if (resp.status >= 400) {
        PageFailed(st, DescribeFailure(FetchFailure{FailureKind::HttpStatus, resp.status, {}}));
        return false;
    }
    body = GetBodyText(resp, TXT_GUNZIP | TXT_AUTO);
    // A refusal of the service (a negative code): the album is not open to this viewer.
    if (st.reason == ListReason::None && IsRefusal(body)) st.reason = ListReason::NoAccess;
    return !body.empty();
}

// The pause after the UTF-8 photo list's page `page` (counted from 1): (page + 20) * 200 ms, held
// at kMaxPagePauseMs from the page where it would pass it.
constexpr long long kMaxPagePauseMs = 10000;
long long Utf8PagePauseMs(int page) {
    return std::min<long long>((page + 20) * 200LL, kMaxPagePauseMs);
}

void SleepMs(SiteContext& st, long long ms) {
    st.clock->SleepFor(std::chrono::milliseconds(ms), st.stop);
}

}  // namespace

void FetchQZonePhotosGbk(SiteContext& st, const ST_PERLISTRECORD& rec, PictureSink& sink) {
    if (rec.CoverUrl == kMoodCoverMark) return;

    const Text& target = st.target;
    ST_URLREQUEST req(Text(), Text(), 20000);
    req.headers = u"Accept-Encoding: gzip, deflate\r\nReferer: " + UserSiteAddress() + u"/" + target;

    std::error_code ec;
    const bool q2 = std::filesystem::exists(PathFromText(st.programFolder + u"Q2.txt"), ec);

    int page = 0;
    bool asked = false;
    bool loginAsked = false;
    bool viewAlbum = false;
    for (;;) {
        // The hosts come from the route answer; without one there is nothing to ask.
        if (!IsRouteHost((viewAlbum || (rec.PrivacyFlags != 0 && !q2)) ? st.route.viewHost
                                                                       : st.route.photoHost)) {
            Trace("route lookup gave no photo host\n");
            if (st.reasonText.empty())
                st.reasonText = "the route lookup failed: its answer names no photo host";
            return;
        }
        const PageToken tok = ReadToken(false);
        if (viewAlbum || (rec.PrivacyFlags != 0 && !q2)) {
            req.url =
                u"http://" + st.route.viewHost +
                u"/cgi-bin/common/cgi_view_album_v2?inCharset=gbk&outCharset=gbk&format=jsonp&plat=qzone"
                u"&source=qzone&" +
                rec.ListParam + u"&t=" + RandomFraction() + u"&g_tk=" + Unsigned(tok.gtk) + u"&uin=" +
                tok.uin;
            ReplaceAll(req.url, u"albumid=", u"albumId=");
        } else {
            req.url = u"http://" + st.route.photoHost + u"/fcgi-bin/cgi_list_photo?g_tk=" +
                      Unsigned(tok.gtk) + u"&callback=shine0_Callback&mode=0&" + rec.ListParam +
                      u"&noTopic=0&uin=" + tok.uin + u"&pageStart=" + Number(page * 500LL) +
                      u"&pageNum=500&singleurl=1&notice=0&appid=4&inCharset=gbk&outCharset=gbk&source=qzone"
                      u"&plat=qzone&outstyle=json&format=jsonp&json_esc=1&callbackFun=shine0&_=" +
                      RandomFraction();
            ReplaceAll(req.url, u"albumid=", u"topicId=");
            ++page;
        }
        const bool commonInterface = Contains(req.url, u"/cgi-bin/common");

        Text body;
        if (!FetchBody(st, req, body)) return;
        if (OfferLogin(st, loginAsked)) {
            if (!commonInterface) --page;
            continue;
        }
        if (AskPassword(st, body, rec, asked)) {
            // Ask the page that was refused again, now that the password has been entered;
            // going on with the next page would lose the first page's pictures.
            if (!commonInterface) --page;
            continue;
        }

        const std::vector<TextView> pieces = PicturePieces(body);
        if (pieces.size() < 2) {
            if (commonInterface || viewAlbum || sink.Count() > 0) {
                if (!IsPhotoListAnswer(body)) PageFailed(st, kNotAList);
                return;
            }
            viewAlbum = true;  // the same album again through the view-album interface
            continue;
        }
        if (!AddPictures(st, sink, pieces, Text())) return;
        if (commonInterface) return;
    }
}

void FetchQZonePhotosUtf8(SiteContext& st, const ST_PERLISTRECORD& rec, PictureSink& sink) {
    if (rec.CoverUrl == kMoodCoverMark) {
        FetchMoodPictures(st, rec, sink);
        return;
    }

    // Every picture of the album carries the same Referer: one copy, shared.
    const SharedText referer(u"Referer: " + UserSiteAddress() + u"/" + st.target);
    ST_URLREQUEST req(Text(), Text(), 20000);
    req.headers = u"Accept-Encoding: gzip, deflate\r\n" + referer.Get();
    req.attempts = 3;
    req.pauseSeconds = 5;

    int page = 0;
    long long counter = 0;
    bool asked = false;
    bool loginAsked = false;
    for (;;) {
        const PageToken tok = ReadToken(true);
        const long long t =
            static_cast<long long>(pagefetch::ProcessClockMs()) + counter * 1000000LL + 1000000LL;
        const Text path = u"/fcgi-bin/cgi_list_photo?t=" + Number(t) + u"&mode=0&" + rec.ListParam +
                          u"&noTopic=0&uin=" + tok.uin + u"&pageStart=" + Number(page * 400LL) +
                          u"&pageNum=400&skipCmtCount=0&singleurl=1&batchId=&notice=0&appid=4"
                          u"&inCharset=utf-8&outCharset=utf-8&source=qzone&plat=qzone&outstyle=json"
                          u"&format=jsonp&json_esc=1&question=&answer=&callbackFun=shine0&g_tk=" +
                          Unsigned(tok.gtk);
        if (rec.PrivacyFlags == 0)
            req.url = UserSiteAddress() + u"/p/plist.photo" + path;
        else
            req.url =
                Text(u"http://") + hosts::kQZoneProxy + u"/proxy/domain/" + hosts::kPhotoListDomain + path;
        ReplaceAll(req.url, u"albumid=", u"topicId=");
        ++page;
        ++counter;

        Text body;
        if (!FetchBody(st, req, body)) return;
        if (OfferLogin(st, loginAsked)) {
            --page;
            continue;
        }
        if (AskPassword(st, body, rec, asked)) {
            SleepMs(st, 3000);
            --page;  // the same page again; the request counter keeps counting
            continue;
        }

        const std::vector<TextView> pieces = PicturePieces(body);
        if (pieces.size() < 2) {
            if (!IsPhotoListAnswer(body)) PageFailed(st, kNotAList);
            return;
        }
        if (!AddPictures(st, sink, pieces, referer)) return;
        // The service throttles quick page walks: pause longer the further the album goes, up to
        // kMaxPagePauseMs (the pauses of a 100,000-picture album would otherwise add up to hours).
        SleepMs(st, Utf8PagePauseMs(page));
        if (st.Stopped()) return;
    }
}

}  // namespace qm
