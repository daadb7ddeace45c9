// The asset tools' formats: binary worlds and models encode and decode
// exactly, the text form prints and parses back to the same bytes, the
// shorthands expand to faces whose front is outside, OBJ files import with
// their winding and materials, pictures map to the palette, and what levelc
// writes is what the game's loader reads.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "frame/fatal.h"
#include "frame/game.h"
#include "platform/video.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "scene/world.h"
#include "tools/assetfmt/bitmap.h"
#include "tools/assetfmt/level.h"

namespace {

namespace fs = std::filesystem;

LevelFile parse_ok(const std::string &text) {
    LevelFile f;
    std::string error;
    EXPECT_TRUE(level_parse(text, "src.world", &f, &error)) << error;
    return f;
}

std::string parse_error(const std::string &text) {
    LevelFile f;
    std::string error;
    EXPECT_FALSE(level_parse(text, "src.world", &f, &error));
    return error;
}

int32_t word_at(const std::vector<uint8_t> &b, size_t at) {
    uint32_t u = 0;
    for (int i = 0; i < 4; i++) u |= uint32_t{b.at(at + i)} << (8 * i);
    return static_cast<int32_t>(u);
}

// The normal the mesh code computes for a face, in exact integers.
std::array<int64_t, 3> normal_of(const LevelObject &o, const LevelFace &f) {
    auto v = [&](int i, int c) { return int64_t{o.vertices[3 * f.index[i] + c]}; };
    int64_t e1[3], e2[3];
    for (int c = 0; c < 3; c++) {
        e1[c] = v(1, c) - v(0, c);
        e2[c] = v(2, c) - v(0, c);
    }
    return {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2],
            e1[0] * e2[1] - e2[0] * e1[1]};
}

// Every face's front (its normal) points away from the object's centre.
void expect_fronts_outside(const LevelObject &o) {
    double c[3] = {0, 0, 0};
    for (int i = 0; i < o.vertex_count(); i++)
        for (int k = 0; k < 3; k++) c[k] += o.vertices[3 * i + k] / double(o.vertex_count());
    for (const auto *group : {&o.flat, &o.smooth})
        for (const LevelFace &f : *group) {
            const auto n = normal_of(o, f);
            double d = 0;
            for (int k = 0; k < 3; k++) d += n[k] * (o.vertices[3 * f.index[0] + k] - c[k]);
            EXPECT_GT(d, 0) << "face " << f.index[0] << " " << f.index[1] << " " << f.index[2];
        }
}

const char SAMPLE[] = R"(world
# a comment, and blank lines

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
  position 5 6 7
  mass 1
  v 0 0 0
  sprite 3 0
end
)";

// ---------------------------------------------------------------------------

TEST(LevelBinary, WordsAreLittleEndianAndTheWorldEndsWithMinusOne) {
    const std::vector<uint8_t> b = level_encode(parse_ok(SAMPLE));
    // Start record first: kind 0, position, angles, "Human1".
    EXPECT_EQ(word_at(b, 0), 0);
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(&b[28])), "Human1");
    const size_t obj = 28 + 7;
    EXPECT_EQ(word_at(b, obj), 3);          // vertex count is the kind word
    EXPECT_EQ(word_at(b, obj + 4), 4);      // spare auto: two per polygon face
    EXPECT_EQ(word_at(b, obj + 8 + 36), 1); // one flat face
    EXPECT_EQ(word_at(b, obj + 12 + 36), 0x5C8);
    ASSERT_GE(b.size(), 4u);
    EXPECT_EQ(std::vector<uint8_t>(b.end() - 4, b.end()), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(LevelBinary, DecodeThenEncodeGivesTheSameBytes) {
    LevelFile f = parse_ok(SAMPLE);
    f.trailing = {1, 2, 3};
    const std::vector<uint8_t> b = level_encode(f);
    LevelFile back;
    std::string error;
    ASSERT_TRUE(level_decode(b, LevelKind::World, &back, &error)) << error;
    EXPECT_EQ(level_encode(back), b);
    ASSERT_EQ(back.records.size(), 3u);
    EXPECT_EQ(back.records[1].object.name, "Big Road");
    EXPECT_EQ(back.records[1].object.angles[1], 90);
    EXPECT_EQ(back.trailing, (std::vector<uint8_t>{1, 2, 3}));
}

TEST(LevelBinary, AModelHasNoKindWordNameOrEndMark) {
    const LevelFile f = parse_ok("model\nmass 7\nspare 0\nv 1 2 3\nsprite 0 0\n");
    const std::vector<uint8_t> b = level_encode(f);
    const std::vector<int32_t> words = {1, 0, 1, 2, 3, 1, 0x40000000, 0, 0, 0, 0, 7};
    ASSERT_EQ(b.size(), words.size() * 4);
    for (size_t i = 0; i < words.size(); i++) EXPECT_EQ(word_at(b, 4 * i), words[i]) << i;
}

TEST(LevelBinary, BrokenFilesAreRefusedWithTheOffset) {
    const std::vector<uint8_t> good = level_encode(parse_ok(SAMPLE));
    LevelFile out;
    std::string error;
    // Cut anywhere before the end mark: refused, never read past the end.
    for (size_t n = 0; n < good.size(); n++) {
        const std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_FALSE(level_decode(cut, LevelKind::World, &out, &error)) << n;
        EXPECT_EQ(error.rfind("offset ", 0), 0u) << error;
    }
    // A face count far beyond the bytes left.
    std::vector<uint8_t> big = good;
    big[35 + 8 + 36] = 0xFF;
    big[35 + 8 + 36 + 3] = 0x7F;
    EXPECT_FALSE(level_decode(big, LevelKind::World, &out, &error));
    EXPECT_NE(error.find("does not fit the file"), std::string::npos) << error;
    // A kind word below -1 is neither an object nor a start nor the end.
    std::vector<uint8_t> bad = {0xFE, 0xFF, 0xFF, 0xFF};
    EXPECT_FALSE(level_decode(bad, LevelKind::World, &out, &error));
    EXPECT_NE(error.find("vertex count -2"), std::string::npos) << error;
}

TEST(LevelBinary, NamesOf125CharactersPassAndLongerOnesDoNot) {
    LevelFile f = parse_ok(SAMPLE);
    f.records[0].start.name = std::string(125, 'a');
    LevelFile out;
    std::string error;
    EXPECT_TRUE(level_decode(level_encode(f), LevelKind::World, &out, &error)) << error;
    f.records[0].start.name = std::string(126, 'a');
    EXPECT_FALSE(level_decode(level_encode(f), LevelKind::World, &out, &error));
    EXPECT_NE(error.find("longer than 125"), std::string::npos);
}

// ---------------------------------------------------------------------------

// Whatever the bytes hold, the printed text compiles back to them.
TEST(LevelText, PrintThenParseReproducesTheBytes) {
    LevelFile f = parse_ok(SAMPLE);
    LevelObject &o = f.records[1].object;
    o.flat.push_back({0x40050000, {1, 2, 0}});   // sprite with stray corners: raw form
    o.flat.push_back({0x00000F7F, {0, 1, 2}});   // ramp 15: a number
    o.flat.push_back({0x80000000, {2, 1, 0}});   // a high bit: raw form
    o.name = "odd \"name\"\\ \x01 #x";
    o.spare = 17;
    f.records[0].start.name = "";
    f.trailing = std::vector<uint8_t>(40, 0xAB);
    const std::vector<uint8_t> bytes = level_encode(f);
    const std::string text = level_print(f);
    const LevelFile again = parse_ok(text);
    EXPECT_EQ(level_encode(again), bytes) << text;
    EXPECT_EQ(level_print(again), text);
}

TEST(LevelText, PlainFormUsesRampNamesAndSpriteLines) {
    const std::string text = level_print(parse_ok(SAMPLE));
    EXPECT_NE(text.find("  face grey 200 0 1 2\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  face 0x20000a11 0 2 1\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  sprite 3 0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("object \"Big Road\"\n"), std::string::npos) << text;
    EXPECT_NE(text.find("start Human1 0 0 0 0 0 0\n"), std::string::npos) << text;
}

TEST(LevelText, ModelsRoundTripToo) {
    const LevelFile f = parse_ok("model\nmass 3\nv 0 0 0\nv 1 0 0\nv 0 1 0\nface red 1 0 1 2\n"
                                 "trailing 00ff\n");
    EXPECT_EQ(f.kind, LevelKind::Model);
    const std::vector<uint8_t> bytes = level_encode(f);
    LevelFile back;
    std::string error;
    ASSERT_TRUE(level_decode(bytes, LevelKind::Model, &back, &error)) << error;
    EXPECT_EQ(level_encode(parse_ok(level_print(back))), bytes);
}

struct BadSource {
    const char *text;
    const char *message;   // expected after "src.world:LINE: "
};

TEST(LevelText, MistakesNameTheFileAndLine) {
    const BadSource cases[] = {
        {"world\nobject A\n  mass 1\n  v 0 0 0\n  face red 1 0 0 1\nend\n",
         "src.world:5: vertex 1 does not exist"},
        {"world\nobject A\n  mass 1\n  v 0 0 0\n", "src.world:2: object A has no 'end'"},
        {"world\nobject A\n  v 0 0 0\n  sprite 0 0\nend\n", "src.world:2: object A has no mass"},
        {"world\nobject A\n  mass 1\n  v 0 0 0\nend\n", "src.world:2: object A has no face"},
        {"world\nobject A\n  mass 0\n", "src.world:3: mass must be positive"},
        {"world\nobject A\n  mass 1\n  v 0 0 0\n  face pink 1 0 0 0\n", "src.world:5: unknown colour ramp 'pink'"},
        {"world\nobject A\n  mass 1\n  v 0 0 0\n  face red 256 0 0 0\n", "src.world:5: reflectivity 256 is outside 0..255"},
        {"world\nobject A\n  v 0 0 2147483648\n", "src.world:3: coordinate 2147483648 is outside"},
        {"world\nstart \"Human1 0 0 0\n", "src.world:2: unterminated quoted string"},
        {"world\nfloor 1\n", "src.world:2: unknown word 'floor' outside an object"},
        {"model\nposition 0 0 0\n", "src.world:2: a model has no position"},
        {"model\nstart Human1 0 0 0\n", "src.world:2: a model holds one object"},
        {"\n# nothing\n", "src.world:3: empty source"},
        {"world\nobject A\n  mass 1\n  v 0 0 0\n  sprite 15 0\n", "src.world:5: sprite scale 15 is outside 0..14"},
        {"world\nobject A\n  box 0 0 0 10 0 10 red 1\n", "src.world:3: a box needs a size on every axis"},
        {"world\nobject A\n  box 0 0 0 10 10 10 red 1 skip roof\n", "src.world:3: unknown box side 'roof'"},
    };
    for (const BadSource &c : cases) {
        const std::string error = parse_error(c.text);
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << "got: " << error;
    }
    const std::string long_name = "world\nstart " + std::string(126, 'n') + " 0 0 0\n";
    EXPECT_EQ(parse_error(long_name).rfind("src.world:2: name longer than 125", 0), 0u);
}

// ---------------------------------------------------------------------------

TEST(LevelShorthands, BoxExpandsToTwelveFacesWithTheirFrontsOutside) {
    const LevelFile f = parse_ok("world\nobject B\n mass 1\n box 10 -5 7 -30 40 100 cyan 9\nend\n");
    const LevelObject &o = f.records[0].object;
    EXPECT_EQ(o.vertex_count(), 8);
    EXPECT_EQ(o.flat.size(), 12u);
    EXPECT_EQ(o.spare, 24);
    for (const LevelFace &face : o.flat) EXPECT_EQ(face.flags, 0x309u);
    expect_fronts_outside(o);
}

TEST(LevelShorthands, SkippedSidesAndGroupsAndOffsets) {
    const LevelFile f = parse_ok("world\nobject B\n mass 1\n v 5 5 5\n smooth\n"
                                 " box 0 0 0 1 1 1 red 1 skip top bottom\n flat\n"
                                 " quad blue 2 1 2 3 4\nend\n");
    const LevelObject &o = f.records[0].object;
    ASSERT_EQ(o.vertex_count(), 9);
    EXPECT_EQ(o.smooth.size(), 8u);   // four walls
    for (const LevelFace &face : o.smooth) {
        const auto n = normal_of(o, face);
        EXPECT_EQ(n[1], 0);   // no face looks up or down
        for (int32_t i : face.index) EXPECT_GE(i, 1);   // after the lone vertex
    }
    ASSERT_EQ(o.flat.size(), 2u);
    EXPECT_EQ(o.flat[0].index[0], 1);
    EXPECT_EQ(o.flat[0].index[2], 3);
    EXPECT_EQ(o.flat[1].index[1], 3);
    EXPECT_EQ(o.flat[1].index[2], 4);
}

TEST(LevelShorthands, SpareSlotsAutoAndExplicit) {
    const LevelFile sprite = parse_ok("world\nobject t.bit\n mass 1\n v 0 0 0\n sprite 1 0\nend\n");
    EXPECT_EQ(sprite.records[0].object.spare, 0);
    const LevelFile given =
        parse_ok("world\nobject B\n mass 1\n spare 3\n box 0 0 0 1 1 1 red 1\nend\n");
    EXPECT_EQ(given.records[0].object.spare, 3);
}

// ---------------------------------------------------------------------------

class ObjImportTest : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() / ("test_tools_obj_" + std::to_string(getpid()));
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }
    void write(const std::string &name, const std::string &text) {
        std::ofstream(dir / name) << text;
    }
};

// A unit cube as OBJ files have it: right-handed, counter-clockwise fronts.
const char CUBE[] = "mtllib cube.mtl\n"
                    "v 0 0 0\nv 1 0 0\nv 1 1 0\nv 0 1 0\nv 0 0 1\nv 1 0 1\nv 1 1 1\nv 0 1 1\n"
                    "usemtl yellow\n"
                    "f 1 4 3 2\nf 5 6 7 8\n"
                    "usemtl other\n"
                    "f 1 2 6 5\nf 4 8 7 3\n"
                    "s 1\n"
                    "f 1 5 8 4\nf 2 3 7 6\n";

TEST_F(ObjImportTest, WindingMaterialsSmoothingAndScale) {
    write("cube.obj", CUBE);
    write("cube.mtl", "newmtl yellow\nKd 1 1 0\nnewmtl other\nKd 1 0 0\n");
    write("cube.world", "world\nobject C\n mass 1\n v 9 9 9\n obj cube.obj grey 77 scale 100\nend\n");
    std::ifstream in(dir / "cube.world");
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    LevelFile f;
    std::string error;
    ASSERT_TRUE(level_parse(text, (dir / "cube.world").string(), &f, &error)) << error;
    const LevelObject &o = f.records[0].object;
    ASSERT_EQ(o.vertex_count(), 9);
    // z is negated, positions scaled; indices follow the vertex already there.
    EXPECT_EQ(o.vertices[3 * 7 + 0], 100);
    EXPECT_EQ(o.vertices[3 * 7 + 2], -100);
    ASSERT_EQ(o.flat.size(), 8u);
    ASSERT_EQ(o.smooth.size(), 4u);
    EXPECT_EQ(o.flat[0].flags, 0x44Du);   // material "yellow": ramp 4
    EXPECT_EQ(o.flat[7].flags, 0x54Du);   // other materials: the given ramp
    LevelObject cube = o;
    cube.vertices.erase(cube.vertices.begin(), cube.vertices.begin() + 3);
    for (auto *g : {&cube.flat, &cube.smooth})
        for (LevelFace &face : *g)
            for (int32_t &i : face.index) i -= 1;
    expect_fronts_outside(cube);
}

TEST_F(ObjImportTest, MissingFileIsAnError) {
    LevelObject o;
    std::string error;
    EXPECT_FALSE(level_add_obj((dir / "none.obj").string(), ObjImport{}, false, &o, &error));
    EXPECT_NE(error.find("none.obj"), std::string::npos) << error;
    const std::string e = parse_error("world\nobject A\n mass 1\n obj nowhere.obj red 1\nend\n");
    EXPECT_EQ(e.rfind("src.world:4: ", 0), 0u) << e;
}

// ---------------------------------------------------------------------------

std::vector<uint8_t> rgba(std::initializer_list<std::array<uint8_t, 4>> pixels) {
    std::vector<uint8_t> v;
    for (const auto &p : pixels) v.insert(v.end(), p.begin(), p.end());
    return v;
}

TEST(BitmapConvert, PaletteColoursMapToThemselvesAndAlphaToTransparent) {
    const Palette *pal = palette_default();
    const auto px = rgba({{252, 0, 0, 255},      // colour 23 widened: (63, 0, 0)
                          {0, 0, 0, 255},        // black: the first black, 0
                          {255, 255, 255, 255},  // white: never 255, the transparent index
                          {10, 200, 30, 0}});    // clear
    std::vector<uint8_t> out;
    std::string error;
    ASSERT_TRUE(bitmap_from_rgba(px.data(), 2, 2, pal, &out, &error)) << error;
    ASSERT_EQ(out.size(), 12u);
    EXPECT_EQ(word_at(out, 0), 2);
    EXPECT_EQ(word_at(out, 4), 2);
    EXPECT_EQ(out[8], 23);
    EXPECT_EQ(out[9], 0);
    EXPECT_NE(out[10], 255);
    EXPECT_EQ(pal->rgb[3 * out[10]], 63);
    EXPECT_EQ(pal->rgb[3 * out[10] + 1], 63);
    EXPECT_EQ(pal->rgb[3 * out[10] + 2], 63);
    EXPECT_EQ(out[11], 255);
}

TEST(BitmapConvert, EveryOpaqueColourMapsToTheNearestEntry) {
    const Palette *pal = palette_default();
    for (int i = 0; i < 255; i++) {
        auto w = [&](int c) { return (pal->rgb[3 * i + c] << 2) | (pal->rgb[3 * i + c] >> 4); };
        const int j = bitmap_nearest(pal, w(0), w(1), w(2));
        EXPECT_EQ(pal->rgb[3 * j], pal->rgb[3 * i]) << i;
        EXPECT_EQ(pal->rgb[3 * j + 1], pal->rgb[3 * i + 1]) << i;
        EXPECT_EQ(pal->rgb[3 * j + 2], pal->rgb[3 * i + 2]) << i;
        EXPECT_LE(j, i);   // the lowest of equal entries
    }
}

TEST(BitmapConvert, WidthMustBeAPowerOfTwo) {
    std::vector<uint8_t> px(4 * 12 * 2, 255), out;
    std::string error;
    EXPECT_FALSE(bitmap_from_rgba(px.data(), 12, 2, palette_default(), &out, &error));
    EXPECT_NE(error.find("not a power of two"), std::string::npos) << error;
    EXPECT_TRUE(bitmap_from_rgba(px.data(), 1, 2, palette_default(), &out, &error)) << error;
    EXPECT_FALSE(bitmap_from_rgba(px.data(), 32768, 1, palette_default(), &out, &error));
}

// ---------------------------------------------------------------------------

struct Thrown : std::runtime_error {
    using std::runtime_error::runtime_error;
};
void throw_hook(const char *message) { throw Thrown(message); }

// What levelc writes, the game's own loader reads into the same objects.
class LoaderAgreement : public ::testing::Test {
protected:
    fs::path dir, old;
    void SetUp() override {
        old = fs::current_path();
        dir = fs::temp_directory_path() / ("test_tools_lib_" + std::to_string(getpid()));
        fs::create_directories(dir / "lib");
        fs::current_path(dir);
        fatal_set_hook(throw_hook);
    }
    void TearDown() override {
        level_free();
        game_shutdown();
        fatal_set_hook(nullptr);
        fs::current_path(old);
        fs::remove_all(dir);
    }
    void put(const std::string &name, const std::vector<uint8_t> &bytes) {
        std::string error;
        ASSERT_TRUE(level_write_file("lib/" + name, bytes, &error)) << error;
    }
};

TEST_F(LoaderAgreement, ObjectsStartsSpritesAndStatics) {
    put("level1.3dw", level_encode(parse_ok(R"(world
object Statics
  position 100 -6000 2000
  mass 300
  smooth
  box -10 0 -10 10 20 10 red 200
end
start Human1 0 0 0 0 5 0
object t.bit
  position 1 2 3
  mass 1
  v 0 0 0
  sprite 2 0
end
)")));
    put("car1.3do", level_encode(parse_ok("model\nmass 90\nbox -1 -1 -1 1 1 1 grey 1 skip bottom\n")));
    put("t.bit", std::vector<uint8_t>{1, 0, 0, 0, 1, 0, 0, 0, 7});
    ASSERT_NO_THROW({
        res_init(GAME_POOL_SIZE);
        level_load(1);
    });
    ASSERT_NE(body_list, nullptr);
    const Body *statics = body_list;
    EXPECT_EQ(statics->flags, BODY_STATIC);
    EXPECT_EQ(statics->mass, 300);
    EXPECT_EQ(statics->mesh->vertex_count, 8);
    EXPECT_EQ(statics->mesh->vertex_capacity, 8 + 24);
    EXPECT_EQ(statics->mesh->x, 100);
    int faces = 0;
    for (const Face *f = statics->mesh->faces; f != nullptr; f = f->next, faces++) {
        EXPECT_EQ(f->flags, 0x200000C8u);   // stored in the smooth group
        // The loader's normal agrees with the box side the face belongs to:
        // it points away from the box centre.
        const Vertex &p = statics->mesh->vertices[f->index[0]];
        const long d = long{f->nx} * p.x + long{f->ny} * (p.y - 10) + long{f->nz} * p.z;
        EXPECT_GT(d, 0);
    }
    EXPECT_EQ(faces, 12);
    const Body *car = statics->next;
    ASSERT_NE(car, nullptr);
    EXPECT_EQ(car->flags, BODY_HUMAN + 1);
    EXPECT_EQ(car->mass, 90);
    const Body *tree = car->next;
    ASSERT_NE(tree, nullptr);
    const Face *sprite = tree->mesh->faces;
    EXPECT_EQ(sprite->flags & 0xFFFF0000u, 0x40020000u);
    EXPECT_EQ(static_cast<ResourceId>(sprite->flags & 0xFFFF), res_register("t.bit"));
    EXPECT_EQ(tree->next, nullptr);
}

}  // namespace
