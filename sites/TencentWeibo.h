// Tencent Weibo topic albums and their photos.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

// Uses st.weiboId (set by the list job) for the account.
void FetchWeiboAlbums(SiteContext& st, const Text& weiboId, AlbumSink& sink);
void FetchWeiboPhotos(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink);

}  // namespace qm
