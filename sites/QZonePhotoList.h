// QZone photo list: hands every picture of one album to the picture sink.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

// The GBK variant and the UTF-8 variant (which hands the mood pseudo-album to the mood fetcher).
void FetchQZonePhotosGbk(SiteContext& st, const ST_PERLISTRECORD& rec, PictureSink& sink);
void FetchQZonePhotosUtf8(SiteContext& st, const ST_PERLISTRECORD& rec, PictureSink& sink);

}  // namespace qm
