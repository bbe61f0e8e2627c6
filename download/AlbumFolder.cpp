#include "download/AlbumFolder.h"

#include <cstring>
#include <ctime>
#include <filesystem>
#include <future>
#include <system_error>

#include "core/CleanFileName.h"
#include "download/DownProc.h"
#include "download/SafeName.h"
#include "net/FileUtil.h"
#include "net/SafeFolder.h"
#include "net/Trace.h"

namespace qm {

namespace {

constexpr char16_t kSep = static_cast<char16_t>(std::filesystem::path::preferred_separator);

bool IsSeparator(char16_t c) {
    return c == u'/' || c == kSep;
}

// A folder text as a relative path: components that are empty, "." or ".." are dropped. Ends with
// a separator unless empty.
Text RelativeFolder(const Text& text) {
    Text out;
    std::size_t pos = 0;
    while (pos <= text.size()) {
        std::size_t end = pos;
        while (end < text.size() && !IsSeparator(text[end])) ++end;
        const Text part = text.substr(pos, end - pos);
        if (!part.empty() && part != u"." && part != u"..") {
            out += part;
            out.push_back(kSep);
        }
        pos = end + 1;
    }
    return out;
}

}  // namespace

Text SaveFolderText(const Text& typed) {
    Text save = Trim(typed);
    if (!save.empty() && !IsSeparator(save.back())) save.push_back(kSep);
    return save;
}

Text BaseFolderText(const Text& saveFolder, const Text& targetFolder, const Text& targetSubFolder) {
    return saveFolder + RelativeFolder(targetFolder) + RelativeFolder(targetSubFolder);
}

bool MakeFolderBelow(const Text& saveFolder, const Text& folder, std::string& why) {
    const std::filesystem::path root = PathFromText(saveFolder);
    std::error_code ec;
    std::filesystem::create_directories(root, ec);
    why.clear();
    if (MakeFolderInside(root, PathFromText(folder).lexically_relative(root), why)) return true;
    if (why.empty()) why = ec ? ec.message() : "not a folder";
    return false;
}

void PlanAlbumFolder(DownloadState& st) {
    const SiteProfile& prof = st.profile;
    const AlbumFacts& album = st.album;
    const ST_PERLISTRECORD& rec = album.record;
    Text folder = FieldText(prof.FolderPrefix);
    if (prof.FolderMode == 0) folder += rec.Name;
    folder += FieldText(prof.FolderSuffix);

    ReplaceAll(folder, u"?1", rec.Name);
    ReplaceAll(folder, u"?3", FormatText("%u", rec.ListPosition + 1));
    ReplaceAll(folder, u"?4", FormatText("%lld", static_cast<long long>(album.albumCount) - rec.ListPosition));
    if (album.site == 0) ReplaceAll(folder, u"?5", rec.ExtraText1);
    ReplaceAll(folder, u"?9", FormatText("%04u", rec.ListPosition + 1));
    CleanFileName(folder, false, 0);
    folder = CutToUtf8Bytes(folder, kMaxComponentBytes);
    KeepWindowsSafe(folder);  // the cut may end on a blank or a dot

    const Text base = st.task.albumFolder;
    if (st.task.saveFolder.empty()) st.task.saveFolder = base;
    st.task.folderPlanned = true;
    if (folder.empty()) return;
    const Text candidate = base + folder + u"/";
    if (IsSafeComponent(folder) && IsInsideFolder(PathFromText(base), PathFromText(candidate))) {
        st.task.albumFolder = candidate;
    } else {
        Trace("album folder refused\n");
    }
}

bool MakeAlbumFolder(DownloadState& st) {
    if (!st.task.folderPlanned) PlanAlbumFolder(st);
    std::string why;
    const std::filesystem::path root = PathFromText(st.task.saveFolder);
    if (!MakeFolderInside(root, PathFromText(st.task.albumFolder).lexically_relative(root), why)) {
        Trace("album refused: %s\n", why.c_str());
        st.task.refused = Failure{FailureKind::Unsafe, 0, why};
        return false;
    }
    int error = 0;
    st.task.folder = HeldFolder::Open(PathFromText(st.task.albumFolder), &error);
    if (!st.task.folder) {
        why = "cannot open \"" + ToUtf8(st.task.albumFolder) + "\": " + std::strerror(error);
        Trace("album refused: %s\n", why.c_str());
        st.task.refused = Failure{FailureKind::Unsafe, 0, why};
        return false;
    }
    // What a crashed run of this album left half-written goes now, on a thread of its own: reading
    // through a folder of 100,000 pictures takes tens of milliseconds that the naming need not wait
    // for. The sweep never touches a temporary file of this process, so nothing the album writes
    // meanwhile is at risk.
    try {
        st.task.sweep = std::async(std::launch::async,
                                   [folder = st.task.folder] { return RemoveLeftoverTemporaries(*folder); });
    } catch (const std::system_error&) {  // no thread to be had: swept here
        RemoveLeftoverTemporaries(*st.task.folder);
    }
    SetFolderTime(st.task.albumFolder, std::time(nullptr));
    st.task.historyAddress = LoadHistory(*st.task.folder);
    return true;
}

}  // namespace qm
