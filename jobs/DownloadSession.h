// What the albums of one download share: the request, the observer and the stop, the save folder
// and its archive, and what the job learns as its albums go by.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "core/Backoff.h"
#include "net/Clock.h"
#include "core/ExtSettings.h"
#include "core/JobControl.h"
#include "core/JobObserver.h"
#include "core/JobRequests.h"
#include "download/Archive.h"
#include "download/Transfer.h"

namespace qm {

struct DownloadSession {
    DownloadSession(const DownloadRequest& r, JobObserver& o, JobControl& c, Clock& k)
        : request(r),
          observer(o),
          control(c),
          clock(k),
          backoff(k, [&o](std::chrono::seconds left) { o.Waiting(left); }),
          transfer(k, backoff) {}

    const DownloadRequest& request;
    JobObserver& observer;
    JobControl& control;
    Clock& clock;
    ExtSettings ext;
    // One back-off for every request of the job, and one transfer that learns the pace the picture
    // host allows and keeps it from album to album.
    Backoff backoff;
    qm::Transfer transfer;

    Text saveFolder;  // as typed, ending with a separator: nothing is written outside it
    Text baseFolder;  // the target's folder below it (target and sub-folder), ending with one
    std::unique_ptr<Archive> archive;  // null when the save folder's archive cannot be used
    ArchiveTarget archiveTarget;
    std::size_t chosen = 0;  // albums chosen for this run

    // "Download what is listed" was answered yes after a stop: the transfers go on.
    bool stopConfirmed = false;
    std::size_t pictureTotal = 0;  // pictures listed by the albums that reached the transfer
    Text lastFolder;               // the folder of the last album that reached the transfer
};

}  // namespace qm
