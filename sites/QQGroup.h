// QQ group albums and photos.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

void FetchGroupAlbums(SiteContext& st, const Text& group, AlbumSink& sink);
void FetchGroupPhotos(SiteContext& st, const ST_PERLISTRECORD& album, PictureSink& sink);

}  // namespace qm
