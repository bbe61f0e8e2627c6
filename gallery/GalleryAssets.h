// The gallery's own style sheet and script, written beside the pages (no network, no framework).
#pragma once

namespace qm::gallery {

inline constexpr char kCssName[] = "gallery.css";
inline constexpr char kJsName[] = "gallery.js";

extern const char kGalleryCss[];
extern const char kGalleryJs[];

}  // namespace qm::gallery
