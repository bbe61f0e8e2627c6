// What identifies one picture of an album across runs, so that a later run knows it was saved.
#pragma once

#include <string>

#include "core/PictureRef.h"
#include "net/StringCtrl.h"

namespace qm {

// The service's photo id when the answer had one ("id:" + id). Otherwise the main address without
// what changes between listings: the scheme, the host's letter case, the fragment, and query
// parameters that carry times, random cache-busters, tokens or the viewer (`t`, `_`, `g_tk`,
// `vuin`...). Query parts without a name (the path-like tail of "psb?/…") are kept. UTF-8.
std::string PictureIdentity(TextView mainAddress, TextView photoId = {});
// The identity of an entry of an album's task list: a picture's as above; the film of a video item
// "film:" and its item's (so the archive keeps the film's state apart from its cover's).
std::string EntryIdentity(const PictureRef& entry);

}  // namespace qm
