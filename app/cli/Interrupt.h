// Ctrl-C for the terminal front end: the first one asks the running job to stop (it winds down and
// keeps what it has), a second one ends the program at once with status 130.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>

#include "jobs/JobRunner.h"

namespace qm::cli {

void InstallInterruptHandler();
// Number of Ctrl-C presses so far (0 or 1; a second one never returns).
int InterruptCount();

// Waits until the job of `runner` has ended, then joins its thread. On the first Ctrl-C
// `requestStop` runs once (on this thread).
void WaitForJob(JobRunner& runner, const std::function<void()>& requestStop);

}  // namespace qm::cli
