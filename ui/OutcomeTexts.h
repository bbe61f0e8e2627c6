// Short Chinese texts that tell a person what a download's outcome means: why an album delivered
// nothing, why a picture failed, and what a stopped download left behind. Shared by the window's
// presenter, the status line and the result box.
#pragma once

#include <QString>

#include "core/Outcome.h"

namespace qm::ui {

// "无权访问", "超时", "HTTP 404", "连接失败：<curl's words>" and so on; empty for None.
// Texts from the system or curl are cut to a short line with control characters removed.
QString AlbumReasonText(AlbumReason reason, const std::string& detail = {});
QString FailureText(const Failure& failure);

// The reason column of one album: its album reason, else its failed pictures grouped by cause
// ("超时 2 张；HTTP 404 1 张") and the pictures the service did not list; empty when complete.
QString AlbumOutcomeText(const AlbumOutcome& album);

// What the mood row says of its posts: "说说 35 条，新增 2 条，更新 1 条" (empty for other albums).
QString PostsText(const PostTally& posts);
// The mood row's count after a download: "35 条说说 / 55 张" (posts kept, pictures in the folder).
QString MoodCountText(const AlbumOutcome& album);

// Pictures a stopped download left undone: those not tried, those stopped while being fetched,
// and the announced pictures of chosen albums that were never reached.
std::size_t PicturesLeftByStop(const JobOutcome& job);

// Appended to "下载完毕" after a stopped download: "（已终止，N 张未下载）", or "（已终止）" when
// nothing was left; empty when the download was not stopped.
QString StoppedSuffix(const JobOutcome& job);

// The status line after a download: "下载完毕", followed by what is missing — the stop's suffix,
// "（终止前已全部下载完成）" when a stop came after every album was complete, or
// "（N 个相册不完整，M 张未下载）" for a download that left albums incomplete.
QString FinishedStatus(const JobOutcome& job, bool stopPressed);

// Whether the result box should be shown: a picture failed, or an album could not be downloaded
// for a reason other than the user's stop. Job errors (no save folder…) have their own messages.
bool NeedsResultBox(const JobOutcome& job);

}  // namespace qm::ui
