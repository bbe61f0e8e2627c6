// An observer for the benchmarks: shows nothing and answers every question No.
#pragma once

#include "core/JobObserver.h"

namespace qm::bench {

class SilentObserver : public JobObserver {
public:
    void Notify(const NoticeEvent&) override {}
    bool Ask(const QuestionEvent&) override { return false; }
    void RequestLogin(const Text&) override {}
};

}  // namespace qm::bench
