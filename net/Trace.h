// Debug trace lines: written to stderr only when QUILLMOSS_TRACE=1, free otherwise.
#pragma once

namespace qm {

bool TraceEnabled();
// Turns the trace on or off for the rest of the run (the terminal program's --verbose).
void SetTraceEnabled(bool on);
void Trace(const char* fmt, ...) __attribute__((format(printf, 1, 2)));

}  // namespace qm
