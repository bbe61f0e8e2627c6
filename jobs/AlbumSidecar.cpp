#include "jobs/AlbumSidecar.h"

#include <cstdint>
#include <filesystem>
#include <optional>

#include "core/OutcomeWords.h"
#include "download/AlbumJson.h"
#include "net/FileUtil.h"
#include "net/UtcStamp.h"
#include "net/Trace.h"

namespace qm {

namespace {

// The album table's note for the privacy flags.
Text PrivacyText(uint32_t flags) {
    if (flags & PrivacyNumber) return FormatText("%08u", flags & 0x7FFFFFFFu);
    if (flags & PrivacyEncrypted) return u"加密相册";
    if (flags & PrivacyPrivate) return u"私密相册";
    if (flags & PrivacyFriends) return u"好友可见";
    return {};
}

// How an entry (a picture's or a film's) ended: its state word, and its reason when it failed, else
// its file with the size and digest taken as it was saved now or known to the archive. The views
// point into `p`, `saved` and `reason`.
template <class View>
void FillOutcome(View& entry, const PictureOutcome& p, const SavedPicture* saved, std::string& reason) {
    entry.state = PictureStatusWord(p.status);
    if (p.status == PictureStatus::Failed) {
        reason = DescribeFailure(p.failure);
        entry.reason = reason;
        return;
    }
    entry.file = p.fileName;
    if (p.status == PictureStatus::Saved) {
        entry.size = p.bytes;
        entry.sha256 = p.sha256;
    } else if (saved) {
        entry.size = saved->size;
        entry.sha256 = saved->sha256;
    }
}

// The album's entries for the writer, one listed picture (a video item's cover included) at a
// time, with the film of a video item from its own entry of the task list; the texts stay where
// they are and only views of them are handed on.
class EntryWriter {
public:
    EntryWriter(AlbumJsonWriter& writer, const DownloadState& st, const std::vector<SavedPicture>& known)
        : writer_(writer), st_(st), known_(known) {}

    // Writes the entry of task entry `i`, with the film of entry `film` (kNoFilm: an empty film
    // when `video`, else none).
    void Write(std::size_t i, bool video, std::size_t film) {
        const PictureRef& ref = st_.task.pictures[i];
        AlbumJsonPictureView pic;
        pic.title = ref.title;
        pic.description = ref.description;
        pic.main = ref.main;
        pic.alternate = ref.alternate;
        pic.shot = ChinaTimeText(ref.shootTime, shot_);
        pic.uploaded = ChinaTimeText(ref.uploadTime, uploaded_);
        FillOutcome(pic, st_.outcomes[i], Saved(i), reason_);
        AlbumJsonFilmView filmView;
        if (film != kNoFilm) {
            const PictureOutcome& p = st_.outcomes[film];
            filmView.play = p.filmPlay;
            FillOutcome(filmView, p, Saved(film), filmReason_);
        }
        if (video || film != kNoFilm) pic.video = &filmView;
        writer_.Add(pic);
    }

    static constexpr std::size_t kNoFilm = SIZE_MAX;

private:
    // What the archive knew of entry `i` when it was already had.
    const SavedPicture* Saved(std::size_t i) const {
        return st_.outcomes[i].status == PictureStatus::AlreadyHad && i < known_.size() ? &known_[i] : nullptr;
    }

    AlbumJsonWriter& writer_;
    const DownloadState& st_;
    const std::vector<SavedPicture>& known_;
    char shot_[40], uploaded_[40];
    std::string reason_, filmReason_;
};

}  // namespace

Text AlbumIdOf(const ST_PERLISTRECORD& rec) {
    if (rec.CoverUrl == u"123") return u"mood";
    for (TextView key : {TextView(u"albumid="), TextView(u"albumId="), TextView(u"topicId=")}) {
        const std::size_t at = rec.ListParam.find(key);
        if (at == Text::npos) continue;
        const std::size_t start = at + key.size();
        return rec.ListParam.substr(start, rec.ListParam.find(u'&', start) - start);
    }
    return rec.ListParam;
}

void WriteAlbumSidecar(const SidecarFacts& facts, const DownloadState& st, const AlbumOutcome& album,
                       const std::vector<SavedPicture>& known) {
    AlbumJson j;
    j.kind = facts.kind;
    j.targetId = facts.targetId;
    j.albumId = facts.albumId;
    j.name = facts.record->Name;
    j.privacy = PrivacyText(facts.record->PrivacyFlags);
    j.folder = TextFromPath(PathFromText(st.task.albumFolder).parent_path().filename());
    j.expected = facts.record->PictureCount;
    j.listed = album.listed;
    j.saved = album.saved;
    j.alreadyHad = album.alreadyHad;
    j.failed = album.failed;
    j.notTried = album.notTried;
    j.notListed = album.NotListed();
    j.complete = album.Complete();
    j.updated = UtcStampNow();
    j.videos = album.films.listed;
    j.videosSaved = album.films.saved;
    j.videosAlreadyHad = album.films.alreadyHad;
    j.videosFailed = album.films.failed;
    j.videosNotTried = album.films.notTried;

    // Written entry by entry as the pictures are gone through: an album of any size takes only the
    // writer's buffer. Through the album folder held since it was checked, when it was made.
    std::optional<AlbumJsonWriter> writer;
    if (st.task.folder)
        writer.emplace(*st.task.folder);
    else
        writer.emplace(st.task.albumFolder);
    if (writer->Begin(j)) {
        // An entry is written once the next one shows it has no film still to come.
        EntryWriter entries(*writer, st, known);
        constexpr std::size_t kNone = EntryWriter::kNoFilm;
        std::size_t pending = kNone, film = kNone;
        bool video = false;
        for (std::size_t i = 0; i < st.outcomes.size() && i < st.task.pictures.size(); ++i) {
            const PictureRef& ref = st.task.pictures[i];
            if (!ref.film) {
                if (pending != kNone) entries.Write(pending, video, film);
                pending = i;
                video = ref.isVideo;
                film = kNone;
                continue;
            }
            // The film goes with its video item, the entry of its cover just before it.
            if (pending != kNone) film = i;
        }
        if (pending != kNone) entries.Write(pending, video, film);
    }
    std::string error;
    if (!writer->Commit(&error)) Trace("album.json not written: %s\n", error.c_str());
}

}  // namespace qm
