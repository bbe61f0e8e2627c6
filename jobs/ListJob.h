// The list job: turns a typed target into the album list of its service.
#pragma once

#include "net/Clock.h"
#include "core/JobControl.h"
#include "core/JobObserver.h"
#include "core/JobRequests.h"

namespace qm {

// Runs the list job on the calling thread. Albums are reported as they come (AlbumListed) and
// returned in the result; `programFolder` holds the extension settings.
ListResult RunListJob(const ListRequest& request, JobObserver& observer, JobControl& control,
                      const Text& programFolder, Clock& clock = SystemClock());

}  // namespace qm
