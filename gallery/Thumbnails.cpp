#include "gallery/Thumbnails.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <system_error>
#include <thread>
#include <unordered_map>

#include "gallery/GeneralThumbnailer.h"
#include "gallery/JpegThumbnail.h"
#include "net/FileUtil.h"

namespace qm::gallery {

namespace fs = std::filesystem;

namespace {

constexpr std::uintmax_t kMaxFileBytes = 256u << 20;

bool SameTime(const fs::path& a, fs::file_time_type t) {
    std::error_code ec;
    const auto at = fs::last_write_time(a, ec);
    return !ec && at == t;
}

enum class PictureKind { None, Jpeg, Other };

// What the file's first bytes say it is: a file that begins like no picture (an error page, random
// bytes) is known to be undecodable without asking any decoder to try.
PictureKind Sniff(const fs::path& picture) {
    unsigned char head[16] = {};
    const int fd = ::open(picture.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return PictureKind::None;
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n < 12) return PictureKind::None;
    const auto is = [&](std::size_t at, std::string_view magic) {
        return std::memcmp(head + at, magic.data(), magic.size()) == 0;
    };
    if (head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return PictureKind::Jpeg;
    if (is(0, "\x89PNG") || is(0, "GIF8") || is(0, "BM") || (is(0, "RIFF") && is(8, "WEBP")) || is(0, "II*") ||
        is(0, std::string_view("MM\0*", 4)) || is(4, "ftyp"))
        return PictureKind::Other;
    return PictureKind::None;
}

// The thumbnail's JPEG bytes; empty when the picture cannot be decoded. `unavailable` is set when
// the general thumbnailer was needed and could not be loaded (nothing is then known of the picture).
std::string MakeThumbnailJpeg(const fs::path& picture, bool& unavailable) {
    std::string jpeg;
    const PictureKind kind = Sniff(picture);
    if (kind == PictureKind::None) return jpeg;
    if (kind == PictureKind::Jpeg && MakeJpegThumbnail(picture, kThumbSize, jpeg) != JpegThumbResult::NotHandled)
        return jpeg;
    unavailable = MakeGeneralThumbnail(picture, kThumbSize, jpeg) == GeneralThumbResult::Unavailable;
    return jpeg;
}

// The pictures of the album known to be undecodable: name -> modification time (the clock's
// ticks), one "ticks name" line each in ".thumbs/undecodable.txt". A picture that changed is tried
// again.
using BadList = std::unordered_map<std::string, int64_t>;
constexpr char kBadListName[] = "undecodable.txt";

BadList ReadBadList(const fs::path& thumbs) {
    BadList out;
    std::string text;
    if (!ReadWholeFile(thumbs / kBadListName, text) || text.size() > (64u << 20)) return out;
    std::size_t pos = 0;
    while (pos < text.size()) {
        std::size_t end = text.find('\n', pos);
        if (end == std::string::npos) end = text.size();
        const std::string_view line(text.data() + pos, end - pos);
        const std::size_t sp = line.find(' ');
        if (sp != std::string_view::npos && sp > 0) {
            try {
                out[std::string(line.substr(sp + 1))] = std::stoll(std::string(line.substr(0, sp)));
            } catch (const std::exception&) {
            }
        }
        pos = end + 1;
    }
    return out;
}

int64_t Ticks(fs::file_time_type t) {
    return static_cast<int64_t>(t.time_since_epoch().count());
}

// `badTime` receives the picture's time when it cannot be decoded (0 otherwise).
ThumbState UpdateOne(const fs::path& folder, const fs::path& thumbs, const std::string& name, const BadList& known,
                     int64_t& badTime) {
    const fs::path picture = folder / name;
    const fs::path thumb = thumbs / ThumbName(name);
    std::error_code ec;
    const fs::file_status st = fs::symlink_status(picture, ec);
    const auto time = fs::last_write_time(picture, ec);
    if (ec || !fs::is_regular_file(st)) return ThumbState::Failed;
    if (SameTime(thumb, time)) return ThumbState::Kept;
    const auto bad = known.find(name);
    if (bad != known.end() && bad->second == Ticks(time)) {
        badTime = Ticks(time);
        return ThumbState::Failed;
    }

    std::string jpeg;
    bool unavailable = false;
    const std::uintmax_t bytes = fs::file_size(picture, ec);
    if (!ec && bytes <= kMaxFileBytes) jpeg = MakeThumbnailJpeg(picture, unavailable);
    if (unavailable) return ThumbState::Failed;  // not the picture's fault: tried again next time
    if (jpeg.empty()) {
        // Remembered (so the next run does not try again); a stale thumbnail goes.
        fs::remove(thumb, ec);
        badTime = Ticks(time);
        return ThumbState::Failed;
    }
    if (!WriteFileAtomic(thumb, jpeg, 0, /*durable=*/false)) return ThumbState::Failed;
    fs::last_write_time(thumb, time, ec);
    return ThumbState::Made;
}

}  // namespace

std::string ThumbName(const std::string& pictureName) {
    uint64_t h = 1469598103934665603ull;  // FNV-1a, 64 bits
    for (unsigned char c : pictureName) {
        h ^= c;
        h *= 1099511628211ull;
    }
    char out[24];
    std::snprintf(out, sizeof out, "%016llx.jpg", static_cast<unsigned long long>(h));
    return out;
}

ThumbCounts UpdateThumbnails(const fs::path& albumFolder, const std::vector<std::string>& pictures,
                             std::vector<ThumbState>* states, unsigned threads) {
    std::vector<ThumbState> result(pictures.size(), ThumbState::Failed);
    const fs::path thumbs = albumFolder / kThumbFolder;
    std::error_code ec;
    // A ".thumbs" that is a link could lead out of the save folder: never write through it.
    bool usable = !pictures.empty() && !fs::is_symlink(thumbs, ec);
    if (usable) {
        fs::create_directory(thumbs, ec);
        usable = fs::is_directory(thumbs, ec);
    }
    if (usable) {
        if (threads == 0) threads = std::clamp(std::thread::hardware_concurrency(), 1u, 4u);
        threads = static_cast<unsigned>(std::min<std::size_t>(threads, pictures.size()));
        const BadList known = ReadBadList(thumbs);
        std::vector<int64_t> badTimes(pictures.size(), 0);
        std::atomic<std::size_t> next{0};
        auto work = [&] {
            for (std::size_t i; (i = next.fetch_add(1)) < pictures.size();)
                result[i] = UpdateOne(albumFolder, thumbs, pictures[i], known, badTimes[i]);
            GeneralThumbnailerThreadDone();
        };
        std::vector<std::thread> pool;
        for (unsigned t = 1; t < threads; ++t) {
            try {
                pool.emplace_back(work);
            } catch (const std::system_error&) {
                break;  // fewer helpers; this thread does the rest
            }
        }
        work();
        for (auto& t : pool) t.join();
        // The list of undecodable pictures as it now stands (names with a line break are left
        // out: they are simply tried again), written only when it changed.
        BadList now;
        std::string text;
        for (std::size_t i = 0; i < pictures.size(); ++i) {
            if (!badTimes[i] || pictures[i].find('\n') != std::string::npos) continue;
            if (!now.emplace(pictures[i], badTimes[i]).second) continue;
            text += std::to_string(badTimes[i]) + ' ' + pictures[i] + '\n';
        }
        if (now != known) {
            if (now.empty())
                fs::remove(thumbs / kBadListName, ec);
            else
                WriteFileAtomic(thumbs / kBadListName, text, 0, /*durable=*/false);
        }
    }
    ThumbCounts counts;
    for (ThumbState s : result) {
        if (s == ThumbState::Made)
            ++counts.made;
        else if (s == ThumbState::Kept)
            ++counts.kept;
        else
            ++counts.failed;
    }
    if (states) *states = std::move(result);
    return counts;
}

}  // namespace qm::gallery
