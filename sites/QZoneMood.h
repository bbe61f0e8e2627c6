// QZone mood pictures: the pseudo-album of the pictures of a QQ number's mood posts.
#pragma once

#include "core/AppState.h"

namespace qm {

inline constexpr char16_t kMoodAlbumName[] = u"说说里的图片-新增测试功能";
inline constexpr char16_t kMoodCoverMark[] = u"123";

// The value of "下载方式" in the "QQ说说" section of the extension settings file that lifts the
// limit of five mood pages (100 posts).
inline constexpr uint8_t kMoodUnlockValue = 168;

// The mood-list request address for a QQ number (the pseudo-album's list parameter).
Text MoodListAddress(const Text& qq);
void FetchMoodPictures(AppState& st, int albumIndex);

// The pause between mood pages (the service refuses callers that page too fast). The default
// sleeps and returns early when the download job is stopped; tests may record the pauses instead.
using MoodPauseFn = void (*)(AppState& st, unsigned ms);
void SetMoodPause(MoodPauseFn fn);  // nullptr restores the default

}  // namespace qm
