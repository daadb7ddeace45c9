// Arbitrary bytes as the world file lib/level1.3dw, loaded through the real
// cache with a good car model and a bitmap beside it. Every input must either
// load into consistent records or end with a fatal error.
#include "fuzz/fuzz_level.h"

namespace {

using fuzz_level::put;

void write_car_and_bitmaps() {
    // A tetrahedron car.
    std::string car;
    for (int32_t v : {4, 4, -50, 0, -100, 50, 0, -100, 0, 0, 100, 0, 60, 0}) put(car, v);
    for (int32_t v : {2, 0x0310, 0, 1, 3, 0x0310, 1, 2, 3, 1, 0x0310, 2, 0, 3, 77}) put(car, v);
    fuzz_level::write_file("lib/car1.3do", car.data(), car.size());
    // Bitmaps under the names the seed levels give their sprites.
    const uint8_t bitmap[] = {2, 0, 0, 0, 2, 0, 0, 0, 1, 2, 255, 3};
    for (const char *name :
         {"lib/tree.bm", "lib/tree.bit", "lib/pine.bit", "lib/sign.bit", "lib/flag.bit"})
        fuzz_level::write_file(name, bitmap, sizeof bitmap);
}

bool any_consistent_level(int) { return true; }

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = fuzz_level::prepare("fuzz-world", write_car_and_bitmaps);
    (void)ready;
    fuzz_level::run("lib/level1.3dw", data, size, any_consistent_level);
    return 0;
}
