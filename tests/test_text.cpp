// Tests of text measurement with font switches.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "platform/text.h"

namespace {

// A font of glyphs {code, width, height}; pixels 'z', read as glyphs by a wrong stride.
std::vector<uint8_t> make_font(std::initializer_list<std::array<int, 3>> glyphs) {
    std::vector<uint8_t> font;
    for (const auto &[code, w, h] : glyphs) {
        for (int byte : {code, w & 255, w >> 8, h & 255, h >> 8}) font.push_back(static_cast<uint8_t>(byte));
        font.insert(font.end(), static_cast<size_t>(w * h), 'z');
    }
    font.push_back(0);
    return font;
}

class TextWidth : public ::testing::Test {
  protected:
    void TearDown() override {
        for (int slot = 0; slot < FONT_SLOTS; slot++) text_set_font(slot, nullptr);
    }
};

// Widths add up glyph widths plus one pixel each; "~" and a digit switch font
// for what follows, and every text starts again in slot 0.
TEST_F(TextWidth, GlyphWidthsPlusSpacingWithFontSwitches) {
    EXPECT_EQ(text_width(""), 0);
    EXPECT_EQ(text_width("plain letters"), 0);   // every slot empty
    const std::vector<uint8_t> fonts[] = {make_font({{'a', 5, 2}, {'b', 3, 4}}),
                                          make_font({{'a', 300, 2}, {'b', 20, 1}}), make_font({{0xE9, 7, 1}})};
    for (int slot = 0; slot < 3; slot++) text_set_font(slot, fonts[slot].data());
    const std::pair<const char *, int> cases[] = {
        {"ab", 10},   {"bbb", 12}, {"a?b", 10},
        {"z", 0},   // no glyph for '?', nor for pixel bytes
        {"a~4b", 6},  {"~0a", 6},  {"a~1ab~0b", 6 + 301 + 21 + 4},
        {"a~xab", 6}, {"a~", 6},                          // slot 4 is empty
        {"~1a", 301}, {"a", 6},    {"~2\xE9\xE9", 16}};   // characters above ASCII
    for (const auto &[text, width] : cases) EXPECT_EQ(text_width(text), width) << text;
}

TEST_F(TextWidth, FormattingNeverWritesPastItsBufferAndABadSlotIsFatal) {
    const std::vector<uint8_t> font = make_font({{'x', 2, 2}});
    text_set_font(0, font.data());
    const std::string long_text(1000, 'x');
    text_format(-1, 0, "%s~1%s", long_text.c_str(), long_text.c_str());   // the address sanitizer watches
    text_format(10, 10, "%d", 42);
    EXPECT_EXIT((dup2(2, 1), text_set_font(FONT_SLOTS, nullptr)), ::testing::ExitedWithCode(1),
                "Fatal error: font slot 10 out of range");
}

}   // namespace
