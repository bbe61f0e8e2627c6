// The list job: turns the typed target into the album list (runs on its own thread).
#pragma once

#include <thread>

#include "core/AppState.h"

namespace qm {

// One run of the list job on the calling thread.
void GetListFunc(AppState& st);

// The "获取相册" button. Ignored before the window is ready; a running job gets a stop request;
// otherwise the album list is cleared and GetListFunc starts on `thread` (which must be joinable
// or empty; a finished previous thread is joined first). The caller resets its table beforehand.
// Returns true when a new job was started.
bool PressListButton(AppState& st, std::thread& thread);

}  // namespace qm
