// A scratch save folder and a download state wired to a recording observer and a manual clock,
// for the engine's tests.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <stop_token>
#include <string>

#include "FileText.h"
#include "RecordingObserver.h"
#include "TempFolder.h"
#include "core/AlbumList.h"
#include "net/Clock.h"
#include "download/DownProc.h"
#include "net/FileUtil.h"

namespace qm::test {

class TempDir : public TempFolder {
public:
    explicit TempDir(const std::string& tail = {}) : TempFolder("qm-dl-", tail) {}
};

// A picture from an address text of the history and list files: the main address, and the
// alternate after a CR LF.
inline PictureRef Ref(const Text& joined, const Text& title = {}) {
    PictureRef p;
    const std::size_t br = joined.find(u"\r\n");
    p.main = joined.substr(0, br);
    if (br != Text::npos) p.alternate = joined.substr(br + 2);
    p.title = title;
    return p;
}

struct Engine {
    explicit Engine(const std::string& tail = {}) : dir(tail) {
        base = TextFromPath(dir.path()) + u"/";
        st.task.albumFolder = base;
        st.stop = stop.get_token();
    }
    SiteProfile& prof() { return st.profile; }
    // Appends an album record to the list and returns its index.
    int Album(const Text& name, const Text& extra = {}) {
        ST_PERLISTRECORD r;
        r.Name = name;
        r.ExtraText1 = extra;
        return static_cast<int>(albums.AppendRecord(r)) - 1;
    }
    // Names and queues a picture of album `index`, as the controller hands it over; false when
    // the album wants no more.
    bool Add(int index, const Text& joined, const Text& title) {
        st.album.record = *albums.Get(static_cast<std::size_t>(index));
        st.album.albumCount = albums.Count();
        return AddPicEntry(st, Ref(joined, title));
    }
    // Queues a picture under a given file name, without naming.
    void Queue(const Text& joined, const Text& fileName) {
        st.task.pictures.push_back(Ref(joined));
        st.task.fileNames.push_back(fileName);
    }
    // Starts the next album the way the controller does.
    void NextAlbum() {
        st.task.Clear();
        st.task.albumFolder = base;
        st.albumComplete = false;
    }
    std::vector<Text> Names() const { return st.task.fileNames; }
    std::vector<Text> Urls() const {
        std::vector<Text> out;
        for (const PictureRef& p : st.task.pictures) out.push_back(p.Joined());
        return out;
    }

    TempDir dir;
    Text base;
    RecordingObserver obs;
    ManualClock clock;
    std::stop_source stop;
    AlbumList albums;
    DownloadState st{obs, clock};
};


}  // namespace qm::test
