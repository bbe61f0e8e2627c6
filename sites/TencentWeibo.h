// Tencent Weibo topic albums and their photos.
#pragma once

#include "core/AppState.h"

namespace qm {

// Uses st.WeiboId (set by the list job) for the account.
void FetchWeiboAlbums(AppState& st, const Text& weiboId);
void FetchWeiboPhotos(AppState& st, int albumIndex);

}  // namespace qm
