// The QZone float-view interface (the photo viewer's own list): where the film of a video item is.
#pragma once

#include "sites/Fetcher.h"

namespace qm {

// The float-view address for item `picKey` of album `albumId` of `hostUin` (the target).
Text FloatViewAddress(const Text& albumId, const Text& picKey, const Text& hostUin, unsigned gtk, const Text& uin);

// Reads a float-view answer (JSONP) for the item `picKey`: its entry of `data.photos` and there
// `video_info` (`status` 2 = ready, `download_url`, the play address `video_url`).
FilmAddress ReadFloatView(TextView answer, TextView picKey);

// Asks the float view for the film of `item` (its `photoId` is the key) right before its download.
FilmAddress LookUpQZoneFilm(const SiteContext& ctx, const ST_PERLISTRECORD& album, const PictureRef& item);

}  // namespace qm
