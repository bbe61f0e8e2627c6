#include "texts/EventTexts.h"

#include "core/Prompts.h"
#include "sites/Services.h"

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
constexpr char16_t kNoAlbumsOther[] = u"没有获取到相册，请先在下载器的登录菜单里登录后，再点获取相册列表";
constexpr char16_t kAccessQuestion[] = u"加密或非公开空间，是否进行身份验证?\n(验证成功后请重新获取相册列表)";
constexpr char16_t kQuestionTitle[] = u"提示";

Text NoAlbumsText(TargetKind kind) {
    switch (ServiceOf(kind).noAlbums) {
        case NoAlbumsWording::QZone:
            return kNoQZoneAlbums;
        case NoAlbumsWording::Group:
            return kNoGroupAlbums;
        case NoAlbumsWording::Weibo:
            return kNoWeiboAlbums;
        case NoAlbumsWording::Generic:
            break;
    }
    return kNoAlbumsOther;
}

}  // namespace

ShownText NoticeText(const NoticeEvent& n) {
    switch (n.id) {
        case Notice::EmptyTarget:
            return {PromptEmptyTarget(), {}};
        case Notice::NumberOnly:
            return {kNumberOnly, {}};
        case Notice::NoAlbums:
            return {NoAlbumsText(n.kind), {}};
        case Notice::RouteFailed:
            return {u"QQ空间相册错误1", {}};
        case Notice::RateLimited:
        case Notice::ServiceMessage:
            return {n.serviceText, {}};
        case Notice::MoodLogin:
            return {PromptMoodLogin(), {}};
        case Notice::NoSaveFolder:
            return {u"请先设置保存路径", {}};
        case Notice::SaveFolderUnusable:
            return {u"请检测设置的保存路径是否有误", {}};
        case Notice::NoAlbumChosen:
            return {PromptSelectAlbums(), {}};
        case Notice::ThreadFailed:
            return {u"Create thread:DownPicFunc failed.", {}};
        case Notice::OutOfMemory:
            return {u"内存分配失败", {}};
        case Notice::ArchiveUnusable:
            return {u"下载记录无法使用，本次下载不会跳过已下载的图片", {}};
    }
    return {};
}

ShownText QuestionText(const QuestionEvent& q) {
    switch (q.id) {
        case Question::VerifyAccess:
            return {kAccessQuestion, kQuestionTitle};
        case Question::AlbumPassword:
            return {u"加密相册，是否输入密码？", kQuestionTitle};
        case Question::DownloadListedSoFar:
            return {PromptDownloadListedSoFar(), {}};
    }
    return {};
}

}  // namespace qm
