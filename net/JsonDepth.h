// A guard to run before a JSON parser: brackets nested far deeper than any well-formed file or
// answer would make the parser hold one entry per bracket.
#pragma once

#include <string_view>

namespace qm {

// True when the brackets outside strings of `text` never nest deeper than `maxDepth`.
bool JsonNestsAtMost(std::string_view text, int maxDepth);

}  // namespace qm
