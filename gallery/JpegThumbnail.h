// Thumbnails of JPEG pictures with libjpeg alone, the common case of a downloaded album: the picture
// is decoded already reduced (the decoder's 1/2, 1/4 or 1/8 scaling, so a large photo is never
// decoded whole), brought to size with a triangle filter, turned upright by its Exif orientation and
// saved as a baseline JPEG without metadata. About three times cheaper than the general thumbnailer,
// whose start-up and pipeline cost more than the picture itself at this size.
#pragma once

#include <filesystem>
#include <string>

namespace qm::gallery {

enum class JpegThumbResult {
    Made,         // `out` holds the thumbnail
    Undecodable,  // not a JPEG this decoder can read (damaged, too large, empty)
    NotHandled    // a JPEG for the general thumbnailer: CMYK, or with an embedded colour profile
};

// The thumbnail of the JPEG file `picture`, at most `box` pixels on each side and never larger than
// the picture. Files wider or taller than 1e9 pixels in all, or needing more than 256 MiB to decode
// (a progressive picture keeps all its coefficients), are undecodable.
JpegThumbResult MakeJpegThumbnail(const std::filesystem::path& picture, int box, std::string& out);

}  // namespace qm::gallery
