// fuzz/fuzz_keyscript.cpp: key scripts on any bytes. A script that parses
// prints back to text that parses to the same runs; the keys of a frame are
// those of the run it falls in; rebuilding the script frame by frame with
// keyscript_append gives the same keys in every frame.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "frame/keyscript.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    KeyScript script;
    std::string error;
    if (!keyscript_parse(reinterpret_cast<const char *>(data), size, "fuzz", &script, &error)) {
        require(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    const std::string text = keyscript_print(script);
    KeyScript again;
    require(keyscript_parse(text.data(), text.size(), "printed", &again, &error));
    require(again.frames == script.frames && again.runs.size() == script.runs.size());
    int64_t first = 1;
    for (size_t i = 0; i < script.runs.size(); i++) {
        const KeyRun &r = script.runs[i];
        require(again.runs[i].count == r.count && again.runs[i].keys == r.keys);
        require(r.count >= 0 && r.count <= KEYSCRIPT_COUNT_MAX);
        if (r.count > 0) {
            require(keyscript_keys_at(script, first) == r.keys);
            require(keyscript_keys_at(script, first + r.count - 1) == r.keys);
        }
        first += r.count;
    }
    require(keyscript_keys_at(script, first) == 0 && keyscript_keys_at(script, 0) == 0);
    // Frame by frame, for scripts short enough to walk.
    if (script.frames <= 4096) {
        KeyScript built;
        for (int64_t f = 1; f <= script.frames; f++)
            keyscript_append(&built, keyscript_keys_at(script, f));
        require(built.frames == script.frames);
        for (int64_t f = 1; f <= script.frames + 1; f++)
            require(keyscript_keys_at(built, f) == keyscript_keys_at(script, f));
    }
    return 0;
}
