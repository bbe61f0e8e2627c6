#include "download/MoodRecords.h"

#include <algorithm>
#include <set>
#include <unordered_map>

#include "download/Archive.h"
#include "download/MoodsJson.h"
#include "net/UtcStamp.h"

namespace qm {

namespace {

// The posts kept before this run, by id: the archive's, or (without one) the folder's moods.json.
std::unordered_map<std::string, StoredPost> KnownPosts(const MoodRecordJob& job) {
    std::unordered_map<std::string, StoredPost> known;
    if (job.archive && job.albumKey != 0) {
        for (StoredPost& p : job.archive->Posts(job.albumKey)) {
            std::string id = p.id;
            known.emplace(std::move(id), std::move(p));
        }
        return known;
    }
    if (const auto file = ReadMoodsJson(job.folder))
        for (const MoodPost& p : file->posts) known.emplace(p.id, StoredPost{p.id, p.time, PostRecordJson(p)});
    return known;
}

// The saved file names of each post's pictures, in list order.
std::unordered_map<std::string, std::vector<Text>> FilesByPost(const MoodRecordJob& job) {
    std::unordered_map<std::string, std::vector<Text>> files;
    if (!job.task || !job.outcomes) return files;
    const std::size_t n = std::min(job.task->pictures.size(), job.outcomes->size());
    for (std::size_t i = 0; i < n; ++i) {
        const PictureOutcome& o = (*job.outcomes)[i];
        const std::string& post = job.task->pictures[i].postId;
        if (post.empty() || o.fileName.empty()) continue;
        if (o.status == PictureStatus::Saved || o.status == PictureStatus::AlreadyHad) files[post].push_back(o.fileName);
    }
    return files;
}

// What this run knows of a post, with what an earlier run kept that this one could not get: the
// full text of a long post whose detail failed now, and picture files saved before.
void Merge(MoodPost& now, const MoodPost& before) {
    if (now.textCut && !before.textCut && !before.text.empty()) {
        now.text = before.text;
        now.textCut = false;
    }
    for (const Text& f : before.files)
        if (std::find(now.files.begin(), now.files.end(), f) == now.files.end()) now.files.push_back(f);
}

}  // namespace

PostTally RecordMoodPosts(MoodRecordJob job, JobObserver& observer) {
    PostTally tally;
    std::unordered_map<std::string, StoredPost> known = KnownPosts(job);
    std::unordered_map<std::string, std::vector<Text>> files = FilesByPost(job);

    std::set<std::string> seen;
    for (MoodPost& post : job.posts) {
        if (!seen.insert(post.id).second) continue;  // a post that moved to the next page meanwhile
        ++tally.listed;
        if (auto it = files.find(post.id); it != files.end()) post.files = std::move(it->second);
        PostEvent event{post.id, post.time, PostChange::Added, 0, 0, false};
        auto old = known.find(post.id);
        if (old != known.end())
            if (const auto before = ParsePostRecord(old->second.record)) Merge(post, *before);
        StoredPost stored{post.id, post.time, PostRecordJson(post)};
        if (old == known.end()) {
            ++tally.added;
        } else if (old->second.record != stored.record) {
            event.change = PostChange::Refreshed;
            ++tally.refreshed;
        } else {
            event.change = PostChange::Unchanged;
        }
        if (post.textCut) ++tally.cutTexts;
        event.pictures = post.files.size();
        event.comments = CommentsWithReplies(post);
        event.textCut = post.textCut;
        if (job.archive && job.albumKey != 0 && event.change != PostChange::Unchanged)
            job.archive->RecordPost(job.albumKey, stored);
        known.insert_or_assign(post.id, std::move(stored));
        observer.PostRecorded(event);
    }
    if (job.archive) job.archive->Flush();

    // Every post kept, newest first.
    std::vector<const StoredPost*> all;
    all.reserve(known.size());
    for (const auto& [id, p] : known) all.push_back(&p);
    std::sort(all.begin(), all.end(), [](const StoredPost* a, const StoredPost* b) {
        return a->time != b->time ? a->time > b->time : a->id > b->id;
    });
    std::vector<std::string> records;
    records.reserve(all.size());
    for (const StoredPost* p : all) records.push_back(p->record);
    tally.kept = records.size();
    if (records.empty()) return tally;
    tally.written = WriteMoodsJson(job.folder, job.held.get(), MoodsJsonText(job.targetId, UtcStampNow(), records), &tally.error);
    return tally;
}

}  // namespace qm
