// The offline gallery of a save folder: for each target folder (DIR/<target>/) a page of its albums,
// one page per album folder with its pictures, a timeline page of the mood posts (moods.json),
// thumbnails in each album's ".thumbs", and the
// style sheet and script beside the album list. Static files only; they work from file://.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

#include "gallery/Thumbnails.h"
#include "net/StringCtrl.h"

namespace qm::gallery {

struct GalleryReport {
    struct Target {
        std::string folder;           // relative to the save folder, UTF-8
        std::filesystem::path index;  // the album list page
        std::size_t albums = 0, pictures = 0;
        std::size_t posts = 0;           // mood posts on the timeline page
        std::filesystem::path timeline;  // the timeline page; empty when the target has no posts
    };
    std::vector<Target> targets;
    ThumbCounts thumbs;
    std::vector<std::string> errors;  // what could not be written (file names and the system's text)
};

// Builds the gallery of `targetFolder` (a folder inside `saveFolder`, as the download named it;
// "a/b" allowed, ".." never climbs) or, when it is empty, of every target folder directly inside
// `saveFolder` that holds albums this program saved (album.json or pic.vyr in an album folder), so
// folders of the user's own pictures are left alone. A named target takes every album folder that
// has pictures. `threads` as for UpdateThumbnails.
GalleryReport BuildGallery(const Text& saveFolder, const Text& targetFolder, unsigned threads = 0);

// The album list page the gallery of `targetFolder` has (or would have) in `saveFolder`.
std::filesystem::path GalleryIndexPath(const Text& saveFolder, const Text& targetFolder);

}  // namespace qm::gallery
