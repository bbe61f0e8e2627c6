#include "net/Trace.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace qm {

bool TraceEnabled() {
    static const bool on = [] {
        const char* v = std::getenv("QUILLMOSS_TRACE");
        return v && std::strcmp(v, "1") == 0;
    }();
    return on;
}

void Trace(const char* fmt, ...) {
    if (!TraceEnabled()) return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(stderr, fmt, ap);
    va_end(ap);
}

}  // namespace qm
