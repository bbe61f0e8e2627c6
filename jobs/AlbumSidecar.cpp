#include "jobs/AlbumSidecar.h"

#include <filesystem>

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

AlbumJsonPicture SidecarPicture(const PictureRef& ref, const PictureOutcome& p, const SavedPicture* saved) {
    AlbumJsonPicture pic;
    pic.title = ref.title;
    pic.description = ref.description;
    pic.main = ref.main;
    pic.alternate = ref.alternate;
    pic.shot = ChinaTimeText(ref.shootTime);
    pic.uploaded = ChinaTimeText(ref.uploadTime);
    pic.state = PictureStatusWord(p.status);
    if (p.status == PictureStatus::Failed) {
        pic.reason = DescribeFailure(p.failure);
        return pic;
    }
    pic.file = p.fileName;
    if (saved) {
        pic.size = saved->size;
        pic.sha256 = saved->sha256;
    }
    return pic;
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
                       const std::vector<SavedPicture>& known, const std::vector<SavedPicture>& digests) {
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
    for (std::size_t i = 0; i < st.outcomes.size() && i < st.task.pictures.size(); ++i) {
        const PictureOutcome& p = st.outcomes[i];
        const PictureRef& ref = st.task.pictures[i];
        const std::vector<SavedPicture>& from = p.status == PictureStatus::AlreadyHad ? known : digests;
        const SavedPicture* saved = i < from.size() ? &from[i] : nullptr;
        if (!ref.film) {
            j.pictures.push_back(SidecarPicture(ref, p, saved));
            if (ref.isVideo) j.pictures.back().video = AlbumJsonFilm{};
            continue;
        }
        // The film goes with its video item, the entry of its cover just before it.
        if (j.pictures.empty()) continue;
        const AlbumJsonPicture entry = SidecarPicture(ref, p, saved);
        AlbumJsonFilm film;
        film.file = entry.file;
        film.size = entry.size;
        film.sha256 = entry.sha256;
        film.state = entry.state;
        film.reason = entry.reason;
        film.play = p.filmPlay;
        j.pictures.back().video = std::move(film);
    }
    std::string error;
    // Through the album folder held since it was checked, when it was made.
    const bool written =
        st.task.folder ? WriteAlbumJson(*st.task.folder, j, &error) : WriteAlbumJson(st.task.albumFolder, j, &error);
    if (!written) Trace("album.json not written: %s\n", error.c_str());
}

}  // namespace qm
