// Why a fetch gave no usable answer, as data: what kind of failure, and the system's or curl's
// own words for it.
#pragma once

#include <cstdint>
#include <string>

namespace qm {

enum class FailureKind : uint8_t {
    None,
    HttpStatus,  // `httpStatus` holds the code
    Timeout,
    SizeLimit,   // outside MinSizeKB / MaxSizeKB (after inflating)
    WriteError,  // the file could not be written; `text` is the system's reason
    DiskFull,    // the file system is full (or the quota is used up); no later picture can be saved
    Connection,  // no answer: host not found, refused, reset, truncated; `text` is curl's reason
    Stopped,     // the job was stopped before or while it was tried
    Unsafe,      // the target path leads out of the save folder
    RateLimited,
    NotAPicture,  // a picture address answered a text page (an error page with status 200)
    Other,
    FilmNotReady,    // the service is still preparing a video's film; a later run tries again
    FilmStreamOnly,  // the service gives a video only as an online stream, no file
};

struct FetchFailure {
    FailureKind kind = FailureKind::None;
    long httpStatus = 0;
    std::string text;  // UTF-8

    explicit operator bool() const { return kind != FailureKind::None; }
};

// One line for a person: "HTTP 500", "time-out", "Could not resolve host: …".
std::string DescribeFailure(const FetchFailure& f);

}  // namespace qm
