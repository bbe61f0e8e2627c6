// Thumbnails of every picture format libvips reads (PNG, GIF, WebP, HEIF, TIFF, and the JPEGs the
// JPEG thumbnailer leaves: CMYK or with a colour profile), from a module loaded on first use. The
// module lies beside the program (build tree) or in the package's library folder.
#pragma once

#include <filesystem>
#include <string>

namespace qm::gallery {

enum class GeneralThumbResult { Made, Undecodable, Unavailable };

// The thumbnail of `picture`, at most `box` pixels on each side; Unavailable when the module cannot
// be loaded or its library cannot start (then nothing is known about the picture). Thread-safe.
GeneralThumbResult MakeGeneralThumbnail(const std::filesystem::path& picture, int box, std::string& out);

// Releases what the calling thread holds in the module, when it was loaded; call before the
// thread ends.
void GeneralThumbnailerThreadDone();

}  // namespace qm::gallery
