// Tests of the random byte source.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <vector>

#include "platform/random.h"

namespace {

// The random bytes follow their table from the start: each value once in 256
// bytes, then the same again.
TEST(RandomBytes, SequenceStartsFromTheTableAndRepeatsEvery256) {
    rand_reset();
    std::vector<int> bytes;
    for (int i = 0; i < 512; i++) bytes.push_back(rand_byte());
    EXPECT_EQ(std::vector<int>(bytes.begin(), bytes.begin() + 3), (std::vector<int>{227, 71, 26}));
    const std::set<int> values(bytes.begin(), bytes.begin() + 256);
    EXPECT_EQ(std::vector<int>({static_cast<int>(values.size()), *values.begin(), *values.rbegin()}),
              std::vector<int>({256, 0, 255}));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 256, bytes.begin() + 256));
}

}   // namespace
