// The table of services, and the fetchers of the first three behind the one interface (a new
// service brings its fetcher in its own files and adds its row here).
#include "sites/Services.h"

#include <array>

#include "sites/Hosts.h"
#include "sites/QQGroup.h"
#include "sites/QZoneAlbumList.h"
#include "sites/QZoneFloatView.h"
#include "sites/QZoneMood.h"
#include "sites/QZonePhotoList.h"
#include "sites/TencentWeibo.h"

namespace qm {
namespace {

bool OnlyDigits(TextView text) {
    for (char16_t c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

class QZoneFetcher final : public Fetcher {
public:
    bool ReduceTarget(const Text& typed, Text& reduced, Notice& notice) const override {
        reduced = typed;
        DeleteThrough(reduced, u"com/", true);
        for (TextView mark : {u"/", u"&", u"*", u"?", u"#"}) KeepBefore(reduced, mark);
        if (!OnlyDigits(reduced)) {
            notice = Notice::NumberOnly;
            return false;
        }
        return true;
    }

    // Version 2 first; when it finds albums the mood pseudo-album follows them, otherwise
    // version 3 is asked.
    void ListAlbums(SiteContext& ctx, const Text& qq, AlbumSink& sink) override {
        FetchQZoneAlbumsV2(ctx, qq, sink);
        if (sink.Count() > 0) {
            ST_PERLISTRECORD mood;
            mood.Name = kMoodAlbumName;
            mood.ListParam = MoodListAddress(qq);
            mood.CoverUrl = kMoodCoverMark;
            mood.PictureCount = -1;
            sink.Album(mood);
            return;
        }
        if (ctx.Stopped()) return;
        FetchQZoneAlbumsV3(ctx, qq, sink);
    }

    void ListPictures(SiteContext& ctx, const ST_PERLISTRECORD& rec, PictureSink& sink) override {
        // Big, unknown-size and non-public albums list better through the UTF-8 interface.
        const bool utf8First = static_cast<uint32_t>(rec.PictureCount) > 2000 || rec.PrivacyFlags != 0;
        const auto first = utf8First ? FetchQZonePhotosUtf8 : FetchQZonePhotosGbk;
        const auto second = utf8First ? FetchQZonePhotosGbk : FetchQZonePhotosUtf8;
        first(ctx, rec, sink);
        // The other interface only when the first gave nothing and neither a stop nor the
        // history ended the listing. Its answer decides why the listing ended, unless it has none.
        if (sink.Count() == 0 && !sink.Ended() && !ctx.Stopped()) {
            const ListReason firstReason = ctx.reason;
            std::string firstText = std::move(ctx.reasonText);
            ctx.reason = ListReason::None;
            ctx.reasonText.clear();
            second(ctx, rec, sink);
            if (sink.Count() == 0 && ctx.reason == ListReason::None && ctx.reasonText.empty()) {
                ctx.reason = firstReason;
                ctx.reasonText = std::move(firstText);
            }
        }
    }

    FilmAddress LookUpFilm(const SiteContext& ctx, const ST_PERLISTRECORD& album,
                           const PictureRef& item) const override {
        return LookUpQZoneFilm(ctx, album, item);
    }
};

class GroupFetcher final : public Fetcher {
public:
    bool ReduceTarget(const Text& typed, Text& reduced, Notice&) const override {
        reduced = typed;
        DeleteThrough(reduced, u"!/", true);
        KeepBefore(reduced, u"/");
        KeepBefore(reduced, u"?");
        KeepBefore(reduced, u"#");
        return true;
    }
    void ListAlbums(SiteContext& ctx, const Text& group, AlbumSink& sink) override {
        FetchGroupAlbums(ctx, group, sink);
    }
    void ListPictures(SiteContext& ctx, const ST_PERLISTRECORD& rec, PictureSink& sink) override {
        FetchGroupPhotos(ctx, rec, sink);
    }
};

class WeiboFetcher final : public Fetcher {
public:
    bool ReduceTarget(const Text& typed, Text& reduced, Notice&) const override {
        reduced = typed;
        DeleteThrough(reduced, u".com/", true);
        DeleteThrough(reduced, u"hoto/", true);
        KeepBefore(reduced, u"/");
        KeepBefore(reduced, u"?");
        return true;
    }
    void ListAlbums(SiteContext& ctx, const Text& id, AlbumSink& sink) override {
        ctx.weiboId = id;
        FetchWeiboAlbums(ctx, id, sink);
    }
    void ListPictures(SiteContext& ctx, const ST_PERLISTRECORD& rec, PictureSink& sink) override {
        FetchWeiboPhotos(ctx, rec, sink);
    }
};

template <typename F>
Fetcher& Instance() {
    static F fetcher;
    return fetcher;
}

// The QZone login starts on the user site; a QQ number typed as the target is appended.
constexpr char16_t kQZoneLogin[] = u"http://user.qzone.qq.com/";
constexpr char16_t kWeiboLogin[] = u"http://t.qq.com/";

const std::array<Service, 3> kServices{{
    {TargetKind::QZone, "qzone", "QQ号的空间相册", "QQ号（或QQ空间主页网址）", nullptr, u"QQ空间相册", u"QQ空间", nullptr, false, NoAlbumsWording::QZone, kQZoneLogin,
     &Instance<QZoneFetcher>},
    {TargetKind::Group, "group", "QQ群相册", "QQ群号", "QQ群网址", u"QQ群相册", u"QQ群", hosts::kGroupSite, false, NoAlbumsWording::Group,
     kQZoneLogin, &Instance<GroupFetcher>},
    {TargetKind::Weibo, "weibo", "腾讯微博相册", "腾讯微博主页网址", "微博网址", u"腾讯微博相册", u"腾讯微博", hosts::kWeibo, true, NoAlbumsWording::Weibo,
     kWeiboLogin, &Instance<WeiboFetcher>},
}};

// "Contains" in the catalogue's sense: found at a position after the first character.
bool HoldsAfterFirst(TextView text, TextView what) {
    return text.size() > 1 && text.find(what, 1) != TextView::npos;
}

}  // namespace

std::shared_ptr<const ServiceState> Fetcher::SaveState(const SiteContext& ctx) const {
    auto state = std::make_shared<ListedState>();
    state->route = ctx.route;
    state->weiboId = ctx.weiboId;
    return state;
}

void Fetcher::LoadState(SiteContext& ctx, const ServiceState* state) const {
    if (const auto* listed = dynamic_cast<const ListedState*>(state)) {
        ctx.route = listed->route;
        ctx.weiboId = listed->weiboId;
    }
}

std::span<const Service> Services() {
    return kServices;
}

const Service& ServiceOf(TargetKind kind) {
    for (const Service& s : kServices)
        if (s.kind == kind) return s;
    return kServices.front();
}

const Service* ServiceByWord(std::string_view word) {
    for (const Service& s : kServices)
        if (word == s.word) return &s;
    return nullptr;
}

const Service& ServiceOfAddress(TextView address) {
    const Service* fallback = &kServices.front();
    // Later rows first: a row may add a more particular mark than those before it.
    for (auto it = kServices.rbegin(); it != kServices.rend(); ++it) {
        if (!it->addressMark) {
            fallback = &*it;
        } else if (HoldsAfterFirst(address, it->addressMark)) {
            return *it;
        }
    }
    return *fallback;
}

const Service& ServingService(TargetKind chosen, TextView target) {
    const Service& picked = ServiceOf(chosen);
    if (!picked.addressMark) return picked;
    for (const Service& s : kServices) {
        if (!s.claimsItsPages || !s.addressMark) continue;
        const Text page = Text(u"http://") + s.addressMark + u"/";
        if (target.find(page) != TextView::npos) return s;
    }
    return picked;
}

}  // namespace qm
