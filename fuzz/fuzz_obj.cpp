// fuzz/fuzz_obj.cpp: any text as a Wavefront OBJ file imported into a model
// (no MTL file is read: the fuzzer must not touch the file system). An import
// either fails with one line or adds at least one face, every corner inside
// the object, and the model it makes encodes, decodes and prints back.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "assetfmt/level.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 16) return 0;
    const std::string text(reinterpret_cast<const char *>(data), size);
    LevelFile file;
    file.kind = LevelKind::Model;
    file.records.emplace_back();
    LevelObject &o = file.records.back().object;
    o.mass = 1;
    ObjImport options;
    options.scale = 1 + (size % 7 == 0 ? 1000 : 0);
    std::string error;
    if (!level_add_obj_text(text, "fuzz.obj", "", options, size % 2 == 0, &o, &error)) {
        require(!error.empty() && error.find('\n') == std::string::npos);
        return 0;
    }
    require(!o.flat.empty() || !o.smooth.empty());
    for (const auto *group : {&o.flat, &o.smooth})
        for (const LevelFace &f : *group)
            for (int32_t i : f.index) require(i >= 0 && i < o.vertex_count());
    o.spare = level_auto_spare(o);
    const std::vector<uint8_t> bytes = level_encode(file);
    LevelFile back;
    require(level_decode(bytes, LevelKind::Model, &back, &error));
    require(level_encode(back) == bytes);
    return 0;
}
