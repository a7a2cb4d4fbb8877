// The offset set against std::set on the same inserts: growth from empty
// and from a reserve, repeats, negatives and the key the table uses as its
// empty mark all answer as a set would.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <set>

#include "platform/OffsetSet.h"

using namespace salvage;

TEST(OffsetSet, AnswersAsAnOrderedSetDoes) {
    for (std::size_t reserved : {std::size_t(0), std::size_t(5), std::size_t(100000)}) {
        OffsetSet s;
        s.reserve(reserved);
        std::set<std::int64_t> want;
        std::uint64_t x = 12345;
        for (int i = 0; i < 50000; ++i) {
            x = x * 6364136223846793005ull + 1442695040888963407ull;
            // Offsets 32 apart over a small range, so repeats are common.
            std::int64_t k = std::int64_t((x >> 33) % 40000) * 32;
            if (i % 97 == 0) k = -k;
            if (i % 1009 == 0) k = std::numeric_limits<std::int64_t>::min();
            ASSERT_EQ(s.insert(k), want.insert(k).second) << "insert " << i << " of " << k;
        }
        EXPECT_EQ(s.size(), want.size());
        s.clear();
        EXPECT_EQ(s.size(), 0u);
        EXPECT_TRUE(s.insert(64));
        EXPECT_FALSE(s.insert(64));
    }
}
