// The download controller: downloads the chosen albums one after the other.
#pragma once

#include "net/Clock.h"
#include "core/JobControl.h"
#include "core/JobObserver.h"
#include "core/JobRequests.h"
#include "core/Outcome.h"

namespace qm {

// Runs the download job on the calling thread and returns what happened to every album.
JobOutcome RunDownloadJob(const DownloadRequest& request, JobObserver& observer, JobControl& control,
                          Clock& clock = SystemClock());

}  // namespace qm
