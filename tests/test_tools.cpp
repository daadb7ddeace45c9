// The asset tools' formats: binary and text round trips, mistakes named by file and line,
// shorthands and OBJ files with their fronts outside, and pictures mapped to the palette.
// (levelc's output read by the game's loaders is held by the shipped-level tests.)
#include <gtest/gtest.h>

#include <unistd.h>

#include <array>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/video.h"
#include "tools/assetfmt/bitmap.h"
#include "tools/assetfmt/level.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
constexpr auto npos = std::string::npos;

// The parse error, "" when the text parses (into *f when given).
std::string parse_error(const std::string &text, LevelFile *f = nullptr) {
    LevelFile scratch;
    std::string error;
    return level_parse(text, "src.world", f != nullptr ? f : &scratch, &error) ? "" : error;
}
LevelFile parse_ok(const std::string &text) {
    LevelFile f;
    EXPECT_EQ(parse_error(text, &f), "");
    return f;
}
LevelObject parse_object(const std::string &lines) {
    return parse_ok("world\nobject B\n mass 1\n" + lines + "end\n").records.at(0).object;
}
std::string decode_error(const Bytes &bytes, LevelFile *out, LevelKind kind = LevelKind::World) {
    std::string error;
    return level_decode(bytes, kind, out, &error) ? "" : error;
}

// The normal the mesh code computes for a face, in exact integers.
std::array<int64_t, 3> normal_of(const LevelObject &o, const LevelFace &f) {
    auto v = [&](int i, int c) { return int64_t{o.vertices[3 * f.index[i] + c]}; };
    int64_t e1[3], e2[3];
    for (int c = 0; c < 3; c++) {
        e1[c] = v(1, c) - v(0, c);
        e2[c] = v(2, c) - v(0, c);
    }
    return {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2], e1[0] * e2[1] - e2[0] * e1[1]};
}
// Every face's front points away from the centre of the vertices from `first` on.
void expect_fronts_outside(const LevelObject &o, int first = 0) {
    double c[3] = {0, 0, 0};
    for (int i = 3 * first; i < 3 * o.vertex_count(); i++) c[i % 3] += o.vertices[i] / double(o.vertex_count() - first);
    for (const auto *group : {&o.flat, &o.smooth})
        for (const LevelFace &f : *group) {
            const auto n = normal_of(o, f);
            const int32_t *p = &o.vertices[3 * f.index[0]];
            EXPECT_GT(n[0] * (p[0] - c[0]) + n[1] * (p[1] - c[1]) + n[2] * (p[2] - c[2]), 0)
                << "face " << f.index[0] << " " << f.index[1] << " " << f.index[2];
        }
}

const char SAMPLE[] = R"(world
start Human1 0 0 0
object "Big Road"   # quoted name

  position 1 -6000 3
  angles 0 90 0
  mass 500
  v 0 0 0
  v 0 0 1000
  v 1000 0 0
  face grey 200 0 1 2
  smooth
  face 0x20000a11 0 2 1
end
object tree.bit
  mass 1
  v 0 0 0
  sprite 3 0
end
)";

// Each test in a fresh temporary working directory.
class TempDirTest : public ::testing::Test {
  protected:
    void SetUp() override {
        fs::create_directories(dir);
        fs::current_path(dir);
    }
    void TearDown() override {
        fs::current_path(old);
        fs::remove_all(dir);
    }
    fs::path old = fs::current_path();
    fs::path dir = fs::temp_directory_path() / ("tools-" + std::to_string(getpid()));
};

}   // namespace

// Whatever the bytes hold, they decode, and the printed text compiles, back to them.
TEST(LevelText, PrintParseAndDecodeReproduceTheBytes) {
    LevelFile f = parse_ok(SAMPLE), back;
    EXPECT_EQ(f.records[2].object.flat[0].flags, 0x40030000u);   // sprite 3 0
    const std::string plain = level_print(f);                    // ramp names, sprite lines, quoted names
    for (const char *line : {"  face grey 200 0 1 2\n", "  face 0x20000a11 0 2 1\n", "  sprite 3 0\n",
                             "object \"Big Road\"\n", "start Human1 0 0 0 0 0 0\n"})
        EXPECT_NE(plain.find(line), npos) << plain;
    LevelObject &o = f.records[1].object;
    o.flat.push_back({0x40050000, {1, 2, 0}});   // sprite with stray corners: raw form
    o.flat.push_back({0x00000F7F, {0, 1, 2}});   // ramp 15: a number
    o.flat.push_back({0x80000000, {2, 1, 0}});   // a high bit: raw form
    o.name = "odd \"name\"\\ \x01 #x";
    o.spare = 17;
    f.records[0].start.name = std::string(125, '\xff');   // 500 characters once escaped
    f.trailing = Bytes(40, 0xAB);
    const LevelFile model = parse_ok("model\nmass 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\nface red 1 0 1 2\ntrailing 00ff\n");
    for (const LevelFile &file : {f, model}) {
        const std::string text = level_print(file);
        EXPECT_EQ(level_encode(parse_ok(text)), level_encode(file)) << text;
        EXPECT_EQ(level_print(parse_ok(text)), text);
        EXPECT_EQ(decode_error(level_encode(file), &back, file.kind), "");
        EXPECT_EQ(level_encode(back), level_encode(file));
    }
    EXPECT_EQ(back.trailing, (Bytes{0x00, 0xFF}));
}

TEST(LevelBinary, BrokenFilesAreRefusedWithTheOffset) {
    LevelFile f = parse_ok(SAMPLE), out;
    const Bytes good = level_encode(f);
    for (auto end = good.begin(); end != good.end(); ++end)   // cut anywhere: never read past it
        EXPECT_EQ(decode_error({good.begin(), end}, &out).rfind("offset ", 0), 0u);
    Bytes big = good;   // a face count far beyond the bytes left
    big[35 + 8 + 36] = 0xFF;
    big[35 + 8 + 36 + 3] = 0x7F;
    EXPECT_NE(decode_error(big, &out).find("does not fit the file"), npos);
    // A kind word below -1 is neither an object nor a start nor the end.
    EXPECT_NE(decode_error({0xFE, 0xFF, 0xFF, 0xFF}, &out).find("vertex count -2"), npos);
    f.records[0].start.name = std::string(125, 'a');
    EXPECT_EQ(decode_error(level_encode(f), &out), "");
    f.records[0].start.name += 'a';
    EXPECT_NE(decode_error(level_encode(f), &out).find("longer than 125"), npos);
}

TEST(LevelText, MistakesNameTheFileAndLine) {
    const std::string a = "world\nobject A\n  mass 1\n  v 0 0 0\n", b = "world\nobject A\n  ";
    const std::pair<std::string, const char *> cases[] = {
        {a + "  face red 1 0 0 1\nend\n", "src.world:5: vertex 1 does not exist"},
        {a, "src.world:2: object A has no 'end'"},
        {b + "v 0 0 0\n  sprite 0 0\nend\n", "src.world:2: object A has no mass"},
        {a + "end\n", "src.world:2: object A has no face"},
        {b + "mass 0\n", "src.world:3: mass must be positive"},
        {a + "  face pink 1 0 0 0\n", "src.world:5: unknown colour ramp 'pink'"},
        {a + "  face red 256 0 0 0\n", "src.world:5: reflectivity 256 is outside 0..255"},
        {a + "  sprite 15 0\n", "src.world:5: sprite scale 15 is outside 0..14"},
        {b + "v 0 0 2147483648\n", "src.world:3: coordinate 2147483648 is outside"},
        {b + "box 0 0 0 10 0 10 red 1\n", "src.world:3: a box needs a size on every axis"},
        {b + "box 0 0 0 10 10 10 red 1 skip roof\n", "src.world:3: unknown box side 'roof'"},
        {"world\nobject A\n mass 1\n obj nowhere.obj red 1\nend\n", "src.world:4: "},   // no file
        {"world\nstart \"Human1 0 0 0\n", "src.world:2: unterminated quoted string"},
        {std::string("world\nstart Hu\0\0U2 0 0 0\n", 25), "src.world:2: a NUL byte in the source"},
        {"world\nstart " + std::string(126, 'n') + " 0 0 0\n", "src.world:2: name longer than 125"},
        {"world\nfloor 1\n", "src.world:2: unknown word 'floor' outside an object"},
        {"model\nposition 0 0 0\n", "src.world:2: a model has no position"},
        {"model\nstart Human1 0 0 0\n", "src.world:2: a model holds one object"},
        {"\n# nothing\n", "src.world:3: empty source"},
    };
    for (const auto &[text, message] : cases)
        EXPECT_EQ(parse_error(text).rfind(message, 0), 0u) << "got: " << parse_error(text);
}

TEST(LevelShorthands, BoxesQuadsAndSpareSlots) {
    LevelObject o = parse_object(" box 10 -5 7 -30 40 100 cyan 9\n");
    EXPECT_EQ((std::array{o.vertex_count(), int(o.flat.size()), o.spare}), (std::array{8, 12, 24}));
    for (const LevelFace &face : o.flat) EXPECT_EQ(face.flags, 0x309u);
    expect_fronts_outside(o);
    o = parse_object(
        " v 5 5 5\n smooth\n box 0 0 0 1 1 1 red 1 skip top bottom\n"
        " flat\n quad blue 2 1 2 3 4\n");   // four walls smooth, a quad flat
    ASSERT_EQ((std::array{o.vertex_count(), int(o.smooth.size()), int(o.flat.size())}), (std::array{9, 8, 2}));
    for (const LevelFace &face : o.smooth) {
        EXPECT_EQ(normal_of(o, face)[1], 0);            // no face looks up or down
        for (int32_t i : face.index) EXPECT_GE(i, 1);   // after the lone vertex
    }
    EXPECT_EQ((std::array{o.flat[0].index[0], o.flat[0].index[2], o.flat[1].index[1], o.flat[1].index[2]}),
              (std::array{1, 3, 3, 4}));
    EXPECT_EQ(parse_object(" v 0 0 0\n sprite 1 0\n").spare, 0);
    EXPECT_EQ(parse_object(" spare 3\n box 0 0 0 1 1 1 red 1\n").spare, 3);
}

// A unit cube as OBJ files have it: right-handed, counter-clockwise fronts.
TEST_F(TempDirTest, ObjImportKeepsWindingMaterialsSmoothingAndScale) {
    std::ofstream("cube.obj") << "mtllib cube.mtl\nv 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\n"
                                 "v 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\nusemtl yellow\n"
                                 "f 1 4 3 2\nf 5 6 7 8\nusemtl other\nf 1 2 6 5\nf 4 8 7 3\n"
                                 "s 1\nf 1 5 8 4\nf 2 3 7 6\n";
    std::ofstream("cube.mtl") << "newmtl yellow\nKd 1 1 0\nnewmtl other\nKd 1 0 0\n";
    const LevelObject o = parse_object(" v 9 9 9\n obj cube.obj grey 77 scale 100\n");
    ASSERT_EQ(o.vertex_count(), 9);
    // z is negated, positions scaled; indices follow the vertex already there.
    EXPECT_EQ((std::array{o.vertices[3 * 7 + 0], o.vertices[3 * 7 + 2]}), (std::array{100, -100}));
    ASSERT_EQ(o.flat.size(), 8u);
    ASSERT_EQ(o.smooth.size(), 4u);
    EXPECT_EQ(o.flat[0].flags, 0x44Du);   // material "yellow": ramp 4
    EXPECT_EQ(o.flat[7].flags, 0x54Du);   // other materials: the given ramp
    expect_fronts_outside(o, 1);
}

// A face of more than eight corners becomes a fan from its first corner, in
// the file's order reversed as every OBJ face is; a smaller one goes to the
// OBJ reader as before; a face naming no vertex is refused, not dropped.
TEST(ObjImport, LargeFacesAreFansAndEveryCornerNamesAVertex) {
    std::string ring;
    for (int k = 0; k < 10; k++)
        ring += "v " + std::to_string(k < 5 ? k : 9 - k) + " " + std::to_string(k < 5 ? 0 : 3) + " 0\n";
    LevelObject o;
    std::string error;
    ASSERT_TRUE(level_add_obj_text(ring + "f 1 2 3 4 5 6 7 8 9 10\n", "r.obj", "", {}, false, &o, &error)) << error;
    ASSERT_EQ(o.flat.size(), 8u);
    for (int k = 1; k <= 8; k++) {
        const LevelFace &f = o.flat[static_cast<size_t>(k - 1)];
        EXPECT_EQ((std::array{f.index[0], f.index[1], f.index[2]}), (std::array{0, k + 1, k}));
    }
    LevelObject eight;
    ASSERT_TRUE(level_add_obj_text(ring + "f 1 2 3 4 5 6 7 8\n", "r.obj", "", {}, false, &eight, &error));
    EXPECT_EQ(eight.flat.size(), 6u);
    const std::pair<std::string, std::string> refused[] = {
        {"f 1 2 3 11\n", "r.obj:11: a face uses vertex 11 of 10"},
        {"f 1 2 0 4\n", "r.obj:11: a face uses a vertex that does not exist ('0')"},
        {"f -11 1 2 3\n", "r.obj:11: a face uses a vertex that does not exist ('-11')"},
        {"f 1 2 3 4 5 6 10 9 8 7\n", "r.obj:11: a face of 10 corners that is not convex"},
    };
    for (const auto &[face, message] : refused) {
        LevelObject x;
        EXPECT_FALSE(level_add_obj_text(ring + face, "r.obj", "", {}, false, &x, &error)) << face;
        EXPECT_EQ(error.rfind(message, 0), 0u) << error;
    }
    // The room given bounds the vertices and triangles before any is made.
    ObjImport tight;
    tight.room_bytes = 12 * 10 + 16 * 8 - 1;
    LevelObject x;
    EXPECT_FALSE(level_add_obj_text(ring + "f 1 2 3 4 5 6 7 8 9 10\n", "r.obj", "", tight, false, &x, &error));
    EXPECT_NE(error.find("r.obj:11: its vertices and faces take more than the 247 bytes"), npos) << error;
}

// The pool a world shares with its car, and a bitmap with the smallest level
// naming it, at the exact bound, under both limit sets.
TEST(LevelPool, FilesFitTogetherUpToThePoolInForce) {
    for (const Limits *limits : {&LIMITS_CLASSIC, &LIMITS_RAISED}) {
        limits_select(*limits);
        const int64_t pool = limits->pool_size;
        EXPECT_EQ(level_pool_together("w", pool - 532, "car", 532), "");
        const std::string over = level_pool_together("w", pool - 531, "car", 532);
        EXPECT_EQ(over.rfind("w (" + std::to_string(pool - 531) + " bytes) and car (532 bytes) do not fit the " +
                                 limits->name + " " + std::to_string(pool) + "-byte pool together",
                             0),
                  0u)
            << over;
        EXPECT_EQ(over.find("--limits raised") != npos, limits == &LIMITS_CLASSIC) << over;
    }
    limits_select(LIMITS_CLASSIC);
    EXPECT_NE(level_pool_together("w", 1, "car", int64_t{16} << 20).find("classic"), npos);
    EXPECT_EQ(level_pool_together("w", 1, "car", int64_t{16} << 20).find("--limits raised"), npos);
    // The smallest world naming a bitmap is one sprite object and the end mark.
    const LevelFile smallest = parse_ok("world\nobject tree.bit\n mass 1\n v 0 0 0\n sprite 0 0\nend\n");
    EXPECT_EQ(level_smallest_naming("tree.bit"), static_cast<int64_t>(level_encode(smallest).size()));
}

// A start's angles are kept but unused: a warning naming the line, for any
// angle that is not 0.
TEST(LevelText, AStartsAnglesAreKeptWithAWarning) {
    const LevelFile f = parse_ok("world\nstart Human1 1 2 3\nstart Human0 1 2 3 0 0 0\n\nstart Human1 0 0 0 0 -1 0\n");
    ASSERT_EQ(f.warnings.size(), 1u);
    EXPECT_EQ(f.warnings[0],
              "src.world:5: warning: the game does not use a start's angles (0 -1 0): every car "
              "starts facing +z; the file keeps them");
    EXPECT_EQ(f.records[2].start.angles[1], -1);
}

// No source builds more than the largest pool holds: refused at the line
// that passes it, under either limit set. Below that, the pool in force is
// checked on the whole file.
TEST(LevelText, TheSourceIsRefusedAtTheLineThatPassesTheLargestPool) {
    std::string text = "world\nobject B\n mass 1\n";
    for (int i = 0; i < 60000; i++) text += " box 0 0 0 1 1 1 red 1\n";
    // 288 bytes a box: box 58255, on line 58258, passes 16 MiB.
    for (const Limits *limits : {&LIMITS_CLASSIC, &LIMITS_RAISED}) {
        limits_select(*limits);
        EXPECT_EQ(parse_error(text + "end\n")
                      .rfind("src.world:58258: the level's vertices and faces come to more than 16777216 bytes", 0),
                  0u);
    }
    limits_select(LIMITS_CLASSIC);
    std::string small = "world\nobject B\n mass 1\n spare 0\n";
    for (int i = 0; i < 36; i++) small += " box 0 0 0 1 1 1 red 1\n";
    LevelFile f;
    EXPECT_EQ(parse_error(small + "end\n", &f), "");
    ASSERT_EQ(level_problems(f).size(), 1u);
    EXPECT_EQ(level_problems(f)[0].rfind("10418 bytes, more than the game's 10240-byte resource pool holds", 0), 0u)
        << level_problems(f)[0];
}

TEST(BitmapConvert, PaletteColoursMapToThemselvesAlphaToTransparentWidthsArePowersOfTwo) {
    const Palette *pal = palette_default();
    const auto rgb = [pal](int i) { return Bytes(pal->rgb + 3 * i, pal->rgb + 3 * i + 3); };
    // Colour 23 widened, (63, 0, 0); black, the first black 0; white, never the transparent
    // index 255; and a clear pixel.
    const Bytes px = {252, 0, 0, 255, 0, 0, 0, 255, 255, 255, 255, 255, 10, 200, 30, 0};
    Bytes out;
    std::string error;
    ASSERT_TRUE(bitmap_from_rgba(px.data(), 2, 2, pal, &out, &error)) << error;
    ASSERT_EQ(out.size(), 12u);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + 10), (Bytes{2, 0, 0, 0, 2, 0, 0, 0, 23, 0}));
    EXPECT_NE(out[10], 255);
    EXPECT_EQ(rgb(out[10]), (Bytes{63, 63, 63}));
    EXPECT_EQ(out[11], 255);
    for (int i = 0; i < 255; i++) {   // every opaque entry maps to its colour, the lowest of equals
        auto w = [&](int c) { return (pal->rgb[3 * i + c] << 2) | (pal->rgb[3 * i + c] >> 4); };
        const int j = bitmap_nearest(pal, w(0), w(1), w(2));
        EXPECT_EQ(rgb(j), rgb(i)) << i;
        EXPECT_LE(j, i) << i;
    }
    const Bytes wide(4 * 12 * 2, 255);   // widths: powers of two up to 32767
    EXPECT_FALSE(bitmap_from_rgba(wide.data(), 12, 2, pal, &out, &error));
    EXPECT_NE(error.find("not a power of two"), npos) << error;
    EXPECT_TRUE(bitmap_from_rgba(wide.data(), 1, 2, pal, &out, &error)) << error;
    EXPECT_FALSE(bitmap_from_rgba(wide.data(), 32768, 1, pal, &out, &error));
}
