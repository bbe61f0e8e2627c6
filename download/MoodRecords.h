// Keeping the words of mood posts after the mood pseudo-album's pictures were fetched: each post
// gets the file names of its saved pictures, is merged with what earlier runs kept (new posts
// added, known ones refreshed with their new comments and counts), recorded in the archive, and
// moods.json is rewritten with every post kept for the QQ number.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/JobObserver.h"
#include "core/MoodPost.h"
#include "core/Outcome.h"
#include "download/DownloadState.h"

namespace qm {

class Archive;

struct MoodRecordJob {
    std::vector<MoodPost> posts;  // as listed in this run (duplicates are dropped)
    const ST_DOWNTASK* task = nullptr;                   // the pictures as queued
    const std::vector<PictureOutcome>* outcomes = nullptr;  // one per queued picture (may be empty)
    Archive* archive = nullptr;   // null: earlier posts are taken from the folder's moods.json
    int64_t albumKey = 0;
    std::string targetId;         // the QQ number
    Text folder;                  // the mood folder (ends with a separator)
    std::shared_ptr<HeldFolder> held;  // the mood folder held open, when it is
};

// Reports every post to `observer` and returns what became of them.
PostTally RecordMoodPosts(MoodRecordJob job, JobObserver& observer);

}  // namespace qm
