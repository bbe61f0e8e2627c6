// QZone photo list: hands every picture of one album to AddPicEntry.
#pragma once

#include "core/AppState.h"

namespace qm {

// The GBK variant and the UTF-8 variant (which hands the mood pseudo-album to the mood fetcher).
void FetchQZonePhotosGbk(AppState& st, int albumIndex);
void FetchQZonePhotosUtf8(AppState& st, int albumIndex);

}  // namespace qm
