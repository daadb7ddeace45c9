// Shared by the tests that write world and model files byte by byte.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

using V3 = std::array<int32_t, 3>;

struct Bytes : std::vector<uint8_t> {   // little-endian words and NUL-terminated strings
    using vector::vector;
    Bytes &i(auto... words) {
        for (const auto u : {static_cast<uint32_t>(words)...})
            for (int k = 0; k < 32; k += 8) push_back(static_cast<uint8_t>(u >> k));
        return *this;
    }
    Bytes &v(const V3 &p) { return i(p[0], p[1], p[2]); }
    Bytes &s(const std::string &t) { return raw({t.begin(), t.end()}).raw({0}); }
    Bytes &raw(const std::vector<uint8_t> &m) {
        insert(end(), m.begin(), m.end());
        return *this;
    }
};

struct FaceRec {
    uint32_t flags;
    int32_t a, b, c;
};
struct Obj {   // one object: a triangle facing +z unless told otherwise
    std::vector<V3> verts{{0, 0, 0}, {256, 0, 0}, {0, 256, 0}};
    int32_t spare = 4;
    std::vector<FaceRec> flat{{0x0310, 0, 1, 2}}, smooth{};
    V3 pos{}, ang{};
    std::string name = "thing";
    int32_t mass = 10;
};

// An object record (its vertex count is the kind word), or a model file: no position or name.
inline Bytes &object(Bytes &out, const Obj &o, bool record = true) {
    out.i(static_cast<int32_t>(o.verts.size()), o.spare);
    for (const V3 &p : o.verts) out.v(p);
    for (const auto *group : {&o.flat, &o.smooth}) {
        out.i(static_cast<int32_t>(group->size()));
        for (const FaceRec &f : *group) out.i(f.flags, f.a, f.b, f.c);
    }
    if (record) out.v(o.pos).v(o.ang).s(o.name);
    return out.i(o.mass);
}
inline Bytes model(const Obj &o, Bytes out = {}) { return object(out, o, false); }
inline Bytes world(const std::vector<Obj> &objects, Bytes out = {}) {   // the objects and the end mark
    for (const Obj &o : objects) object(out, o);
    return out.i(-1);
}
