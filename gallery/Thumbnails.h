// Thumbnails of an album's pictures in its hidden ".thumbs" folder: JPEG, at most kThumbSize pixels
// on the longer side, made by the JPEG thumbnailer (libjpeg, reduced while decoding, so a huge JPEG
// is never decoded whole) or, for other formats, by the general one (libvips, loaded on first use).
// Incremental: a thumbnail carries its picture's modification time and is remade only when that
// changes. A picture that cannot be decoded (one whose first bytes are no picture's is not even
// handed to a decoder) is listed in ".thumbs/undecodable.txt" instead (the page shows a placeholder)
// and is not tried again until it changes. Pictures are worked on in parallel, one per core.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

namespace qm::gallery {

inline constexpr int kThumbSize = 320;
inline constexpr char kThumbFolder[] = ".thumbs";

// What became of one picture's thumbnail.
enum class ThumbState { Made, Kept, Failed };

struct ThumbCounts {
    std::size_t made = 0, kept = 0, failed = 0;
};

// The thumbnail's file name inside ".thumbs" for a picture file name (a hash of the name, so it is
// short and needs no escaping whatever the picture is called).
std::string ThumbName(const std::string& pictureName);

// Brings the thumbnails of `pictures` (file names inside `albumFolder`) up to date, with up to
// `threads` pictures at a time (0: one per core, at most 4). `states`, when given, receives one
// entry per picture. Never throws; a folder that cannot be written counts its pictures as failed.
ThumbCounts UpdateThumbnails(const std::filesystem::path& albumFolder,
                             const std::vector<std::string>& pictures,
                             std::vector<ThumbState>* states = nullptr, unsigned threads = 0);

}  // namespace qm::gallery
