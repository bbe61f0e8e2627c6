// QQ group albums and photos.
#pragma once

#include "core/AppState.h"

namespace qm {

void FetchGroupAlbums(AppState& st, const Text& group);
void FetchGroupPhotos(AppState& st, int albumIndex);

}  // namespace qm
