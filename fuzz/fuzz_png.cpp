// fuzz/fuzz_png.cpp: any bytes as bitmapc's PNG input. A picture is either
// refused with one line or becomes a bitmap the game can hold: a power-of-two
// width, sides within 1..32767, the header's size, and at most the pool.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "assetfmt/bitmap.h"
#include "platform/video.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<uint8_t> out;
    std::string error;
    if (!bitmap_from_png(data, size, palette_default(), &out, &error)) {
        require(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    require(out.size() >= 8 && static_cast<long>(out.size()) <= BITMAP_BYTES_MAX);
    int32_t w = 0, h = 0;
    std::memcpy(&w, out.data(), 4);
    std::memcpy(&h, out.data() + 4, 4);
    require(w >= 1 && h >= 1 && w <= BITMAP_SIZE_MAX && h <= BITMAP_SIZE_MAX);
    require((w & (w - 1)) == 0 && out.size() == 8 + size_t(w) * size_t(h));
    return 0;
}
