// Live reload (--watch): a level changed under a running game is loaded with
// the car kept where it was; a broken one is reported and survived, the last
// good level staying even though its files are gone from the folder.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/watch.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "render/camera.h"
#include "res/res.h"
#include "scene/body.h"
#include "scene/mesh.h"
#include "tools/assetfmt/level.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

const fs::path ROOT = POLYDRIVE_SOURCE_DIR;

// Written beside the target and renamed over it, as the tools write.
void put(const fs::path &path, const Bytes &bytes) {
    const fs::path part = path.string() + ".part";
    std::ofstream(part, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    fs::rename(part, path);
}

Bytes level1_with(const std::string &extra) {
    std::ifstream in(ROOT / "assets/level1.world", std::ios::binary);
    const std::string text(std::istreambuf_iterator<char>(in), {});
    LevelFile file;
    std::string error;
    EXPECT_TRUE(level_parse(text + extra, (ROOT / "assets/level1.world").string(), &file, &error)) << error;
    return level_encode(file);
}

int body_count() {
    int n = 0;
    for (const Body *b = body_list; b != nullptr; b = b->next) n++;
    return n;
}

const Body *car() {
    for (const Body *b = body_list; b != nullptr; b = b->next)
        if (b->flags & BODY_HUMAN) return b;
    return nullptr;
}

TEST(Watch, ChangedLevelReloadsWithTheCarKeptBrokenOneIsSurvived) {
    const fs::path dir = fs::temp_directory_path() / ("watch_test_" + std::to_string(getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    for (const auto &e : fs::directory_iterator(ROOT / "lib")) fs::copy_file(e.path(), dir / e.path().filename());

    headless_reset();
    res_set_folder(dir.c_str());
    game_startup();
    level_load(1);
    watch_folder(dir.c_str(), game_watch_host());
    Body *player = nullptr;
    headless_queue_key(KEY_UP, 1);
    for (int frame = 0; frame < 30; frame++) {
        kbd_was_hit(KEY_ESCAPE);
        EXPECT_EQ(watch_frame(&player), 0) << "nothing changed";
        game_frame(&player);
    }
    const int bodies = body_count();
    ASSERT_NE(car(), nullptr);
    const Body before = *car();
    const int32_t at[3] = {before.mesh->x, before.mesh->y, before.mesh->z};
    ASSERT_GT(before.vz, 0) << "the car is moving";

    // A crate added: the level reloads, the car is where it was, as fast.
    put(dir / "level1.3dw", level1_with("object Crate\n position 0 -6000 90000\n mass 10\n"
                                        " box 0 0 0 4000 4000 4000 red 200\nend\n"));
    watch_look_now();
    EXPECT_EQ(watch_frame(&player), 1);
    EXPECT_EQ(player, nullptr);
    EXPECT_EQ(body_count(), bodies + 1);
    ASSERT_NE(car(), nullptr);
    EXPECT_EQ(car()->mesh->x, at[0]);
    EXPECT_EQ(car()->mesh->z, at[2]);
    EXPECT_EQ(car()->vz, before.vz);
    EXPECT_EQ(car()->heading, before.heading);
    game_frame(&player);
    EXPECT_EQ(player, car());

    // A truncated file, and then one naming a bitmap that is not there: each
    // is one line, and the last good level (with the crate) stays.
    Bytes cut = level1_with("");
    cut.resize(100);
    for (const Bytes &broken : {cut, level1_with("object nosuchbitmap\n position 0 0 9000\n mass 1\n"
                                                 " v 0 0 0\n sprite 0 0\nend\n")}) {
        const int32_t z = car()->mesh->z;
        put(dir / "level1.3dw", broken);
        testing::internal::CaptureStderr();
        watch_look_now();
        EXPECT_EQ(watch_frame(&player), -1);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_NE(said.find("the changed level does not load"), std::string::npos) << said;
        EXPECT_EQ(said.find('\n'), said.size() - 1) << said;
        EXPECT_EQ(body_count(), bodies + 1);
        EXPECT_EQ(car()->mesh->z, z);
        game_frame(&player);
    }
    // F5: the free camera flies, the world stands still; a reload keeps the
    // camera where it flew; F5 again gives the car its keys back.
    headless_queue_key(KEY_UP, 1);   // still held
    headless_queue_key(WATCH_CAMERA_KEY, 1);
    headless_queue_key(WATCH_CAMERA_KEY, 0);
    kbd_was_hit(KEY_ESCAPE);
    const int32_t car_z = car()->mesh->z;
    const int32_t camera_z = current_camera->z;
    for (int frame = 0; frame < 3; frame++) EXPECT_EQ(watch_free_camera(), 1);
    EXPECT_EQ(current_camera->z, camera_z + 3 * WATCH_CAMERA_STEP);
    EXPECT_EQ(car()->mesh->z, car_z);
    put(dir / "level1.3dw", level1_with("# a comment\n"));
    watch_look_now();
    EXPECT_EQ(watch_frame(&player), 1);
    EXPECT_EQ(current_camera->z, camera_z + 3 * WATCH_CAMERA_STEP);
    headless_queue_key(WATCH_CAMERA_KEY, 1);
    headless_queue_key(WATCH_CAMERA_KEY, 0);
    kbd_was_hit(KEY_ESCAPE);
    EXPECT_EQ(watch_free_camera(), 0);

    // Back to level 1 as shipped.
    put(dir / "level1.3dw", level1_with(""));
    watch_look_now();
    EXPECT_EQ(watch_frame(&player), 1);
    EXPECT_EQ(body_count(), bodies);

    game_shutdown();
    level_free();
    watch_finish();
    EXPECT_FALSE(watch_active());
    res_set_folder(nullptr);
    fs::remove_all(dir);
}

}   // namespace
