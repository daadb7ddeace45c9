// Tests of the player-start name rule the loader and levelcheck share.
#include <gtest/gtest.h>

#include <cstdint>

#include "scene/fileformat.h"

namespace {

constexpr int32_t NONE = 999;   // no car placed

TEST(StartName, DigitByteIsReadUnsignedWithNoLowerBound) {
    const struct {
        const char *name;
        int32_t player;
    } cases[] = {
        {"Human0", 0},       {"Human1", 1},  {"Human2", NONE}, {"Human", -48},   // NUL - '0'
        {"Human/", -1},      {"Human1x", 1},   // only the byte after the prefix counts
        {"Human\xC8", NONE},                   // 200 - '0', not -56 - '0'
        {"human0", NONE},    {"Huma", NONE}, {"", NONE},
    };
    for (const auto &c : cases) {
        int32_t player = NONE;
        const int placed = start_places_car(c.name, &player);
        EXPECT_EQ(placed, c.player != NONE) << c.name;
        EXPECT_EQ(player, c.player) << c.name;
    }
}

}   // namespace
