// Album covers for the thumbnail view: fetched once into the program folder's tmp/ folder
// ("tmp/<album index>.jpg") and stretched to 113 x 120 pixels without keeping the aspect ratio.
// Safe to call on any thread (QImage only, no pixmaps).
#pragma once

#include <QImage>

#include "net/StringCtrl.h"

namespace qm::ui {

// Fetches the cover of album `albumIndex` and returns the scaled 24-bit image, or a null image
// when the address is not a web address or the fetch or decoding fails.
QImage LoadCover(const Text& cacheFolder, int albumIndex, const Text& coverUrl);
// Scales a decoded picture to the thumbnail size (24-bit colour).
QImage ScaleCover(const QImage& picture);

}  // namespace qm::ui
