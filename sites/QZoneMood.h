// QZone mood pictures: the pseudo-album of the pictures of a QQ number's mood posts.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

inline constexpr char16_t kMoodAlbumName[] = u"说说里的图片-新增测试功能";
inline constexpr char16_t kMoodCoverMark[] = u"123";

// The value of "下载方式" in the "QQ说说" section of the extension settings file that lifts the
// limit of five mood pages (100 posts).
inline constexpr uint8_t kMoodUnlockValue = 168;

// The mood-list request address for a QQ number (the pseudo-album's list parameter).
Text MoodListAddress(const Text& qq);
void FetchMoodPictures(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink);

}  // namespace qm
