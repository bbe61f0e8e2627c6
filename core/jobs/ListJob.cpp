#include "core/jobs/ListJob.h"

#include <system_error>

#include "core/CleanFileName.h"
#include "core/Prompts.h"
#include "core/Settings.h"
#include "net/Trace.h"
#include "sites/Hosts.h"
#include "sites/QQGroup.h"
#include "sites/QZoneAlbumList.h"
#include "sites/QZoneMood.h"
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

#ifdef _WIN32
constexpr char16_t kSeparator = u'\\';
#else
constexpr char16_t kSeparator = u'/';
#endif

// Drops everything up to and including the first `marker`, when present.
void DropThrough(Text& text, TextView marker) {
    DeleteThrough(text, marker, true);
}

bool OnlyDigits(TextView text) {
    for (char16_t c : text)
        if (c < u'0' || c > u'9') return false;
    return true;
}

// A target as a folder name below the save folder: cleaned, never "." or "..", with a trailing
// separator unless empty.
void MakeFolderComponent(Text& text) {
    CleanFileName(text, false, 0);
    ReplaceAll(text, u"/", TextView(&kSeparator, 1));
    if (text.find_first_not_of(u'.') == Text::npos) text.clear();  // only dots would climb out
    if (!text.empty() && text.back() != kSeparator) text.push_back(kSeparator);
}

void EnterRunningLook(AppState& st) {
    Frontend& fe = *st.frontend;
    uint8_t idle = ListIdle;
    st.ListJobState.compare_exchange_strong(idle, ListRunning);  // a stop request stays
    fe.EnableControl(Ctl::SiteChoice, false);
    fe.EnableControl(Ctl::DownloadButton, false);
    fe.EnableControl(Ctl::Target, false);
    fe.EnableControl(Ctl::Thumbnails, false);
    fe.SetCheck(Ctl::SelectAll, false);
    fe.SetControlText(Ctl::ListButton, u"终止获取");
    fe.SetControlText(Ctl::AlbumGroup, u"相册列表");
    fe.SetControlText(Ctl::Status, u"正在获取相册列表，请稍等...");
    fe.SetControlText(Ctl::Progress, Text());
    fe.ShowControl(Ctl::StartupNotice, false);
    fe.EnableControl(Ctl::FindLink, false);
    fe.EnableControl(Ctl::FilterLink, false);
    fe.EnableControl(Ctl::ExportLink, false);
}

void AppendMoodAlbum(AppState& st, const Text& qq) {
    ST_PERLISTRECORD mood;
    mood.Name = kMoodAlbumName;
    mood.ListParam = MoodListAddress(qq);
    mood.CoverUrl = kMoodCoverMark;
    mood.PictureCount = -1;
    AddAlbum(st, mood);
}

void ListQZone(AppState& st, Text target) {
    DropThrough(target, u"com/");
    for (TextView mark : {u"/", u"&", u"*", u"?", u"#"}) KeepBefore(target, mark);
    if (!OnlyDigits(target)) {
        st.frontend->ShowMessage(kNumberOnly);
        return;
    }
    FetchQZoneAlbumsV2(st, target);
    st.TargetFolder = target;
    st.QZoneKind = 0;
    if (st.albums.Count() > 0) {
        AppendMoodAlbum(st, target);
        return;
    }
    FetchQZoneAlbumsV3(st, target);
    if (st.albums.Count() == 0) st.frontend->ShowMessage(kNoQZoneAlbums);
}

void ListWeibo(AppState& st, Text target) {
    DropThrough(target, u".com/");
    DropThrough(target, u"hoto/");
    KeepBefore(target, u"/");
    KeepBefore(target, u"?");
    st.WeiboId = target;
    st.TargetFolder = target;
    FetchWeiboAlbums(st, target);
    st.QZoneKind = 2;
    if (st.albums.Count() == 0) st.frontend->ShowMessage(kNoWeiboAlbums);
}

void ListGroup(AppState& st, Text target) {
    DropThrough(target, u"!/");
    KeepBefore(target, u"/");
    KeepBefore(target, u"?");
    KeepBefore(target, u"#");
    st.TargetFolder = target;
    FetchGroupAlbums(st, target);
    st.QZoneKind = 1;
    if (st.albums.Count() == 0) st.frontend->ShowMessage(kNoGroupAlbums);
}

void FinishList(AppState& st) {
    Frontend& fe = *st.frontend;
    MakeFolderComponent(st.TargetFolder);
    MakeFolderComponent(st.TargetSubFolder);
    fe.RefreshTable();

    const int n = static_cast<int>(st.albums.Count());
    fe.SetControlText(Ctl::AlbumGroup, FormatText("相册列表(共%d个)", n));
    fe.SetControlText(Ctl::Status, FormatText("获取相册列表完成，共%d个", n));

    st.ListJobState = ListIdle;
    fe.EnableControl(Ctl::SiteChoice, true);
    fe.EnableControl(Ctl::DownloadButton, n > 0);
    fe.SetControlText(Ctl::ListButton, u"获取相册");
    fe.EnableControl(Ctl::Target, true);
    fe.EnableControl(Ctl::Thumbnails, true);
    fe.EnableControl(Ctl::FindLink, true);
    fe.EnableControl(Ctl::FilterLink, true);
    fe.EnableControl(Ctl::ExportLink, true);

    if (n > 0) {
        const Text target = Trim(fe.ControlText(Ctl::Target));
        if (AddRecent(st, 0, target)) {
            fe.AddHistory(Ctl::Target, target);
            SaveSettings(st);
        }
    }
}

}  // namespace

void GetListFunc(AppState& st) {
    Frontend& fe = *st.frontend;
    st.ext = ReadExtSettings(st.programFolder);
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.currentSite = 0;
    }
    st.TargetFolder.clear();
    st.TargetSubFolder.clear();

    const Text target = Trim(fe.ControlText(Ctl::Target));
    if (target.empty()) {
        fe.ShowMessage(PromptEmptyTarget());
        st.ListJobState = ListIdle;
        return;
    }

    EnterRunningLook(st);
    if (fe.KindChoiceVisible()) st.QZoneKind = fe.KindChoice();

    // Only the QQ Zone family (site 0) has fetchers; the current site is always 0 here.
    const int kind = st.QZoneKind.load();
    if (kind == 0) {
        ListQZone(st, target);
    } else {
        const Text weiboPage = Text(u"http://") + hosts::kWeibo + u"/";
        if (target.find(weiboPage) != Text::npos || kind == 2)
            ListWeibo(st, target);
        else if (kind == 1)
            ListGroup(st, target);
    }
    FinishList(st);
}

bool PressListButton(AppState& st, std::thread& thread) {
    if (st.WindowReady.load() != 1) return false;
    uint8_t state = st.ListJobState.load();
    if (state != ListIdle) {
        // Only a running job takes the request; one that has just ended is left idle.
        if (state == ListRunning) st.ListJobState.compare_exchange_strong(state, ListStopRequested);
        return false;
    }
    if (thread.joinable()) thread.join();  // the previous job has ended; let its thread go

    st.albums.Clear();
    st.ListJobState = ListRunning;
    st.QZoneKind = -1;
    {
        std::lock_guard<std::mutex> lock(st.settingsMutex);
        st.currentSite = 0;
    }
    try {
        thread = std::thread([&st] { GetListFunc(st); });
    } catch (const std::system_error&) {
        st.frontend->ShowMessage(u"Create thread:GetListFunc failed.");
        st.ListJobState = ListIdle;
        return false;
    }
    return true;
}

}  // namespace qm
