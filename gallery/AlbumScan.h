// One saved album as the gallery shows it: its name, completeness and pictures, from album.json
// where there is one, else from the picture files in the folder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace qm::gallery {

struct GalleryPicture {
    std::string file;  // UTF-8 name inside the album folder (a plain name, never a path)
    std::string title, description;
    std::string film;  // a video item's film file in the album folder (its cover is `file`); or empty
    std::string date;  // "2021-11-01": when it was shot (else uploaded, else the file's time)
};

struct GalleryAlbum {
    std::string folder;  // UTF-8 name of the album folder inside the target folder
    std::string name;    // the album's name as listed, else the folder name
    bool known = false;  // album.json was read
    bool complete = true;
    std::size_t listed = 0;
    int32_t expected = -1;
    std::vector<GalleryPicture> pictures;
    // Pictures album.json lists that are not in the folder: their title (else file name) and why.
    struct Missing {
        std::string name, reason;
    };
    std::vector<Missing> missing;
};

// True for file names the gallery shows as pictures (by extension, case-insensitively).
bool IsPictureName(const std::string& name);

// "a2" before "a10": runs of digits compare by value, the rest byte by byte.
bool NaturalLess(const std::string& a, const std::string& b);

// Reads `folder` (an album folder). Pictures listed in album.json come first, in list order, when
// their file is a regular file in the folder; then the other picture files on disk, in natural
// order (saved by an earlier run, or the folder has no album.json). nullopt when the folder has
// neither album.json nor any picture.
std::optional<GalleryAlbum> ScanAlbum(const std::filesystem::path& folder);

}  // namespace qm::gallery
