#include "net/Trace.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "net/TerminalSafe.h"

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
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    char small[512];
    const int n = std::vsnprintf(small, sizeof small, fmt, ap);
    va_end(ap);
    std::string line;
    if (n >= 0 && static_cast<size_t>(n) < sizeof small) {
        line.assign(small, static_cast<size_t>(n));
    } else if (n > 0) {
        line.resize(static_cast<size_t>(n) + 1);
        std::vsnprintf(line.data(), line.size(), fmt, again);
        line.resize(static_cast<size_t>(n));
    }
    va_end(again);
    // The values traced come from servers (addresses, redirects, answer bytes): nothing in them
    // reaches the terminal raw. Tabs separate fields; only the line's own end stays a line feed.
    const bool newline = !line.empty() && line.back() == '\n';
    if (newline) line.pop_back();
    std::string safe = EscapeForTerminal(line, "\t");
    if (newline) safe += '\n';
    std::fputs(safe.c_str(), stderr);
}

}  // namespace qm
