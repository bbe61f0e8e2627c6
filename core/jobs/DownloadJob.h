// The download controller: downloads the selected albums one after the other (own thread).
#pragma once

#include <thread>

#include "core/AppState.h"

namespace qm {

// One run of the download job on the calling thread.
void DownloadFunc(AppState& st);

// The "下载" button: a running job gets a stop request (state 3 and StopFlag); otherwise the job
// starts on `thread` (a finished previous thread is joined first). Returns true when started.
bool PressDownloadButton(AppState& st, std::thread& thread);

}  // namespace qm
