// The level workshop's engine side: a source compiles to levelc's bytes or to
// levelc's message at its line, and a level draws from the player start or
// from a free camera, surviving a level the game would refuse.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "scene/limits.h"
#include "tools/workshop/workshop.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

Bytes read_file(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), {});
}
std::string read_text(const fs::path &path) {
    const Bytes b = read_file(path);
    return std::string(b.begin(), b.end());
}

// A copy of the shipped lib/ in a scratch folder, with level1.3dw replaceable.
struct Folder {
    fs::path dir;
    Folder() {
        dir = fs::temp_directory_path() / ("workshop_test_" + std::to_string(getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        for (const auto &e : fs::directory_iterator(fs::path(POLYDRIVE_SOURCE_DIR) / "lib"))
            fs::copy_file(e.path(), dir / e.path().filename());
    }
    ~Folder() { fs::remove_all(dir); }
    void put_level(const Bytes &bytes) {
        std::ofstream(dir / "level1.3dw", std::ios::binary | std::ios::trunc)
            .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }
    bool render(const WorkshopView *view, WorkshopFrame *frame, std::string *error) {
        return workshop_render(dir.c_str(), view, frame, error);
    }
};

Bytes compile_ok(const std::string &text) {
    Bytes bytes;
    std::string error;
    int line = -1;
    EXPECT_TRUE(workshop_compile(text, "level.world", &bytes, &error, &line)) << error;
    return bytes;
}

TEST(WorkshopCompile, Level1SourceGivesTheShippedFile) {
    const fs::path root = POLYDRIVE_SOURCE_DIR;
    Bytes bytes;
    std::string error;
    int line = -1;
    const fs::path source = root / "assets/level1.world";
    EXPECT_TRUE(workshop_compile(read_text(source), source, &bytes, &error, &line)) << error;
    EXPECT_EQ(bytes, read_file(root / "lib/level1.3dw"));
}

TEST(WorkshopCompile, MistakesAreLevelcMessagesAtTheirLine) {
    struct Case {
        const char *text;
        int line;
        const char *message;
    };
    const Case cases[] = {
        {"world\nstart Human1 0 0 0\nobject A\n  v 1 2\n", 4, "level.world:4: "},
        {"world\nbogus\n", 2, "level.world:2: "},
        {"world\nobject A\n mass 1\n v 0 0 0\nend\n", 2, "level.world:2: object A has no face"},
        {"model\nmass 1\nv 0 0 0\nv 1 0 0\nv 0 1 0\nface grey 1 0 1 2\n", 0,
         "level.world: a model goes into a .3do file"},
    };
    // No line: the whole file is refused by what the loader would refuse.
    std::string big = "world\n";
    for (int i = 0; i < 60; i++) big += "object B\n mass 1\n box 0 0 0 9 9 9 grey 1\nend\n";
    const Case too_big = {big.c_str(), 0, "level.world: the game would refuse it: "};
    for (const Case &c : {cases[0], cases[1], cases[2], cases[3], too_big}) {
        Bytes bytes{1, 2, 3};
        std::string error;
        int line = -1;
        EXPECT_FALSE(workshop_compile(c.text, "level.world", &bytes, &error, &line)) << c.text;
        EXPECT_EQ(line, c.line) << error;
        EXPECT_EQ(error.rfind(c.message, 0), 0u) << error;
        EXPECT_EQ(error.find('\n'), std::string::npos);
        EXPECT_EQ(bytes, (Bytes{1, 2, 3})) << "a failed compile leaves the output alone";
    }
    Bytes bytes;
    std::string error;
    int line = 0;
    EXPECT_FALSE(workshop_compile(std::string("world\n\0\n", 8), "level.world", &bytes, &error, &line));
    EXPECT_EQ(error, "level.world: not a text source (it holds a NUL byte)");
}

TEST(WorkshopRender, StartViewFreeCameraAndARefusedLevelSurvived) {
    Folder folder;
    auto first = std::make_unique<WorkshopFrame>();
    std::string error;
    ASSERT_TRUE(folder.render(nullptr, first.get(), &error)) << error;
    EXPECT_TRUE(first->has_start);
    EXPECT_GT(first->faces, 0);
    EXPECT_EQ(first->world_bytes, static_cast<int>(fs::file_size(folder.dir / "level1.3dw")));

    // The start view given as a camera draws the same frame; another one differs.
    auto same = std::make_unique<WorkshopFrame>();
    ASSERT_TRUE(folder.render(&first->start, same.get(), &error)) << error;
    EXPECT_EQ(0, std::memcmp(first->rgba, same->rgba, sizeof first->rgba));
    WorkshopView turned = first->start;
    turned.heading = (turned.heading + 720) % 1440;
    auto back = std::make_unique<WorkshopFrame>();
    ASSERT_TRUE(folder.render(&turned, back.get(), &error)) << error;
    EXPECT_NE(0, std::memcmp(first->rgba, back->rgba, sizeof first->rgba));

    // A sprite whose bitmap is missing ends the game natively: here it is the
    // fatal line, and the next good level draws as before.
    folder.put_level(
        compile_ok("world\nstart Human1 0 0 0\nobject nosuchbitmap\n position 0 0 9000\n"
                   " mass 1\n v 0 0 0\n sprite 0 0\nend\n"));
    auto broken = std::make_unique<WorkshopFrame>();
    EXPECT_FALSE(folder.render(nullptr, broken.get(), &error));
    EXPECT_NE(error.find("nosuchbitmap"), std::string::npos) << error;
    folder.put_level(read_file(fs::path(POLYDRIVE_SOURCE_DIR) / "lib/level1.3dw"));
    auto again = std::make_unique<WorkshopFrame>();
    ASSERT_TRUE(folder.render(nullptr, again.get(), &error)) << error;
    EXPECT_EQ(0, std::memcmp(first->rgba, again->rgba, sizeof first->rgba));
}

}   // namespace

namespace {

// What a source can make the compiler do is bounded: the OBJ files its obj
// lines read together, and the size of what it builds, each refused at the
// line that goes past the bound.
TEST(WorkshopCompile, ManyObjLinesAndHugeLevelsStopAtTheLineThatPassesTheBound) {
    const fs::path dir = fs::temp_directory_path() / ("workshop_bound_" + std::to_string(getpid()));
    fs::create_directories(dir);
    {
        std::ofstream obj(dir / "big.obj", std::ios::binary);
        obj << "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n" << std::string(1 << 20, '#') << "\n";
    }
    const size_t obj_size = fs::file_size(dir / "big.obj");
    std::string source = "world\nobject A\n mass 1\n";
    for (int i = 0; i < 40; i++) source += " obj big.obj grey 200\n";
    source += "end\n";
    Bytes bytes;
    std::string error;
    int line = 0;
    const std::string path = (dir / "level.world").string();
    EXPECT_FALSE(workshop_compile(source, path, &bytes, &error, &line));
    const int lines_read = static_cast<int>((size_t{16} << 20) / obj_size);
    EXPECT_EQ(line, 4 + lines_read) << error;
    EXPECT_NE(error.find("bytes of OBJ files in all"), std::string::npos) << error;

    // A box is 8 vertices and 12 faces: 288 bytes; 58,255 pass 16 MiB.
    std::string boxes = "world\nobject A\n mass 1\n";
    for (int i = 0; i < 60000; i++) boxes += " box 0 0 0 9 9 9 grey 1\n";
    EXPECT_FALSE(workshop_compile(boxes, "level.world", &bytes, &error, &line));
    EXPECT_EQ(line, 3 + 58255) << error;
    EXPECT_NE(error.find("more than the game's largest pool holds"), std::string::npos) << error;
    fs::remove_all(dir);
}

}   // namespace

namespace {

// The workshop compiles under the raised limits and draws a level under the
// classic ones whenever levelc with its default limits would take it too.
TEST(WorkshopCompile, ClassicFitIsWhatDefaultLevelcTakes) {
    const fs::path root = POLYDRIVE_SOURCE_DIR;
    limits_select(LIMITS_RAISED);
    Bytes one, three;
    std::string error;
    int line = 0;
    const fs::path level1 = root / "assets/level1.world", level3 = root / "assets/level3.world";
    ASSERT_TRUE(workshop_compile(read_text(level1), level1, &one, &error, &line)) << error;
    ASSERT_TRUE(workshop_compile(read_text(level3), level3, &three, &error, &line)) << error;
    const Bytes spare = compile_ok("world\nobject S\n mass 1\n spare 5000\n box 0 0 0 9 9 9 grey 1\nend\n");
    EXPECT_TRUE(workshop_fits_classic(one));
    EXPECT_FALSE(workshop_fits_classic(three)) << "larger than the classic pool";
    EXPECT_FALSE(workshop_fits_classic(spare)) << "more spare slots than classic allows";
    EXPECT_EQ(&limits_current(), &LIMITS_RAISED);
    limits_select(LIMITS_CLASSIC);
}

}   // namespace
