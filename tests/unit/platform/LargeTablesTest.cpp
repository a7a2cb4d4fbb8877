// The large-table allocator: blocks change between the ordinary heap and
// huge-page mappings as a table grows and shrinks, and every move keeps the
// table's contents.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/LargeTables.h"

using namespace salvage;

TEST(LargeTables, ContentsSurviveGrowingPastAndShrinkingBelowTheHugePageSize) {
    LargeTable<std::uint32_t> t;
    const std::uint32_t n = std::uint32_t(3 * kLargeTableBytes / sizeof(std::uint32_t));
    for (std::uint32_t i = 0; i < n; ++i) t.push_back(i * 7u);
#if defined(__linux__)
    EXPECT_EQ(std::uintptr_t(t.data()) % kLargeTableBytes, 0u);
#endif
    LargeTable<std::uint32_t> copy = t;
    t.resize(1000);
    t.shrink_to_fit();  // back to an ordinary block
    ASSERT_EQ(t.size(), 1000u);
    for (std::uint32_t i = 0; i < 1000; ++i) ASSERT_EQ(t[i], i * 7u);
    ASSERT_EQ(copy.size(), n);
    for (std::uint32_t i = 0; i < n; i += 4099) ASSERT_EQ(copy[i], i * 7u);
    EXPECT_EQ(copy.back(), (n - 1) * 7u);
}
