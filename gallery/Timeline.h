// The timeline page of a target's mood posts (说说), beside its album list: newest first, each
// post with its time, text, repost, place, picture thumbnails (opening a large view) and comments
// with their replies; a year index; a search box that filters posts in the page. The first posts
// are in the page itself, the others come from a JSON block as they scroll into view.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "core/MoodPost.h"

namespace qm::gallery {

inline constexpr char kTimelinePageName[] = "moods.html";
inline constexpr char kTimelineCssName[] = "timeline.css";
inline constexpr char kTimelineJsName[] = "timeline.js";
// Posts written into the page itself (the first screens); the script adds the rest.
inline constexpr std::size_t kTimelineEagerPosts = 20;

extern const char kTimelineCss[];
extern const char kTimelineJs[];

// `moodFolder`: the mood folder's name inside the target folder (UTF-8). `thumbs`: for every
// picture file in that folder that may be shown, its thumbnail's name in ".thumbs" (empty: shown
// as a placeholder); a post's files missing from it are left out. `posts` newest first.
std::string TimelinePageHtml(const std::string& targetName, const std::string& moodFolder,
                             const std::vector<MoodPost>& posts, const std::map<std::string, std::string>& thumbs);

}  // namespace qm::gallery
