// The fetchers of the QQ Zone family behind the one interface, and the registry that picks one by
// the kind of target. A new service is a fetcher class here (or in its own file), a line in
// FetcherFor, and the simulator's answers.
#include <filesystem>
#include <system_error>

#include "net/FileUtil.h"
#include "sites/Fetcher.h"
#include "sites/QQGroup.h"
#include "sites/QZoneAlbumList.h"
#include "sites/QZoneMood.h"
#include "sites/QZonePhotoList.h"
#include "sites/TencentWeibo.h"

namespace qm {
namespace {

constexpr char16_t kNumberOnly[] = u"请直接输入QQ号进行下载";
constexpr char16_t kNoQZoneAlbums[] =
    u"没有获取到相册，原因如下：\n\n1、可能是因为空间不是公开的，你哪个号能进入他的空间，就先在下载器的登录菜"
    u"单里"
    u"登录了那个号后再点获取相册\n\n2、下载QQ空间相册请直接输入QQ号进行下载";
constexpr char16_t kNoWeiboAlbums[] =
    u"没有获取到相册，可按以下步骤操作：\n\n1、请先在下载器的登录菜单里登录你的腾讯微博帐号("
    u"登录时勾上下次自动登录)"
    u"\n\n2、输入你要下载的那个人的微博主页网址后，点获取相册列表";
constexpr char16_t kNoGroupAlbums[] =
    u"没有获取到相册，可按以下步骤操作：\n\n1、你哪个号加入了你要下载的QQ群，就先在下载器的登录菜单里登录那个"
    u"QQ号"
    u"\n\n2、输入你要下载的QQ群号后，点获取相册列表";

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

    Text NoAlbumsText() const override { return kNoQZoneAlbums; }
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
    Text NoAlbumsText() const override { return kNoGroupAlbums; }
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
    Text NoAlbumsText() const override { return kNoWeiboAlbums; }
};

}  // namespace

Fetcher& FetcherFor(TargetKind kind) {
    static QZoneFetcher qzone;
    static GroupFetcher group;
    static WeiboFetcher weibo;
    switch (kind) {
        case TargetKind::Group:
            return group;
        case TargetKind::Weibo:
            return weibo;
        case TargetKind::QZone:
            break;
    }
    return qzone;
}

}  // namespace qm
