// album.json: what the program knows about one saved album (its name, counts, completeness and every
// listed picture with its title and description), kept beside the pictures so the album can be read
// back and shown later without the service. Written at the end of each album, replaced on resume.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "net/FileUtil.h"
#include "net/StringCtrl.h"

namespace qm {

inline constexpr char kAlbumJsonName[] = "album.json";
// A larger file is not read at all (some ten times what 5,000 pictures with long texts need).
inline constexpr std::uintmax_t kAlbumJsonMaxBytes = 32u << 20;
// Read picture by picture (nothing held but the picture being read), a file may be this large: some
// five times what 100,000 pictures with long texts need.
inline constexpr std::uintmax_t kAlbumJsonStreamMaxBytes = 256u << 20;
// ... and hold at most this many pictures: a file of empty entries within that size would otherwise
// hand its reader some 80 million of them to keep.
inline constexpr std::size_t kAlbumJsonMaxPictures = 1'000'000;

// The film of a video item (its cover is the picture that holds it).
struct AlbumJsonFilm {
    Text file;           // final name in the album folder; empty when never saved
    uint64_t size = 0;
    std::string sha256;  // lower-case hex or empty
    std::string state;   // "saved", "already_had" or "failed"
    std::string reason;  // why it failed: "视频未就绪", "只有在线播放地址", "HTTP 403", ...
    Text play;           // the service's online play address, where it named one
};

struct AlbumJsonPicture {
    Text file;  // final name in the album folder; empty when never saved
    Text title, description, main, alternate;
    uint64_t size = 0;
    std::string sha256;  // lower-case hex or empty
    std::string state;   // "saved", "already_had" or "failed"
    std::string reason;  // empty, or why the picture failed ("HTTP 500", ...)
    std::optional<AlbumJsonFilm> video;  // set for a video item
    // When it was shot and uploaded, as China time ("2021-11-01T22:54:34+08:00"); empty unknown.
    std::string shot, uploaded;
};

// One picture's entry as views of texts kept elsewhere, so that writing it copies none of them
// (the entry of an AlbumJsonPicture is written through one of these too).
struct AlbumJsonFilmView {
    TextView file;
    uint64_t size = 0;
    std::string_view sha256, state, reason;
    TextView play;
};

struct AlbumJsonPictureView {
    TextView file, title, description, main, alternate;
    std::string_view shot, uploaded;
    uint64_t size = 0;
    std::string_view sha256, state, reason;
    const AlbumJsonFilmView* video = nullptr;  // set for a video item
};

// Seconds since the epoch as the "shot" and "uploaded" texts; empty for 0.
std::string ChinaTimeText(int64_t seconds);
// The same into `buffer`, which the view returned points into.
std::string_view ChinaTimeText(int64_t seconds, char (&buffer)[40]);

struct AlbumJson {
    std::string kind;  // "qzone", "group" or "weibo"
    Text targetId;
    Text albumId, name, privacy, folder;
    int32_t expected = -1;  // the count the album list gave; -1 unknown
    size_t listed = 0, saved = 0, alreadyHad = 0, failed = 0, notTried = 0, notListed = 0;
    // The films of the video items ("videos"; written only when the album has any).
    size_t videos = 0, videosSaved = 0, videosAlreadyHad = 0, videosFailed = 0, videosNotTried = 0;
    bool complete = false;
    std::string updated;                     // UTC, "2026-12-07T13:00:00Z"
    std::vector<AlbumJsonPicture> pictures;  // in list order
};

// The file's text (format 1, UTF-8; texts that are not valid UTF-16 get U+FFFD).
std::string AlbumJsonText(const AlbumJson& album);

// album.json written picture by picture: the head (every field of the album but its pictures), then
// each picture in list order, into a temporary file beside album.json that takes the name only at
// Commit (durably: titles and descriptions live nowhere else on this machine). The bytes are those
// of AlbumJsonText for the whole album, while only a small buffer is held, so an album of any size
// is written in bounded memory.
class AlbumJsonWriter {
public:
    explicit AlbumJsonWriter(const Text& albumFolder);
    // Through the album folder held open since it was checked (it must outlive the writer).
    explicit AlbumJsonWriter(const HeldFolder& albumFolder);
    AlbumJsonWriter(const AlbumJsonWriter&) = delete;
    AlbumJsonWriter& operator=(const AlbumJsonWriter&) = delete;

    // Creates the temporary file and writes the head (`album.pictures` is not written); false when
    // the file cannot be created.
    bool Begin(const AlbumJson& album);
    void Add(const AlbumJsonPicture& picture);
    void Add(const AlbumJsonPictureView& picture);
    // Writes the end and gives the file its name. False, with `error` (when given) set to the
    // system's text, when any write failed; an older album.json is then left as it was.
    bool Commit(std::string* error);

private:
    bool Flush();
    void Fail();

    AtomicFileWriter file_;
    std::string name_;    // for the error text
    std::string buffer_;  // text not yet written
    std::size_t pictures_ = 0;
    std::string error_;   // the first failure
};
// Parses a file's text. Missing or mistyped fields keep their defaults; text that is no JSON object,
// or a format newer than 1, gives nullopt.
std::optional<AlbumJson> ParseAlbumJson(std::string_view text);

// Writes `albumFolder`/album.json atomically (a crash never leaves a half-written file under the
// name). False with `error` (when given) set to the system's text on failure.
bool WriteAlbumJson(const Text& albumFolder, const AlbumJson& album, std::string* error);
// The same through the album folder held open since it was checked.
bool WriteAlbumJson(const HeldFolder& albumFolder, const AlbumJson& album, std::string* error);
// Reads `albumFolder`/album.json; nullopt when it is missing, larger than kAlbumJsonMaxBytes or bad.
std::optional<AlbumJson> ReadAlbumJson(const Text& albumFolder);
// Reads `albumFolder`/album.json picture by picture: `picture` gets each one in list order as it is
// read (to be copied or moved from), `album` the rest (its pictures stay empty). False when the file
// is missing, larger than kAlbumJsonStreamMaxBytes, with more than kAlbumJsonMaxPictures pictures or
// bad; what `picture` got before the fault was
// found is then to be dropped.
bool ReadAlbumJson(const Text& albumFolder, AlbumJson& album, const std::function<void(AlbumJsonPicture&)>& picture);

}  // namespace qm
