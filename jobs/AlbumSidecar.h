// album.json beside an album's pictures, from the album's run: the album, its counts, and every
// listed picture with its title, description, addresses, size and digest.
#pragma once

#include <string>
#include <vector>

#include "core/AlbumRecord.h"
#include "core/Outcome.h"
#include "download/Archive.h"
#include "download/DownloadState.h"

namespace qm {

// The service's id of an album, from its list parameter ("…&albumid=ID&…", "albumId=ID"); a list
// parameter that is no query is the id itself (a Weibo topic); the mood pseudo-album is "mood".
Text AlbumIdOf(const ST_PERLISTRECORD& rec);

struct SidecarFacts {
    std::string kind;  // the service's word ("qzone", "group", "weibo")
    Text targetId;
    Text albumId;
    const ST_PERLISTRECORD* record = nullptr;
};

// Writes album.json into the album folder of `st`, from the task list and the outcomes. `known`
// holds what the archive knew of the pictures already had (by task entry); a picture saved now
// carries its size and digest in its outcome. Written again by every run, so a resumed album's
// file describes the album as it stands.
void WriteAlbumSidecar(const SidecarFacts& facts, const DownloadState& st, const AlbumOutcome& album,
                       const std::vector<SavedPicture>& known);

}  // namespace qm
