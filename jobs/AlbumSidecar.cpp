#include "jobs/AlbumSidecar.h"

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
// its file with the size and digest taken as it was saved now or known to the archive.
template <class Entry>
void FillOutcome(Entry& entry, const PictureOutcome& p, const SavedPicture* saved) {
    entry.state = PictureStatusWord(p.status);
    if (p.status == PictureStatus::Failed) {
        entry.reason = DescribeFailure(p.failure);
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

// The entry of one listed picture (a video item's cover included); `saved` is what the archive knew
// of a picture already had.
void FillPicture(AlbumJsonPicture& pic, const PictureRef& ref, const PictureOutcome& p, const SavedPicture* saved) {
    pic = AlbumJsonPicture{};
    pic.title = ref.title;
    pic.description = ref.description;
    pic.main = ref.main;
    pic.alternate = ref.alternate;
    pic.shot = ChinaTimeText(ref.shootTime);
    pic.uploaded = ChinaTimeText(ref.uploadTime);
    FillOutcome(pic, p, saved);
}

// The film of a video item, from its own entry.
AlbumJsonFilm Film(const PictureOutcome& p, const SavedPicture* saved) {
    AlbumJsonFilm film;
    film.play = p.filmPlay;
    FillOutcome(film, p, saved);
    return film;
}

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
        AlbumJsonPicture entry;
        bool pending = false;
        for (std::size_t i = 0; i < st.outcomes.size() && i < st.task.pictures.size(); ++i) {
            const PictureOutcome& p = st.outcomes[i];
            const PictureRef& ref = st.task.pictures[i];
            const SavedPicture* saved =
                p.status == PictureStatus::AlreadyHad && i < known.size() ? &known[i] : nullptr;
            if (!ref.film) {
                if (pending) writer->Add(entry);
                FillPicture(entry, ref, p, saved);
                if (ref.isVideo) entry.video = AlbumJsonFilm{};
                pending = true;
                continue;
            }
            // The film goes with its video item, the entry of its cover just before it.
            if (pending) entry.video = Film(p, saved);
        }
        if (pending) writer->Add(entry);
    }
    std::string error;
    if (!writer->Commit(&error)) Trace("album.json not written: %s\n", error.c_str());
}

}  // namespace qm
