// The wall-clock time as the files the program writes record it.
#pragma once

#include <string>

namespace qm {

// Now as an ISO 8601 UTC stamp, e.g. "2026-03-01T08:30:00Z" (album.json's and moods.json's "saved").
std::string UtcStampNow();

}  // namespace qm
