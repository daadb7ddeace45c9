// Arbitrary bytes as the car model lib/car1.3do, loaded through the real
// cache by a world with two player starts around an ordinary object. Every
// input must either load or end with a fatal error.
#include "fuzz/fuzz_level.h"

namespace {

using fuzz_level::put;

void put_start(std::string &w, const char *name) {
    for (int32_t v : {0, 0, 0, -500, 0, 90, 0}) put(w, v);
    w.append(name);
    w.push_back('\0');
}

void write_level() {
    std::string w;
    put_start(w, "Human0");
    // One triangle object named "crate" between the two starts.
    for (int32_t v :
         {3, 2, 0, 0, 0, 256, 0, 0, 0, 256, 0, 1, 0x0310, 0, 1, 2, 0, 0, 0, 800, 0, 0, 0})
        put(w, v);
    w.append("crate");
    w.push_back('\0');
    put(w, 50);
    put_start(w, "Human1");
    put(w, -1);
    fuzz_level::write_file("lib/level1.3dw", w.data(), w.size());
}

// Two cars and the crate; only the crate is drawn.
bool two_cars_and_the_crate(int bodies) {
    const Mesh *drawn = current_camera->meshes;
    return bodies == 3 && drawn != nullptr && drawn->next == nullptr;
}

}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const bool ready = fuzz_level::prepare("fuzz-model", write_level);
    (void)ready;
    fuzz_level::run("lib/car1.3do", data, size, two_cars_and_the_crate);
    return 0;
}
