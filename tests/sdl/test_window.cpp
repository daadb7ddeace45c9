// The window backend's own behaviour, in a real (Xvfb) display: game
// controllers reach the key handler as set-1 presses and releases, merged
// with the keyboard; F12 saves screenshots and never reaches the handler.
#include <SDL.h>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <link.h>
#include <png.h>

#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/backend.h"
#include "platform/kbd.h"
#include "platform/sdl/screenshot.h"
#include "platform/video.h"

namespace fs = std::filesystem;

namespace {

using Events = std::vector<std::pair<int, int>>;   // scancode, press
Events events;
void record(int scancode, int press) { events.emplace_back(scancode, press); }

// Lets SDL turn the virtual device's state into events and the backend
// deliver them.
void settle() {
    for (int i = 0; i < 6; i++) {
        plat_keyboard_update();
        SDL_Delay(5);
    }
}

Events take() {
    settle();
    Events got;
    got.swap(events);
    return got;
}

void push_key(SDL_Scancode code, bool down) {
    SDL_Event e = {};
    e.type = down ? SDL_KEYDOWN : SDL_KEYUP;
    e.key.state = down ? SDL_PRESSED : SDL_RELEASED;
    e.key.keysym.scancode = code;
    SDL_PushEvent(&e);
}

// Keeps every library loaded so far mapped to the process end. The display's
// GL driver, which SDL loads for the window and unloads when it closes, keeps
// a block it allocated in a global of its own; once unloaded, the leak check
// at exit no longer sees that global and reports the block with no module to
// name. Pinned, the driver's globals are scanned and the block is reachable.
void pin_loaded_libraries() {
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            if (info->dlpi_name != nullptr && info->dlpi_name[0] != '\0')
                dlopen(info->dlpi_name, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}

// One window for the whole program: the game opens its window once, and the
// display connection is not made again after the window closed.
class Window : public ::testing::Environment {
  public:
    void SetUp() override {
        // The test's window may not have the focus; pads drive it anyway.
        setenv("SDL_JOYSTICK_ALLOW_BACKGROUND_EVENTS", "1", 1);
        plat_set_mode(PLAT_MODE_GRAPHICS);
        pin_loaded_libraries();
        ASSERT_EQ(plat_keyboard_init(), 0);
        plat_keyboard_set_handler(record);
    }
    void TearDown() override {
        plat_keyboard_close();
        plat_set_mode(PLAT_MODE_TEXT);
    }
};
const auto *window = ::testing::AddGlobalTestEnvironment(new Window);

class Gamepad : public ::testing::Test {
  protected:
    int device = -1;
    SDL_Joystick *stick = nullptr;

    void SetUp() override { attach(); }
    void TearDown() override {
        detach();
        take();
        events.clear();
    }

    // Plugs in a controller with every button and axis, at rest.
    void attach() {
        SDL_VirtualJoystickDesc desc = {};
        desc.version = SDL_VIRTUAL_JOYSTICK_DESC_VERSION;
        desc.type = SDL_JOYSTICK_TYPE_GAMECONTROLLER;
        desc.naxes = SDL_CONTROLLER_AXIS_MAX;
        desc.nbuttons = SDL_CONTROLLER_BUTTON_MAX;
        desc.button_mask = (1u << SDL_CONTROLLER_BUTTON_MAX) - 1;
        desc.axis_mask = (1u << SDL_CONTROLLER_AXIS_MAX) - 1;
        desc.name = "test pad";
        device = SDL_JoystickAttachVirtualEx(&desc);
        ASSERT_GE(device, 0) << SDL_GetError();
        stick = SDL_JoystickOpen(device);
        ASSERT_NE(stick, nullptr) << SDL_GetError();
        // A trigger at rest is the axis at its minimum.
        axis(SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768);
        axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
        ASSERT_EQ(take(), Events{}) << "a controller at rest holds nothing";
    }
    void detach() {
        if (stick != nullptr) SDL_JoystickClose(stick);
        if (device >= 0) SDL_JoystickDetachVirtual(device);
        stick = nullptr;
        device = -1;
    }
    void button(SDL_GameControllerButton b, bool down) { SDL_JoystickSetVirtualButton(stick, b, down); }
    void axis(SDL_GameControllerAxis a, int value) { SDL_JoystickSetVirtualAxis(stick, a, static_cast<Sint16>(value)); }
};

// Each control gives exactly its key's press and release.
TEST_F(Gamepad, ButtonsGiveTheirKeys) {
    const std::pair<SDL_GameControllerButton, int> table[] = {
        {SDL_CONTROLLER_BUTTON_DPAD_UP, KEY_UP},
        {SDL_CONTROLLER_BUTTON_DPAD_DOWN, KEY_DOWN},
        {SDL_CONTROLLER_BUTTON_DPAD_LEFT, KEY_LEFT},
        {SDL_CONTROLLER_BUTTON_DPAD_RIGHT, KEY_RIGHT},
        {SDL_CONTROLLER_BUTTON_A, KEY_1},
        {SDL_CONTROLLER_BUTTON_START, KEY_ESCAPE},
        {SDL_CONTROLLER_BUTTON_BACK, KEY_ESCAPE},
    };
    for (const auto &[b, key] : table) {
        button(b, true);
        EXPECT_EQ(take(), (Events{{key, 1}})) << "button " << b;
        button(b, false);
        EXPECT_EQ(take(), (Events{{key, 0}})) << "button " << b;
    }
    // Buttons with no key give nothing.
    for (auto b : {SDL_CONTROLLER_BUTTON_B, SDL_CONTROLLER_BUTTON_X, SDL_CONTROLLER_BUTTON_LEFTSHOULDER}) {
        button(b, true);
        button(b, false);
        EXPECT_EQ(take(), Events{}) << "button " << b;
    }
}

TEST_F(Gamepad, StickPastItsDeadZoneAndTriggers) {
    struct Step {
        SDL_GameControllerAxis axis;
        int value;
        Events want;
    };
    const Step steps[] = {
        {SDL_CONTROLLER_AXIS_LEFTX, -4000, {}},   // within the dead zone
        {SDL_CONTROLLER_AXIS_LEFTX, -20000, {{KEY_LEFT, 1}}},
        {SDL_CONTROLLER_AXIS_LEFTX, -30000, {}},               // still held
        {SDL_CONTROLLER_AXIS_LEFTX, -5000, {{KEY_LEFT, 0}}},   // back within it
        {SDL_CONTROLLER_AXIS_LEFTX, 4000, {}},
        {SDL_CONTROLLER_AXIS_LEFTX, 32767, {{KEY_RIGHT, 1}}},
        {SDL_CONTROLLER_AXIS_LEFTX, -32768, {{KEY_RIGHT, 0}, {KEY_LEFT, 1}}},   // across in one move
        {SDL_CONTROLLER_AXIS_LEFTX, 0, {{KEY_LEFT, 0}}},
        {SDL_CONTROLLER_AXIS_LEFTY, -20000, {{KEY_UP, 1}}},   // y grows downwards
        {SDL_CONTROLLER_AXIS_LEFTY, 20000, {{KEY_UP, 0}, {KEY_DOWN, 1}}},
        {SDL_CONTROLLER_AXIS_LEFTY, 0, {{KEY_DOWN, 0}}},
        {SDL_CONTROLLER_AXIS_RIGHTX, 32767, {}},   // the right stick is no key
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767, {{KEY_UP, 1}}},
        {SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768, {{KEY_UP, 0}}},
        {SDL_CONTROLLER_AXIS_TRIGGERLEFT, 32767, {{KEY_DOWN, 1}}},
        {SDL_CONTROLLER_AXIS_TRIGGERLEFT, -32768, {{KEY_DOWN, 0}}},
    };
    for (const Step &s : steps) {
        axis(s.axis, s.value);
        EXPECT_EQ(take(), s.want) << "axis " << s.axis << " at " << s.value;
    }
}

// A key held by the keyboard and a pad (or two controls of a pad) is pressed
// once and released once, when the last holder lets go, in either order.
TEST_F(Gamepad, SharedKeyIsReleasedOnceWhenAllLetGo) {
    for (bool keyboard_first : {true, false}) {
        push_key(SDL_SCANCODE_UP, true);
        button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
        EXPECT_EQ(take(), (Events{{KEY_UP, 1}}));
        if (keyboard_first) {
            push_key(SDL_SCANCODE_UP, false);
            EXPECT_EQ(take(), Events{});
            button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
        } else {
            button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
            EXPECT_EQ(take(), Events{});
            push_key(SDL_SCANCODE_UP, false);
        }
        EXPECT_EQ(take(), (Events{{KEY_UP, 0}})) << (keyboard_first ? "keyboard first" : "pad first");
    }
    button(SDL_CONTROLLER_BUTTON_DPAD_UP, true);
    axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, 32767);
    EXPECT_EQ(take(), (Events{{KEY_UP, 1}}));
    button(SDL_CONTROLLER_BUTTON_DPAD_UP, false);
    EXPECT_EQ(take(), Events{});
    axis(SDL_CONTROLLER_AXIS_TRIGGERRIGHT, -32768);
    EXPECT_EQ(take(), (Events{{KEY_UP, 0}}));
}

// Unplugging lets go of what the controller held, and only that.
TEST_F(Gamepad, UnpluggingReleasesWhatItHeld) {
    push_key(SDL_SCANCODE_RIGHT, true);
    button(SDL_CONTROLLER_BUTTON_DPAD_LEFT, true);
    button(SDL_CONTROLLER_BUTTON_A, true);
    button(SDL_CONTROLLER_BUTTON_DPAD_RIGHT, true);
    // Controls changed in one update may come in any order.
    auto sorted = [](Events e) {
        std::sort(e.begin(), e.end());
        return e;
    };
    EXPECT_EQ(sorted(take()), sorted({{KEY_RIGHT, 1}, {KEY_LEFT, 1}, {KEY_1, 1}}));
    detach();
    EXPECT_EQ(sorted(take()), sorted({{KEY_LEFT, 0}, {KEY_1, 0}}));
    push_key(SDL_SCANCODE_RIGHT, false);
    EXPECT_EQ(take(), (Events{{KEY_RIGHT, 0}}));
    // Plugged in again, it drives again.
    attach();
    button(SDL_CONTROLLER_BUTTON_START, true);
    EXPECT_EQ(take(), (Events{{KEY_ESCAPE, 1}}));
}

// --- screenshots ---

struct Png {
    int width = 0, height = 0, colour_type = -1, depth = 0;
    std::vector<png_color> palette;
    std::vector<uint8_t> indices;
};

Png read_png(const fs::path &path) {
    Png out;
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return out;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png)) == 0) {
        png_init_io(png, f);
        png_read_info(png, info);
        out.width = static_cast<int>(png_get_image_width(png, info));
        out.height = static_cast<int>(png_get_image_height(png, info));
        out.colour_type = png_get_color_type(png, info);
        out.depth = png_get_bit_depth(png, info);
        png_colorp colours = nullptr;
        int count = 0;
        if (png_get_PLTE(png, info, &colours, &count) != 0) out.palette.assign(colours, colours + count);
        if (out.width == SCREEN_WIDTH && out.height == SCREEN_HEIGHT && out.depth == 8) {
            out.indices.resize(SCREEN_SIZE);
            for (int y = 0; y < SCREEN_HEIGHT; y++) png_read_row(png, out.indices.data() + y * SCREEN_WIDTH, nullptr);
        }
    }
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    return out;
}

class Screenshot : public ::testing::Test {
  protected:
    fs::path dir;
    void SetUp() override {
        char tmpl[] = "/tmp/polydrive-shot-XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir = tmpl;
        setenv("XDG_PICTURES_DIR", (dir / "pictures").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::vector<fs::path> shots() {
        std::vector<fs::path> found;
        if (fs::exists(dir / "pictures/polydrive"))
            for (const auto &e : fs::directory_iterator(dir / "pictures/polydrive")) found.push_back(e.path());
        // In the order they were made: a name with a suffix is longer.
        std::sort(found.begin(), found.end(), [](const fs::path &a, const fs::path &b) {
            return std::make_pair(a.native().size(), a) < std::make_pair(b.native().size(), b);
        });
        return found;
    }
};

// The file holds the indices and the palette as given (widened to 8 bits),
// and a second shot in the same second gets a name of its own.
TEST_F(Screenshot, IndexedPngOfIndicesAndPalette) {
    std::vector<uint8_t> indices(SCREEN_SIZE);
    for (int i = 0; i < SCREEN_SIZE; i++) indices[i] = static_cast<uint8_t>(i * 7 + i / 320);
    int palette[PLAT_PALETTE_INTS];
    for (int i = 0; i < PLAT_PALETTE_INTS; i++) palette[i] = (i * 5) & 63;
    ASSERT_TRUE(screenshot_save(indices.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH, palette));
    indices[0] ^= 1;
    ASSERT_TRUE(screenshot_save(indices.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH, palette));
    const auto files = shots();
    ASSERT_EQ(files.size(), 2u);
    for (size_t n = 0; n < 2; n++) {
        const Png png = read_png(files[n]);
        EXPECT_EQ(png.colour_type, PNG_COLOR_TYPE_PALETTE);
        EXPECT_EQ(png.depth, 8);
        ASSERT_EQ(png.palette.size(), 256u);
        for (int c = 0; c < 256; c++) {
            const int *rgb = &palette[c * 3];
            EXPECT_EQ(png.palette[c].red, (rgb[0] << 2) | (rgb[0] >> 4)) << c;
            EXPECT_EQ(png.palette[c].green, (rgb[1] << 2) | (rgb[1] >> 4)) << c;
            EXPECT_EQ(png.palette[c].blue, (rgb[2] << 2) | (rgb[2] >> 4)) << c;
        }
        EXPECT_EQ(png.indices.size(), static_cast<size_t>(SCREEN_SIZE));
        EXPECT_EQ(png.indices[0], static_cast<uint8_t>(n == 0 ? 0 : 1));
        EXPECT_TRUE(std::equal(indices.begin() + 1, indices.end(), png.indices.begin() + 1));
    }
    // polydrive-DATE-TIME.png, then -2 when taken in the same second.
    const std::string first = files[0].filename(), second = files[1].filename();
    EXPECT_EQ(first.size(), std::string("polydrive-20261208-010203.png").size()) << first;
    if (first.substr(0, 25) == second.substr(0, 25)) { EXPECT_EQ(second, first.substr(0, 25) + "-2.png"); }
}

TEST_F(Screenshot, FailureIsOneLineAndNothingElse) {
    std::ofstream(dir / "file") << "not a folder";
    setenv("XDG_PICTURES_DIR", (dir / "file").c_str(), 1);
    std::vector<uint8_t> indices(SCREEN_SIZE);
    int palette[PLAT_PALETTE_INTS] = {};
    testing::internal::CaptureStderr();
    EXPECT_FALSE(screenshot_save(indices.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH, palette));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_NE(err.find("polydrive: cannot save screenshot"), std::string::npos) << err;
    EXPECT_EQ(fs::directory_iterator(dir)->path().filename(), "file");
}

// Without XDG_PICTURES_DIR in the environment: the folder the desktop's
// user-dirs file names, else ~/Pictures.
TEST_F(Screenshot, FallsBackToTheDesktopsFolderThenHomePictures) {
    unsetenv("XDG_PICTURES_DIR");
    unsetenv("XDG_CONFIG_HOME");
    const char *home = std::getenv("HOME");
    const std::string saved = home != nullptr ? home : "";
    setenv("HOME", dir.c_str(), 1);
    std::vector<uint8_t> indices(SCREEN_SIZE);
    int palette[PLAT_PALETTE_INTS] = {};
    const std::pair<std::string, fs::path> table[] = {
        {"", dir / "Pictures/polydrive"},
        {"# comment\nXDG_PICTURES_DIR=\"$HOME/Bilder\"\n", dir / "Bilder/polydrive"},
        {"XDG_PICTURES_DIR=\"" + (dir / "abs").native() + "\"\n", dir / "abs/polydrive"},
    };
    for (const auto &[user_dirs, want] : table) {
        fs::create_directories(dir / ".config");
        if (!user_dirs.empty()) std::ofstream(dir / ".config/user-dirs.dirs") << user_dirs;
        EXPECT_TRUE(screenshot_save(indices.data(), SCREEN_WIDTH, SCREEN_HEIGHT, SCREEN_WIDTH, palette));
        EXPECT_TRUE(fs::is_directory(want)) << want;
        if (fs::is_directory(want)) {
            EXPECT_EQ(std::distance(fs::directory_iterator(want), fs::directory_iterator{}), 1);
        }
    }
    setenv("HOME", saved.c_str(), 1);
}

// F12 in the window saves the frame on show and is no key of the game.
TEST_F(Screenshot, F12NeverReachesTheGame) {
    take();
    plat_video_memory()[0] = 42;
    plat_present();
    push_key(SDL_SCANCODE_F12, true);
    push_key(SDL_SCANCODE_F12, false);
    EXPECT_EQ(take(), Events{});
    plat_video_memory()[0] = 0;
    const auto files = shots();
    ASSERT_EQ(files.size(), 1u);
    const Png png = read_png(files[0]);
    ASSERT_EQ(png.indices.size(), static_cast<size_t>(SCREEN_SIZE));
    EXPECT_EQ(png.indices[0], 42);
    EXPECT_EQ(png.indices[1], 0);
}

}   // namespace
