// platform/flip.cpp: the flip kernels and the choice among them.
#include "platform/flip.h"

#include <cstdlib>
#include <cstring>

#if defined(__x86_64__)
#include <immintrin.h>
#endif
#if defined(__wasm_simd128__)
#include <wasm_simd128.h>
#endif

#include "base/fatal.h"

namespace {

constexpr size_t BLOCK_BYTES = 64;

// The words from offset `from` to the end, one by one, and a last partial
// word as one unit: the tail of every kernel, and all of the portable one's
// work inside a changed block. memcpy does the loads and stores, so no
// buffer is read through another type and no alignment is assumed.
void copy_changed_tail(const uint8_t *back, const uint8_t *previous, uint8_t *vram, size_t from,
                       size_t bytes) {
    size_t at = from;
    for (; bytes - at >= 4; at += 4) {
        uint32_t word, old_word;
        std::memcpy(&word, back + at, 4);
        std::memcpy(&old_word, previous + at, 4);
        if (word != old_word) std::memcpy(vram + at, &word, 4);
    }
    if (at < bytes && std::memcmp(back + at, previous + at, bytes - at) != 0)
        std::memcpy(vram + at, back + at, bytes - at);
}

// Portable: a block without a change is skipped after one wide compare, the
// rest go word by word.
void copy_changed_portable(const uint8_t *back, const uint8_t *previous, uint8_t *vram,
                           size_t bytes) {
    size_t offset = 0;
    for (; bytes - offset >= BLOCK_BYTES; offset += BLOCK_BYTES) {
        uint64_t now[8], before[8];
        std::memcpy(now, back + offset, BLOCK_BYTES);
        std::memcpy(before, previous + offset, BLOCK_BYTES);
        uint64_t differ = 0;
        for (int i = 0; i < 8; i++) differ |= now[i] ^ before[i];
        if (differ != 0) copy_changed_tail(back, previous, vram, offset, offset + BLOCK_BYTES);
    }
    copy_changed_tail(back, previous, vram, offset, bytes);
}

#if defined(__x86_64__)
// SSE2, which every x86-64 processor has: four 16-byte compares per block.
// A changed block is stored whole, each word chosen from the frame where it
// changed and from video memory where it did not, with no branch per word.
void copy_changed_sse2(const uint8_t *back, const uint8_t *previous, uint8_t *vram, size_t bytes) {
    size_t offset = 0;
    for (; bytes - offset >= BLOCK_BYTES; offset += BLOCK_BYTES) {
        __m128i now[4], same[4];
        for (int k = 0; k < 4; k++) {
            now[k] = _mm_loadu_si128(reinterpret_cast<const __m128i *>(back + offset + 16 * k));
            __m128i before =
                _mm_loadu_si128(reinterpret_cast<const __m128i *>(previous + offset + 16 * k));
            same[k] = _mm_cmpeq_epi32(now[k], before);
        }
        __m128i all =
            _mm_and_si128(_mm_and_si128(same[0], same[1]), _mm_and_si128(same[2], same[3]));
        if (_mm_movemask_epi8(all) == 0xFFFF) continue;
        for (int k = 0; k < 4; k++) {
            auto *to = reinterpret_cast<__m128i *>(vram + offset + 16 * k);
            __m128i kept = _mm_and_si128(same[k], _mm_loadu_si128(to));
            _mm_storeu_si128(to, _mm_or_si128(kept, _mm_andnot_si128(same[k], now[k])));
        }
    }
    copy_changed_tail(back, previous, vram, offset, bytes);
}

// AVX2: the same with two 32-byte halves and a byte blend.
__attribute__((target("avx2"))) void copy_changed_avx2(const uint8_t *back, const uint8_t *previous,
                                                       uint8_t *vram, size_t bytes) {
    size_t offset = 0;
    for (; bytes - offset >= BLOCK_BYTES; offset += BLOCK_BYTES) {
        __m256i now[2], same[2];
        for (int k = 0; k < 2; k++) {
            now[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i *>(back + offset + 32 * k));
            __m256i before =
                _mm256_loadu_si256(reinterpret_cast<const __m256i *>(previous + offset + 32 * k));
            same[k] = _mm256_cmpeq_epi32(now[k], before);
        }
        if (_mm256_movemask_epi8(_mm256_and_si256(same[0], same[1])) == -1) continue;
        for (int k = 0; k < 2; k++) {
            auto *to = reinterpret_cast<__m256i *>(vram + offset + 32 * k);
            _mm256_storeu_si256(to, _mm256_blendv_epi8(now[k], _mm256_loadu_si256(to), same[k]));
        }
    }
    copy_changed_tail(back, previous, vram, offset, bytes);
}

// AVX-512: one compare gives the mask of changed words, and a masked store
// writes exactly those; masked-off words of video memory are not touched.
__attribute__((target("avx512f"))) void copy_changed_avx512(const uint8_t *back,
                                                            const uint8_t *previous, uint8_t *vram,
                                                            size_t bytes) {
    size_t offset = 0;
    for (; bytes - offset >= BLOCK_BYTES; offset += BLOCK_BYTES) {
        __m512i now = _mm512_loadu_si512(back + offset);
        __m512i before = _mm512_loadu_si512(previous + offset);
        _mm512_mask_storeu_epi32(vram + offset, _mm512_cmpneq_epi32_mask(now, before), now);
    }
    copy_changed_tail(back, previous, vram, offset, bytes);
}
#endif

#if defined(__wasm_simd128__)
// WebAssembly SIMD: as SSE2, with a bit select for the choice of words. The
// test for a change is one any-true of the blocks' differences, which takes
// fewer instructions than an all-true of their equalities; the per-word
// equalities are worked out only for a block that changed.
void copy_changed_simd128(const uint8_t *back, const uint8_t *previous, uint8_t *vram,
                          size_t bytes) {
    size_t offset = 0;
    for (; bytes - offset >= BLOCK_BYTES; offset += BLOCK_BYTES) {
        v128_t now[4], before[4];
        for (int k = 0; k < 4; k++) {
            now[k] = wasm_v128_load(back + offset + 16 * k);
            before[k] = wasm_v128_load(previous + offset + 16 * k);
        }
        const v128_t differ = wasm_v128_or(
            wasm_v128_or(wasm_v128_xor(now[0], before[0]), wasm_v128_xor(now[1], before[1])),
            wasm_v128_or(wasm_v128_xor(now[2], before[2]), wasm_v128_xor(now[3], before[3])));
        if (!wasm_v128_any_true(differ)) continue;
        for (int k = 0; k < 4; k++) {
            uint8_t *to = vram + offset + 16 * k;
            const v128_t same = wasm_i32x4_eq(now[k], before[k]);
            wasm_v128_store(to, wasm_v128_bitselect(wasm_v128_load(to), now[k], same));
        }
    }
    copy_changed_tail(back, previous, vram, offset, bytes);
}
#endif

const char *const KERNEL_NAMES[FLIP_KERNELS] = {
#if defined(__wasm_simd128__)
    "portable", "simd128", "avx2", "avx512"
#else
    "portable", "sse2", "avx2", "avx512"
#endif
};

}   // namespace

FlipKernel flip_kernel(int kernel) {
    switch (kernel) {
        case FLIP_PORTABLE: return copy_changed_portable;
#if defined(__x86_64__)
        case FLIP_128: return copy_changed_sse2;
        case FLIP_AVX2:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx2") ? copy_changed_avx2 : nullptr;
        case FLIP_AVX512:
            __builtin_cpu_init();
            return __builtin_cpu_supports("avx512f") ? copy_changed_avx512 : nullptr;
#elif defined(__wasm_simd128__)
        case FLIP_128: return copy_changed_simd128;
#endif
        default: return nullptr;
    }
}

const char *flip_kernel_name(int kernel) {
    return kernel >= 0 && kernel < FLIP_KERNELS ? KERNEL_NAMES[kernel] : "?";
}

int flip_choose(int widest_allowed) {
    if (const char *named = std::getenv("POLYDRIVE_FLIP")) {
        int found = -1;
        for (int k = 0; k < FLIP_KERNELS; k++)
            if (std::strcmp(named, KERNEL_NAMES[k]) == 0) found = k;
        if (found < 0)
            fatal_error("POLYDRIVE_FLIP names no flip kernel: %.40s (portable, %s, avx2, avx512)",
                        named, KERNEL_NAMES[FLIP_128]);
        if (widest_allowed > found) widest_allowed = found;
    }
    int kernel = widest_allowed < FLIP_KERNELS ? widest_allowed : FLIP_KERNELS - 1;
    while (kernel > FLIP_PORTABLE && flip_kernel(kernel) == nullptr) kernel--;
    return kernel < FLIP_PORTABLE ? FLIP_PORTABLE : kernel;
}
