// One mood post (说说) as the service lists it: its words, time, place, counts, privacy, comments
// with their replies, and the pictures of it that were saved. The mood fetcher fills everything but
// `files`; the download fills `files` once the pictures are on disk.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "net/StringCtrl.h"

namespace qm {

struct MoodComment {
    Text name;             // the commenter's nickname
    std::string uin;       // the commenter's QQ number
    Text text;
    int64_t time = 0;      // Unix seconds; 0 when the answer gave none
    Text timeText;         // the service's own time text ("2014-01-17 23:06")
    std::vector<MoodComment> replies;  // a comment's replies; a reply has none of its own
};

struct MoodPlace {
    Text name, idname;  // shown name and the service's name of the place
    Text x, y;          // pos_x / pos_y as the service wrote them
    bool Empty() const { return name.empty() && idname.empty() && x.empty() && y.empty(); }
};

struct MoodPost {
    std::string id;         // the service's tid
    int64_t time = 0;       // created_time, Unix seconds; 0 unknown
    Text timeText;          // createTime as written
    Text text;              // the full text (from the detail answer when the list cut it)
    bool textCut = false;   // the list cut the text and the full text could not be had
    MoodPlace place;
    Text repost;            // the original text of a repost (rt_con)
    int32_t pictureTotal = 0, commentCount = 0, forwardCount = 0;  // pictotal, cmtnum, fwdnum
    int32_t secret = 0, right = 0;  // privacy as the service writes it
    std::vector<MoodComment> comments;
    std::vector<Text> files;  // names of its saved pictures inside the mood folder, in list order
};

// Comments and replies together.
inline std::size_t CommentsWithReplies(const MoodPost& p) {
    std::size_t n = 0;
    for (const MoodComment& c : p.comments) n += 1 + c.replies.size();
    return n;
}

}  // namespace qm
