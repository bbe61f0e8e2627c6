// A job's thread and its control: the button logic of "获取相册" and "下载" written once. Pressing
// starts the job when none runs, and asks a running one to stop.
#pragma once

#include <functional>
#include <system_error>
#include <thread>

#include "core/JobControl.h"

namespace qm {

class JobRunner {
public:
    enum class Press { Started, StopRequested, Failed };

    JobRunner() = default;
    JobRunner(const JobRunner&) = delete;
    JobRunner& operator=(const JobRunner&) = delete;
    ~JobRunner() { Join(); }

    // Starts `work` on a new thread (a finished previous thread is joined first), or asks the
    // running job to stop. `work` runs with the control already marked running and ends it.
    Press PressButton(std::function<void()> work) {
        if (control.RequestStop()) return Press::StopRequested;
        Join();
        if (!control.TryStart()) return Press::StopRequested;
        try {
            thread_ = std::thread([this, work = std::move(work)] {
                work();
                control.Finish();
            });
        } catch (const std::system_error&) {
            control.Finish();
            return Press::Failed;
        }
        return Press::Started;
    }

    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    bool Running() const { return control.Running(); }

    JobControl control;

private:
    std::thread thread_;
};

}  // namespace qm
