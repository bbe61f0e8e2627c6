// moods.json in the mood folder: every mood post kept for a QQ number, newest first, one record
// per post: id, time (ISO 8601 with the zone), full text, place, repost text, counts, privacy,
// comments with their replies, and the file names of its saved pictures. The archive keeps each
// post's record as this file writes it, so a run rewrites the whole file from the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/MoodPost.h"
#include "net/FileUtil.h"

namespace qm {

inline constexpr char kMoodsJsonName[] = "moods.json";
// A larger file is not read (some ten times what 5,000 posts with long comment threads need).
inline constexpr std::uintmax_t kMoodsJsonMaxBytes = 256u << 20;

// Unix seconds as China time with its zone, "2014-01-17T23:06:40+08:00"; empty for 0.
std::string IsoChinaTime(int64_t unixSeconds);

// The privacy word of a post: "self" (secret, or only the owner), "everyone", "friends",
// "chosen" (some friends), "excluded" (all but some), else "other".
const char* PrivacyWord(const MoodPost& post);

// One post's record: a JSON object on one line (UTF-8; bad text becomes U+FFFD).
std::string PostRecordJson(const MoodPost& post);
// The post a record holds; nullopt when the text is no such record.
std::optional<MoodPost> ParsePostRecord(std::string_view record);

struct MoodsFile {
    std::string targetId;
    std::string updated;  // UTC
    std::vector<MoodPost> posts;  // newest first
};

// The file's text from records already in PostRecordJson form, in the order given.
std::string MoodsJsonText(const std::string& targetId, const std::string& updated,
                          const std::vector<std::string>& records);
std::optional<MoodsFile> ParseMoodsJson(std::string_view text);

// Writes `folder`/moods.json atomically (through `held`, the folder held open, when given, so a
// folder swapped for a link meanwhile cannot redirect it); false with `error` set to the system's
// words.
bool WriteMoodsJson(const Text& folder, const HeldFolder* held, const std::string& text, std::string* error);
// Reads `folder`/moods.json; nullopt when missing, too large or not such a file.
std::optional<MoodsFile> ReadMoodsJson(const Text& folder);

}  // namespace qm
