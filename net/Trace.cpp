#include "net/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qm {

namespace {
std::atomic<bool>& Switch() {
    static std::atomic<bool> on = [] {
        const char* v = std::getenv("QUILLMOSS_TRACE");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}
}  // namespace

bool TraceEnabled() {
    return Switch().load(std::memory_order_relaxed);
}

void SetTraceEnabled(bool on) {
    Switch().store(on);
}

void Trace(const char* fmt, ...) {
    if (!TraceEnabled()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

}  // namespace qm
