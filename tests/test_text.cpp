// Tests of text measurement with font switches, and of the random bytes.
#include <gtest/gtest.h>

#include <unistd.h>

#include <set>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "platform/text.h"

namespace {

struct GlyphSpec {
    char code;
    int width, height;
};

// Glyph records back to back, ended by a code byte of 0. The pixel bytes
// are filled with code values so that a wrong record stride finds glyphs
// that are not there.
std::vector<uint8_t> make_font(const std::vector<GlyphSpec> &glyphs) {
    std::vector<uint8_t> font;
    for (const GlyphSpec &g : glyphs) {
        font.push_back(static_cast<uint8_t>(g.code));
        font.push_back(static_cast<uint8_t>(g.width & 255));
        font.push_back(static_cast<uint8_t>(g.width >> 8));
        font.push_back(static_cast<uint8_t>(g.height & 255));
        font.push_back(static_cast<uint8_t>(g.height >> 8));
        font.insert(font.end(), static_cast<size_t>(g.width * g.height), 'z');
    }
    font.push_back(0);
    return font;
}

class Text : public ::testing::Test {
protected:
    void SetUp() override { empty_slots(); }
    void TearDown() override { empty_slots(); }
    static void empty_slots() {
        for (int slot = 0; slot < FONT_SLOTS; slot++) text_set_font(slot, nullptr);
    }
};

}  // namespace

// Widths add up glyph widths plus one pixel each; "~" and a digit switch font.
using TextWidth = Text;

TEST_F(TextWidth, EmptyTextAndEmptySlotsMeasureZero) {
    EXPECT_EQ(text_width(""), 0);
    EXPECT_EQ(text_width("plain letters"), 0);
}

TEST_F(TextWidth, GlyphWidthsAndSpacing) {
    std::vector<uint8_t> font = make_font({{'a', 5, 2}, {'b', 3, 4}});
    text_set_font(0, font.data());
    EXPECT_EQ(text_width("ab"), 10);
    EXPECT_EQ(text_width("bbb"), 12);
    EXPECT_EQ(text_width("a?b"), 10);   // no glyph for '?'
    EXPECT_EQ(text_width("z"), 0);      // pixel bytes are not glyph codes
}

TEST_F(TextWidth, FontSwitchesApplyToWhatFollows) {
    std::vector<uint8_t> small = make_font({{'a', 5, 1}, {'b', 3, 1}});
    std::vector<uint8_t> wide = make_font({{'a', 300, 2}, {'b', 20, 1}});
    text_set_font(0, small.data());
    EXPECT_EQ(text_width("a~1b"), 6);   // slot 1 empty
    EXPECT_EQ(text_width("~0a"), 6);    // the switch itself adds nothing
    text_set_font(2, wide.data());
    EXPECT_EQ(text_width("a~2ab~0b"), 6 + 301 + 21 + 4);
    EXPECT_EQ(text_width("a~xab"), 6);  // "~" and a non-digit: no font
    EXPECT_EQ(text_width("a~"), 6);     // a trailing "~" ends the text
    // Every text starts again in slot 0.
    EXPECT_EQ(text_width("~2a"), 301);
    EXPECT_EQ(text_width("a"), 6);
}

TEST_F(TextWidth, CharactersAboveAsciiFindTheirGlyphs) {
    std::vector<uint8_t> font = make_font({{static_cast<char>(0xE9), 7, 1}});
    text_set_font(0, font.data());
    EXPECT_EQ(text_width("\xE9\xE9"), 16);
}

TEST_F(TextWidth, FormattingNeverWritesPastItsBuffer) {
    std::vector<uint8_t> font = make_font({{'x', 2, 2}});
    text_set_font(0, font.data());
    std::string long_text(1000, 'x');
    text_format(-1, 0, "%s~1%s", long_text.c_str(), long_text.c_str());
    text_format(10, 10, "%d", 42);
    SUCCEED();   // under the address sanitizer an overflow would stop here
}

TEST_F(TextWidth, SlotOutsideTheTableIsFatal) {
    EXPECT_EXIT(
        {
            dup2(2, 1);
            text_set_font(FONT_SLOTS, nullptr);
        },
        ::testing::ExitedWithCode(1), "Fatal error: font slot 10 out of range");
}

// The random bytes follow their table from the start and repeat every 256.
TEST(RandomBytes, SequenceStartsFromTheTableAndRepeats) {
    rand_reset();
    EXPECT_EQ(rand_byte(), 227);
    EXPECT_EQ(rand_byte(), 71);
    EXPECT_EQ(rand_byte(), 26);
    rand_reset();
    std::vector<int> period;
    std::set<int> values;
    for (int i = 0; i < 256; i++) {
        period.push_back(rand_byte());
        values.insert(period.back());
    }
    EXPECT_EQ(values.size(), 256u);
    EXPECT_EQ(*values.begin(), 0);
    EXPECT_EQ(*values.rbegin(), 255);
    EXPECT_EQ(rand_byte(), 227);   // the 257th
    for (int i = 1; i < 256; i++) ASSERT_EQ(rand_byte(), period[static_cast<size_t>(i)]);
}
