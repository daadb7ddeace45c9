// platform/keymap.h: physical keys, numbered by their USB HID usage (the
// numbering the window system's scancodes use, and into which
// platform/web/keycode.h turns the browser's key names), to PC set-1
// scancodes of a US keyboard. Keys that set 1 reaches only through an 0xE0
// prefix (cursor keys, the right-hand Ctrl and Alt, the navigation block)
// give the code after the prefix, so the cursor keys read as 72, 80, 75 and
// 77. Keys with no set-1 code below 128 give 0. Self-contained, so tests can
// include it.
#pragma once

#include <array>
#include <cstdint>

constexpr int KEYMAP_USAGES = 232;   // usages 0..231: everything up to right GUI

namespace keymap_detail {
struct Pair {
    uint8_t usage;
    uint8_t set1;
};
// Usage, set-1 code.
// clang-format off
constexpr Pair PAIRS[] = {
    // Letters a..z are usages 4..29.
    {4, 30}, {5, 48}, {6, 46}, {7, 32}, {8, 18}, {9, 33}, {10, 34}, {11, 35}, {12, 23},
    {13, 36}, {14, 37}, {15, 38}, {16, 50}, {17, 49}, {18, 24}, {19, 25}, {20, 16},
    {21, 19}, {22, 31}, {23, 20}, {24, 22}, {25, 47}, {26, 17}, {27, 45}, {28, 21}, {29, 44},
    // Digits 1..9, 0 are usages 30..39.
    {30, 2}, {31, 3}, {32, 4}, {33, 5}, {34, 6}, {35, 7}, {36, 8}, {37, 9}, {38, 10}, {39, 11},
    {40, 28},   // Enter
    {41, 1},    // Escape
    {42, 14},   // Backspace
    {43, 15},   // Tab
    {44, 57},   // space
    {45, 12}, {46, 13}, {47, 26}, {48, 27},   // - = [ ]
    {49, 43}, {50, 43},                       // backslash, non-US hash
    {51, 39}, {52, 40}, {53, 41},             // ; ' `
    {54, 51}, {55, 52}, {56, 53},             // , . /
    {57, 58},                                 // Caps Lock
    // F1..F10 are 59..68; F11 and F12 are 87 and 88.
    {58, 59}, {59, 60}, {60, 61}, {61, 62}, {62, 63}, {63, 64}, {64, 65}, {65, 66},
    {66, 67}, {67, 68}, {68, 87}, {69, 88},
    {70, 55},   // Print Screen
    {71, 70},   // Scroll Lock
    {72, 69},   // Pause (its make code starts with the Num Lock code)
    {73, 82}, {74, 71}, {75, 73}, {76, 83}, {77, 79}, {78, 81},   // Ins Home PgUp Del End PgDn
    {79, 77}, {80, 75}, {81, 80}, {82, 72},                       // right left down up
    {83, 69},                                                     // Num Lock
    {84, 53}, {85, 55}, {86, 74}, {87, 78}, {88, 28},             // keypad / * - + Enter
    {89, 79}, {90, 80}, {91, 81}, {92, 75}, {93, 76}, {94, 77},   // keypad 1..6
    {95, 71}, {96, 72}, {97, 73}, {98, 82}, {99, 83},             // keypad 7 8 9 0 .
    {100, 86},                                                    // the key left of z
    {101, 93},                                                    // Menu
    {103, 89},                                                    // keypad =
    {224, 29}, {225, 42}, {226, 56}, {227, 91},   // left Ctrl Shift Alt GUI
    {228, 29}, {229, 54}, {230, 56}, {231, 92},   // right Ctrl Shift Alt GUI
};
// clang-format on

constexpr std::array<uint8_t, KEYMAP_USAGES> build() {
    std::array<uint8_t, KEYMAP_USAGES> table = {};
    for (const Pair &p : PAIRS) table[p.usage] = p.set1;
    return table;
}
constexpr std::array<uint8_t, KEYMAP_USAGES> TABLE = build();
}   // namespace keymap_detail

// The set-1 scancode of a key, 1..127, or 0 for none.
constexpr int keymap_to_set1(int usage) {
    if (usage < 0 || usage >= KEYMAP_USAGES) return 0;
    return keymap_detail::TABLE[static_cast<size_t>(usage)];
}

static_assert(keymap_to_set1(41) == 1 && keymap_to_set1(82) == 72 && keymap_to_set1(81) == 80);
