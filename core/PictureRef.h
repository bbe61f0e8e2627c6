// One picture as a service lists it: what the fetchers hand to the download engine.
#pragma once

#include <string>
#include <cstdint>

#include "core/SharedText.h"
#include "net/StringCtrl.h"

namespace qm {

struct PictureRef {
    Text main;         // the best address
    Text alternate;    // tried when the main address does not give the picture; may be empty
    Text title;
    Text description;  // where the answer has one
    SharedText headers;  // extra request header lines (CR LF separated), e.g. the album's Referer
    Text photoId;      // the service's id of the picture, where the answer has one
    std::string postId{};  // the mood post the picture belongs to (the post's tid); empty elsewhere
    // A video item: the addresses above are its cover; the film is asked for before its download.
    bool isVideo = false;
    // The film entry of a video item in an album's task list (made by the naming beside the
    // cover's entry): `main` is empty until the film's address is known.
    bool film = false;
    int64_t shootTime = 0;   // when it was shot (seconds since the epoch, UTC); 0 unknown
    int64_t uploadTime = 0;  // when it was uploaded (likewise)

    // The address text of the history file and the list files: the main address, and the
    // alternate after a CR LF when there is one.
    Text Joined() const { return alternate.empty() ? main : main + u"\r\n" + alternate; }
};

}  // namespace qm
