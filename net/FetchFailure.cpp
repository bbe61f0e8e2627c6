#include "net/FetchFailure.h"

namespace qm {

std::string DescribeFailure(const FetchFailure& f) {
    auto with = [&f](const char* what) { return f.text.empty() ? std::string(what) : f.text; };
    switch (f.kind) {
        case FailureKind::None:
            return "";
        case FailureKind::HttpStatus:
            return "HTTP " + std::to_string(f.httpStatus);
        case FailureKind::Timeout:
            return f.text.empty() ? "time-out" : "time-out (" + f.text + ")";
        case FailureKind::SizeLimit:
            return with("outside the size limits");
        case FailureKind::WriteError:
            return f.text.empty() ? "write error" : "write error: " + f.text;
        case FailureKind::DiskFull:
            return with("No space left on device");
        case FailureKind::Connection:
            return with("connection failed");
        case FailureKind::Stopped:
            return "stopped";
        case FailureKind::Unsafe:
            return with("path leads out of the save folder");
        case FailureKind::RateLimited:
            return with("rate limited");
        case FailureKind::NotAPicture:
            return with("the answer is not a picture");
        case FailureKind::Other:
            return with("failed");
        case FailureKind::FilmNotReady:
            return "视频未就绪";
        case FailureKind::FilmStreamOnly:
            return "只有在线播放地址";
    }
    return "";
}

}  // namespace qm
