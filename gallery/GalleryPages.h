// The two pages of a target's gallery, as text: the album list and one album's picture grid.
// Every text from the service or the disk is escaped here and nowhere else.
#pragma once

#include <string>
#include <vector>

#include "gallery/AlbumScan.h"
#include "gallery/Thumbnails.h"

namespace qm::gallery {

// One album on the list page: the album and its cover thumbnail's file name inside the album's
// ".thumbs" (empty: no picture could be shown).
struct AlbumTile {
    const GalleryAlbum* album = nullptr;
    std::string coverThumb;
    // With no thumbnail: the first picture itself (a browser may show what the thumbnailer cannot).
    std::string coverOriginal;
};

// `thumbs` has one state per picture of `album`.
std::string AlbumPageHtml(const GalleryAlbum& album, const std::vector<ThumbState>& thumbs,
                          const std::string& targetName);
// An album chosen for a download of the target that has no pictures here, and why.
struct NotBackedUp {
    int position = -1;  // in the service's album list; -1 unknown
    std::string name;
    std::string reason;
};

// `posts` > 0 links the timeline page of the target's mood posts; `missing` is listed below the
// albums.
std::string TargetPageHtml(const std::string& targetName, const std::vector<AlbumTile>& albums,
                           std::size_t posts = 0, const std::vector<NotBackedUp>& missing = {});

}  // namespace qm::gallery
