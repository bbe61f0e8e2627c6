// Reading the words of mood posts out of the mood-list answer and the post-detail answer. The
// pictures are cut from the same answers by the mood fetcher's markers; this reads the rest as JSON.
#pragma once

#include <optional>
#include <vector>

#include "core/MoodPost.h"

namespace qm {

// Bounds on what one answer may make us hold.
inline constexpr std::size_t kMaxPostsPerAnswer = 1000;
inline constexpr std::size_t kMaxCommentsPerPost = 5000;
inline constexpr std::size_t kMaxRepliesPerComment = 1000;

// The posts of a mood-list page (`msglist[]`), in the answer's order. A post without a tid is left
// out; an answer that is no JSON (inside its JSONP wrapper) gives none.
std::vector<MoodPost> ParseMoodList(TextView body);

// The post of a detail answer (the post's fields at the top level, or a one-post `msglist`);
// nullopt when the answer holds no post with a tid.
std::optional<MoodPost> ParseMoodDetail(TextView body);

}  // namespace qm
