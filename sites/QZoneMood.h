// QZone mood pictures: the pseudo-album of the pictures of a QQ number's mood posts.
#pragma once

#include "core/AppState.h"

namespace qm {

inline constexpr char16_t kMoodAlbumName[] = u"说说里的图片-新增测试功能";
inline constexpr char16_t kMoodCoverMark[] = u"123";

// The mood-list request address for a QQ number (the pseudo-album's list parameter).
Text MoodListAddress(const Text& qq);
void FetchMoodPictures(AppState& st, int albumIndex);

}  // namespace qm
