// platform/flip.h: the kernels that bring a finished frame to video memory by
// storing the 32-bit words in which it differs from the frame shown before.
//
// Every kernel leaves video memory exactly as this rule does: for each word
// at byte offsets 0, 4, 8 and so on, where back differs from previous, video
// memory gets back's word; every other word keeps the value video memory
// holds. A last partial word (a size that is not a multiple of 4) is one unit
// of the bytes that are left. Sizes are in bytes and any size is exact; the
// vector kernels work in 64-byte blocks and finish the rest word by word.
// Buffers need no alignment; video memory must not overlap the other two.
//
// The kernels differ only in how wide they compare. A block without a change
// is never written. The 128- and 256-bit kernels store a mixed block whole,
// its unchanged words with the values read from video memory, since their
// masked stores are slower than a read and a full store; the contents of
// video memory are the same as if only the changed words had been stored.
//
// The kernel numbers order the kernels by width, so "no wider than" is a
// comparison. Which ones exist depends on the build and the processor.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr int FLIP_PORTABLE = 0;   // plain C++, everywhere
constexpr int FLIP_128 = 1;        // SSE2 on x86-64, SIMD128 in WebAssembly
constexpr int FLIP_AVX2 = 2;       // x86-64 with AVX2
constexpr int FLIP_AVX512 = 3;     // x86-64 with AVX-512F
constexpr int FLIP_KERNELS = 4;

using FlipKernel = void (*)(const uint8_t *back, const uint8_t *previous, uint8_t *vram,
                            size_t bytes);

// The kernel with this number, or null where the build or the processor
// cannot run it (and for numbers out of range).
FlipKernel flip_kernel(int kernel);

// "portable", "sse2" or "simd128", "avx2", "avx512"; "?" out of range.
const char *flip_kernel_name(int kernel);

// The widest kernel that runs here, no wider than widest_allowed, nor than
// the kernel that the environment variable POLYDRIVE_FLIP names (by its
// name, for tests and benchmarks on a processor that has more). A name that
// is no kernel's ends the program with one line.
int flip_choose(int widest_allowed);
