// fuzz/fuzz_levelfmt.cpp: the level tools' formats on any bytes.
//
// As binary, any world or model that decodes must encode back to the same
// bytes, and, unless the game would refuse it (which levelc refuses too), its
// text must parse back to the same file. As text, anything that
// parses must print and parse again to the same bytes. Sources naming an OBJ
// file are skipped: the fuzzer must not read the file system.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "assetfmt/level.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}

// print → parse → encode reproduces the encoding of `file`.
void require_text_round_trip(const LevelFile &file) {
    LevelFile again;
    std::string error;
    require(level_parse(level_print(file), "printed", &again, &error));
    require(level_encode(again) == level_encode(file));
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::vector<uint8_t> bytes(data, data + size);
    for (LevelKind kind : {LevelKind::World, LevelKind::Model}) {
        LevelFile file;
        std::string error;
        if (!level_decode(bytes, kind, &file, &error)) continue;
        require(level_encode(file) == bytes);
        if (level_problems(file).empty()) require_text_round_trip(file);
    }
    const std::string text(reinterpret_cast<const char *>(data), size);
    if (text.find("obj") != std::string::npos) return 0;
    LevelFile file;
    std::string error;
    if (level_parse(text, "fuzz.world", &file, &error)) require_text_round_trip(file);
    return 0;
}
