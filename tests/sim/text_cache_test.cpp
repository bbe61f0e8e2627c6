// The simulator's cache of built pages: bounded by bytes, the oldest text dropped first.
#include <gtest/gtest.h>

#include "sim/TextCache.h"

namespace qm::sim {
namespace {

std::shared_ptr<const std::string> Text(size_t n, char c) {
    return std::make_shared<const std::string>(n, c);
}

TEST(TextCache, KeepsWithinItsBudgetDroppingTheOldestFirst) {
    TextCache cache(100);
    cache.Keep("a", Text(40, 'a'));
    cache.Keep("b", Text(40, 'b'));
    ASSERT_NE(cache.Find("a"), nullptr);
    EXPECT_EQ(*cache.Find("b"), std::string(40, 'b'));

    cache.Keep("c", Text(40, 'c'));  // 120 bytes would pass the budget: "a" goes
    EXPECT_EQ(cache.Find("a"), nullptr);
    EXPECT_NE(cache.Find("b"), nullptr);
    EXPECT_NE(cache.Find("c"), nullptr);
    EXPECT_EQ(cache.Bytes(), 80u);

    cache.Keep("c", Text(10, 'x'));  // a key kept already keeps its first text
    EXPECT_EQ(*cache.Find("c"), std::string(40, 'c'));

    cache.Keep("huge", Text(101, 'h'));  // larger than the budget: not kept, nothing dropped
    EXPECT_EQ(cache.Find("huge"), nullptr);
    EXPECT_NE(cache.Find("b"), nullptr);
    EXPECT_EQ(cache.Bytes(), 80u);
}

}  // namespace
}  // namespace qm::sim
