// QZone route lookup and album list: turns a QQ number into album records.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

// Version 2 and version 3 of the album-list fetch; each appends records to `sink` and leaves
// the photo and view hosts in st.route.
void FetchQZoneAlbumsV2(SiteContext& st, const Text& qq, AlbumSink& sink);
void FetchQZoneAlbumsV3(SiteContext& st, const Text& qq, AlbumSink& sink);

}  // namespace qm
