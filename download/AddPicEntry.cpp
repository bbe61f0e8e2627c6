// Naming one picture and queueing it in the task list; the album folder is made with the first.
#include <filesystem>
#include <utility>

#include "core/CleanFileName.h"
#include "download/AlbumFolder.h"
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/Trace.h"

namespace qm {

namespace {

// A file name never holds more than this many characters together with its album folder path.
constexpr std::size_t kPathCharLimit = 250;

// The name a picture is stored under. A name cut to fit may have become a device name ("CON"),
// which Windows refuses, so the guard runs here, before the duplicate check sees the name.
Text FinalName(const Text& stem, const Text& ext) {
    Text fileName = stem + ext;
    KeepWindowsSafe(fileName);
    return fileName;
}

// The final name for `stem` + `ext` that no earlier picture of the album has (ignoring letter
// case): as it is, or with the first free counter "(n)" after the stem, cut so the whole fits.
Text UniqueName(NameRegistry& names, const Text& stem, const Text& ext) {
    Text candidate = FinalName(stem, ext);
    if (!names.Taken(candidate)) return candidate;
    Text key = stem;
    key.push_back(u'\0');
    key += ext;
    unsigned counter = names.NextCounter(key);
    for (;; ++counter) {
        const Text tail = FormatText("(%u)", counter);
        candidate = FinalName(
            CutToUtf8Bytes(stem, kMaxFileNameBytes - Utf8Length(ext) - Utf8Length(tail)) + tail, ext);
        if (!names.Taken(candidate)) break;
    }
    names.SetNextCounter(key, counter + 1);
    return candidate;
}

// Queues the film of a video item right after its cover, named like the cover with ".mp4" (made
// unique the same way). Its address is asked for only before its download.
void AddFilmEntry(ST_DOWNTASK& task, const PictureRef& item, const Text& coverName) {
    const std::size_t dot = coverName.rfind(u'.');
    const Text stem = dot == Text::npos || dot == 0 ? coverName : coverName.substr(0, dot);
    const Text fileName = UniqueName(task.names, CutToUtf8Bytes(stem, kMaxFileNameBytes - 4), u".mp4");
    if (!IsSafeComponent(fileName)) {
        ++task.dropped;
        return;
    }
    PictureRef film;
    film.film = true;
    film.title = item.title;
    film.description = item.description;
    film.photoId = item.photoId;
    film.shootTime = item.shootTime;  // the film takes its cover's time as its file time
    film.uploadTime = item.uploadTime;
    task.pictures.push_back(std::move(film));
    task.fileNames.push_back(fileName);
    task.names.Add(fileName);
    ++task.films;
}

}  // namespace

bool AddPicEntry(DownloadState& st, PictureRef picture) {
    ST_DOWNTASK& task = st.task;
    // Once the history showed the rest of the album as downloaded, nothing more of it is queued.
    if (st.albumComplete.load() || task.refused) return false;

    const SiteProfile& prof = st.profile;
    const AlbumFacts& album = st.album;
    const ST_PERLISTRECORD& rec = album.record;
    // The joined addresses name the file in name mode 2; otherwise they are only joined for the
    // history check below.
    const Text urlText = prof.NameMode == 2 ? picture.Joined() : Text();
    const Text& title = picture.title;

    const Text sequence = FormatText("%d", static_cast<int>(task.pictures.size() + 1));

    // Base name. A title that looks like a complete path is cleaned like any other title: the
    // picture always goes into its album folder.
    Text name;
    std::size_t slash = Text::npos;
    if (prof.NameMode == 2) {
        slash = urlText.rfind(u'/');
        if (slash == 0) slash = Text::npos;
    }
    if (prof.NameMode == 0) {
        name = title;
        CleanFileName(name, false, 0);
        if (name.empty()) name = rec.Name;
    } else if (prof.NameMode == 2 && slash != Text::npos) {
        name = urlText.substr(slash + 1);
    } else {
        name = sequence;
    }

    name = FieldText(prof.NamePrefix) + name + FieldText(prof.NameSuffix);

    // The placeholders "?1" to "?9"; their values are only formatted for a name that has one.
    if (name.find(u'?') != Text::npos) {
        ReplaceAll(name, u"?1", rec.Name);
        ReplaceAll(name, u"?2", sequence);
        ReplaceAll(name, u"?3", FormatText("%u", rec.ListPosition + 1));
        ReplaceAll(name, u"?4", FormatText("%lld", static_cast<long long>(album.albumCount) - rec.ListPosition));
        if (album.site == 0) ReplaceAll(name, u"?5", rec.ExtraText1);
        ReplaceAll(name, u"?6", FormatText("%u", album.selected));
        ReplaceAll(name, u"?7", FormatText("%u", static_cast<unsigned>(album.albumCount)));
        ReplaceAll(name, u"?8", album.targetFolder);
        ReplaceAll(name, u"?9", FormatText("%04u", rec.ListPosition + 1));
    }

    ReplacePairs(name, FieldText(prof.ReplaceFrom), FieldText(prof.ReplaceTo));
    CleanFileName(name, true, kTimeStampFallback);

    if (!task.folderReady) {
        task.folderReady = true;
        MakeAlbumFolder(st);
    }
    if (task.refused) {
        st.albumComplete.store(true);  // nothing of a refused album is queued: the fetcher may stop
        return false;
    }

    // Keep folder and name within 250 characters. A folder path that leaves no room at all gets
    // the sequence number as the name, so files stay distinct and visible.
    const std::size_t folderChars = task.albumFolder.size();
    if (folderChars >= kPathCharLimit) {
        name = sequence;
    } else if (name.size() > kPathCharLimit - folderChars) {
        name = CutToUnits(name, kPathCharLimit - folderChars);
        if (name.empty()) name = sequence;
    }

    Text ext = u".jpg";
    if (IsPictureExtension(name)) {
        const std::size_t dot = name.rfind(u'.');
        ext = name.substr(dot);
        name.resize(dot);
    }
    // The whole file name must fit the file system's component limit.
    name = CutToUtf8Bytes(name, kMaxFileNameBytes - Utf8Length(ext));

    // Names are made unique on their final form. A name that carries the sequence number needs no
    // counter, unless a cut or a replacement took the number away again.
    const Text fileName = UniqueName(task.names, name, ext);

    if ((prof.SiteFlags & SiteFlag::SkipDownloaded) && !task.historyAddress.empty() &&
        task.historyAddress == (prof.NameMode == 2 ? urlText : picture.Joined())) {
        st.albumComplete.store(true);
        return false;
    }

    // One plain component below a folder written with its closing separator always stays inside
    // it; only other folders need the path comparison, which costs more than the rest of naming.
    const bool folderEnds = !task.albumFolder.empty() && task.albumFolder.back() == u'/';
    if (!IsSafeComponent(fileName) ||
        (!folderEnds &&
         !IsInsideFolder(PathFromText(task.albumFolder), PathFromText(task.albumFolder + fileName)))) {
        Trace("picture name refused\n");
        ++task.dropped;
        return true;
    }

    const std::size_t at = task.pictures.size();
    task.pictures.push_back(std::move(picture));
    task.fileNames.push_back(fileName);
    task.names.Add(fileName);
    // The film entry copies what it needs from its cover before it is added to the list.
    if (task.pictures[at].isVideo) AddFilmEntry(task, task.pictures[at], fileName);
    st.observer->PicturesListed(task.pictures.size() - task.FilmCount());

    if (prof.SiteFlags & SiteFlag::TitleListFile) AppendTitleLine(task, task.pictures[at].title);
    return true;
}

}  // namespace qm
