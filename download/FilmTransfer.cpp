// The film of a video item: its address is asked for right before the download (the service signs
// it for a short while), then the film is streamed into its ".part" file and renamed when complete.
// A broken transfer resumes from what was written, in this run's next attempt or in a later run.
#include "download/DownProc.h"
#include "net/Trace.h"
#include "net/URLSource2.h"

namespace qm {

void FetchFilm(DownloadState& st, const PictureRef& entry, const Text& fileName, PictureOutcome& out) {
    if (!st.lookUpFilm) {
        out.failure = Failure{FailureKind::Other, 0, "no film lookup for this service"};
        return;
    }
    const FilmAddress film = st.lookUpFilm(entry);
    out.filmPlay = film.play;
    switch (film.state) {
        case FilmState::NotReady:
            out.failure = Failure{FailureKind::FilmNotReady, 0, {}};
            return;
        case FilmState::StreamOnly:
            out.failure = Failure{FailureKind::FilmStreamOnly, 0, {}};
            return;
        case FilmState::Failed:
            out.failure = film.failure ? film.failure : Failure{FailureKind::Other, 0, "no film address"};
            return;
        case FilmState::Ready:
            break;
    }
    out.address = film.download;
    ST_URLREQUEST req(film.download, st.task.albumFolder + fileName, 20000);
    req.headers = film.headers;
    // Written through the album folder held since it was checked, never by its path.
    req.saveFolder = st.task.folder;
    req.saveName = ToUtf8(fileName);
    // A film may take far longer than a picture: only a stalled body ends it, never its length.
    req.readWaitMs = st.worker.TimeoutSec.load() * 1000;
    req.maxKB = st.worker.FilmMaxMB.load() * 1024u;
    req.resumable = true;
    req.attempts = 3;
    req.pauseSeconds = 1;
    req.stop = st.stop;
    ST_URLRESPONSE resp;
    if (FetchUrl(req, resp, 0)) {
        out.status = PictureStatus::Saved;
        out.bytes = resp.savedBytes;
        out.sha256 = resp.sha256;
        out.failure = Failure();
        Trace("film saved (%llu bytes, resumed from %llu)\n", static_cast<unsigned long long>(resp.bodySize),
              static_cast<unsigned long long>(resp.continued ? resp.resumedFrom : 0));
        return;
    }
    out.failure = resp.failure ? resp.failure : Failure{FailureKind::Other, 0, "not saved"};
}

}  // namespace qm
