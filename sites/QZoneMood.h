// QZone mood pictures: the pseudo-album of the pictures of a QQ number's mood posts.
#pragma once

#include <chrono>
#include <string>

#include "sites/Fetcher.h"

namespace qm {

inline constexpr char16_t kMoodAlbumName[] = u"说说里的图片-新增测试功能";
inline constexpr char16_t kMoodCoverMark[] = u"123";

// The value of "下载方式" in the "QQ说说" section of the extension settings file that lifts the
// limit of five mood pages (100 posts).
inline constexpr uint8_t kMoodUnlockValue = 168;

// The pause before each request for a long post's full text: the pause after the first list page.
inline constexpr std::chrono::milliseconds kMoodDetailPause{(1 + 20) * 200};

// The mood-list request address for a QQ number (the pseudo-album's list parameter).
Text MoodListAddress(const Text& qq);
// The post-detail request for post `tid`, from the pseudo-album's list parameter, with the token.
Text MoodDetailAddress(const Text& listParam, const std::string& tid, unsigned gtk);
// Hands the pictures of every listed post to `sink`, then (after the full texts of cut posts were
// fetched) the words of every listed post, even when a stop or a failure ended the listing.
void FetchMoodPictures(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink);

}  // namespace qm
