// QZone route lookup and album list: turns a QQ number into album records.
#pragma once

#include "core/AppState.h"

namespace qm {

// Version 2 and version 3 of the album-list fetch; each appends records with AddAlbum and leaves
// the photo and view hosts in st.route.
void FetchQZoneAlbumsV2(AppState& st, const Text& qq);
void FetchQZoneAlbumsV3(AppState& st, const Text& qq);

}  // namespace qm
