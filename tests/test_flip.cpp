// Tests of the flip kernels: every kernel this processor runs, on the same
// frames, leaves the same video memory as the word-by-word rule, for any size
// and any alignment; and the choice among them.
#include <gtest/gtest.h>

#include <algorithm>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/flip.h"
#include "tests/expect_fatal.h"

namespace {

using Bytes = std::vector<uint8_t>;

// The rule itself: a word that differs is stored, the rest keep their value.
void reference_flip(const uint8_t *back, const uint8_t *previous, uint8_t *vram, size_t bytes) {
    for (size_t at = 0; at < bytes; at += 4) {
        const size_t n = bytes - at < 4 ? bytes - at : 4;
        if (std::memcmp(back + at, previous + at, n) != 0) std::memcpy(vram + at, back + at, n);
    }
}

uint32_t lcg = 7;
uint8_t random_byte() {
    lcg = lcg * 1664525u + 1013904223u;
    return static_cast<uint8_t>(lcg >> 24);
}

// The frame before, and frames that differ from it in every pattern a kernel
// treats apart: nothing, everything, one byte, runs across block edges,
// scattered words, and the last bytes only.
std::vector<Bytes> frames_after(const Bytes &before) {
    const size_t n = before.size();
    std::vector<Bytes> frames(7, before);
    for (uint8_t &b : frames[1]) b = static_cast<uint8_t>(~b);
    if (n > 0) frames[2][n / 2] ^= 1;
    for (size_t i = 37; i < n; i += 211)
        for (size_t j = i; j < i + 90 && j < n; j++) frames[3][j] ^= 0x40;
    for (size_t i = 0; i < n; i++)
        if (random_byte() < 128) frames[4][i] = random_byte();
    for (size_t i = n > 3 ? n - 3 : 0; i < n; i++) frames[5][i] ^= 0x81;
    if (n > 0) {
        frames[6][0] ^= 2;
        frames[6][n - 1] ^= 2;
    }
    return frames;
}

std::vector<int> runnable_kernels() {
    std::vector<int> kernels;
    for (int k = FLIP_PORTABLE; k < FLIP_KERNELS; k++)
        if (flip_kernel(k) != nullptr) kernels.push_back(k);
    return kernels;
}

// Sizes: the classic screen, screens of other shapes (multiples of 64 and
// not), and sizes shorter than a block or a word. Offsets: aligned and not.
TEST(FlipKernels, EveryKernelLeavesTheVideoMemoryOfTheRuleForAnySizeAndAlignment) {
    ASSERT_NE(flip_kernel(FLIP_PORTABLE), nullptr);
    ASSERT_NE(flip_kernel(FLIP_128), nullptr) << "every build this runs on has a 128-bit kernel";
    const size_t sizes[] = {64000, 640 * 400, 427 * 200, 64000 + 4, 64000 + 3, 129, 64, 63, 5, 1, 0};
    for (size_t size : sizes) {
        for (size_t misalign : {size_t{0}, size_t{1}, size_t{7}}) {
            Bytes before(size);
            for (uint8_t &b : before) b = random_byte();
            for (const Bytes &frame : frames_after(before)) {
                // A marker in video memory shows every word a kernel wrote
                // that the rule would not have.
                Bytes want(size, 0xA5);
                reference_flip(frame.data(), before.data(), want.data(), size);
                for (int kernel : runnable_kernels()) {
                    Bytes back(size + misalign), previous(size + misalign), vram(size + misalign + 8, 0x5A);
                    // Algorithms rather than memcpy: the frame of no bytes has no buffer.
                    std::copy(frame.begin(), frame.end(), back.begin() + misalign);
                    std::copy(before.begin(), before.end(), previous.begin() + misalign);
                    std::fill_n(vram.begin() + misalign, size, uint8_t{0xA5});
                    flip_kernel(kernel)(back.data() + misalign, previous.data() + misalign, vram.data() + misalign,
                                        size);
                    ASSERT_TRUE(std::equal(want.begin(), want.end(), vram.begin() + misalign))
                        << flip_kernel_name(kernel) << ", size " << size << ", offset " << misalign;
                    for (size_t i = 0; i < misalign; i++) ASSERT_EQ(vram[i], 0x5A) << "wrote before the frame";
                    for (size_t i = misalign + size; i < vram.size(); i++)
                        ASSERT_EQ(vram[i], 0x5A) << flip_kernel_name(kernel) << " wrote past the frame";
                }
            }
        }
    }
}

class FlipChoice : public ::testing::Test {
  protected:
    void TearDown() override { unsetenv("POLYDRIVE_FLIP"); }
};

// The widest runnable kernel within the limit; the variable narrows it
// further, never widens it; a kernel the processor lacks falls to the next.
TEST_F(FlipChoice, WidestRunnableWithinTheLimitAndTheVariable) {
    const int widest = runnable_kernels().back();
    EXPECT_EQ(flip_choose(FLIP_KERNELS - 1), widest);
    EXPECT_EQ(flip_choose(FLIP_KERNELS + 5), widest);
    EXPECT_EQ(flip_choose(FLIP_PORTABLE), FLIP_PORTABLE);
    EXPECT_EQ(flip_choose(-1), FLIP_PORTABLE);
    setenv("POLYDRIVE_FLIP", flip_kernel_name(FLIP_128), 1);
    EXPECT_EQ(flip_choose(FLIP_KERNELS - 1), FLIP_128);
    EXPECT_EQ(flip_choose(FLIP_PORTABLE), FLIP_PORTABLE);
    setenv("POLYDRIVE_FLIP", "avx512", 1);
    EXPECT_EQ(flip_choose(FLIP_KERNELS - 1), widest);
    EXPECT_EQ(flip_kernel(FLIP_KERNELS), nullptr);
    EXPECT_STREQ(flip_kernel_name(FLIP_KERNELS), "?");
}

TEST_F(FlipChoice, UnknownNameIsOneFatalLine) {
    setenv("POLYDRIVE_FLIP", "avx9000", 1);
    EXPECT_FATAL(flip_choose(FLIP_KERNELS - 1), "POLYDRIVE_FLIP names no flip kernel: avx9000 \\(portable");
}

}   // namespace
