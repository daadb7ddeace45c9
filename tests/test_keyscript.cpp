// frame/keyscript: key scripts as runs of frames, parsed, asked and printed.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "frame/keyscript.h"

namespace {

std::string parse_error(const std::string &text, KeyScript *out = nullptr) {
    KeyScript scratch;
    std::string error;
    return keyscript_parse(text.data(), text.size(), "k", out != nullptr ? out : &scratch, &error) ? "" : error;
}

TEST(KeyscriptParse, RunsHoldTheirKeysForTheirCount) {
    KeyScript s;
    ASSERT_EQ(parse_error("# warm-up\n2 none\n3 up left  # turn\n\n0 esc\n1 stop\r\n", &s), "");
    EXPECT_EQ(s.frames, 6);
    const uint32_t up_left = KEYSCRIPT_KEYS[0].bit | KEYSCRIPT_KEYS[2].bit;
    const uint32_t want[] = {0, 0, 0, up_left, up_left, up_left, KEYSCRIPT_KEYS[4].bit, 0};
    for (int frame = 0; frame < 8; frame++) EXPECT_EQ(keyscript_keys_at(s, frame), want[frame]) << frame;
}

TEST(KeyscriptParse, MistakesNameTheLine) {
    const std::pair<const char *, const char *> cases[] = {
        {"1 up\n2 jump\n", "k:2: unknown key 'jump'"},
        {"+3 up\n", "k:1: expected a frame count, not '+3'"},
        {"0x10 up\n", "k:1: expected a frame count, not '0x10'"},
        {"1000000001 up\n", "k:1: expected a frame count, not '1000000001' (at most 1000000000)"},
        {"99999999999999999999 up\n", "k:1: expected a frame count"},
        {"4\n", "k:1: no keys after the count"},
        {"4 none up\n", "k:1: 'none' cannot be combined with keys"},
    };
    for (const auto &[text, message] : cases)
        EXPECT_EQ(parse_error(text).rfind(message, 0), 0u) << text << " gave " << parse_error(text);
    EXPECT_EQ(parse_error(std::string("1 up\n2 up") + '\0' + "\n").rfind("k:2: a NUL byte", 0), 0u);
    EXPECT_EQ(parse_error(std::string(KEYSCRIPT_LINE_MAX + 1, ' ')).rfind("k:1: line longer", 0), 0u);
}

TEST(KeyscriptPrint, PrintedTextParsesBackAndAppendJoinsRuns) {
    KeyScript built;
    for (int i = 0; i < 5; i++) keyscript_append(&built, 0);
    for (int i = 0; i < 3; i++) keyscript_append(&built, KEYSCRIPT_KEYS[1].bit | KEYSCRIPT_KEYS[5].bit);
    EXPECT_EQ(built.runs.size(), 2u);
    const std::string text = keyscript_print(built);
    EXPECT_EQ(text, "5 none\n3 down esc\n");
    KeyScript again;
    ASSERT_EQ(parse_error(text, &again), "");
    EXPECT_EQ(again.frames, 8);
    for (int frame = 1; frame <= 9; frame++)
        EXPECT_EQ(keyscript_keys_at(again, frame), keyscript_keys_at(built, frame));
}

// The keys of a frame as a scan from the first run finds them.
uint32_t scanned_keys_at(const KeyScript &script, int64_t frame) {
    if (frame < 1) return 0;
    int64_t first = 1;
    for (const KeyRun &r : script.runs) {
        if (frame - first < r.count) return r.keys;
        first += r.count;
    }
    return 0;
}

// Random scripts (runs of 0 frames included), asked in order, backwards, at
// random and while they grow: every answer is the scan's.
TEST(KeyscriptKeysAt, AnswersAsAScanFromTheStartDoesInAnyOrder) {
    std::mt19937 rng(7);
    for (int trial = 0; trial < 200; trial++) {
        KeyScript s;
        const int runs = static_cast<int>(rng() % 40);
        for (int i = 0; i < runs; i++) {
            const int64_t count = rng() % 4 == 0 ? 0 : 1 + rng() % 6;
            s.runs.push_back({count, static_cast<uint32_t>(rng() % 64)});
            s.frames += count;
        }
        for (int64_t f = -1; f <= s.frames + 2; f++)
            ASSERT_EQ(keyscript_keys_at(s, f), scanned_keys_at(s, f)) << trial << " " << f;
        for (int64_t f = s.frames + 2; f >= -1; f--)
            ASSERT_EQ(keyscript_keys_at(s, f), scanned_keys_at(s, f)) << trial << " " << f;
        for (int k = 0; k < 300; k++) {
            if (rng() % 5 == 0) keyscript_append(&s, static_cast<uint32_t>(rng() % 3));
            const int64_t f = static_cast<int64_t>(rng() % static_cast<uint32_t>(s.frames + 4)) - 1;
            ASSERT_EQ(keyscript_keys_at(s, f), scanned_keys_at(s, f)) << trial << " " << f;
        }
    }
}

// A drive of many one-frame runs read frame by frame: a scan from the start
// each frame would take some 10^10 steps here.
TEST(KeyscriptKeysAt, AFrameCostsTheSameAtAnyLength) {
    KeyScript s;
    for (int i = 0; i < 200000; i++) keyscript_append(&s, static_cast<uint32_t>(i % 2 + 1));
    ASSERT_EQ(s.runs.size(), 200000u);
    int64_t wrong = 0;
    for (int64_t f = 1; f <= s.frames; f++) wrong += keyscript_keys_at(s, f) != static_cast<uint32_t>((f - 1) % 2 + 1);
    EXPECT_EQ(wrong, 0);
}

}   // namespace
