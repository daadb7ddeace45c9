// polydrive-soak: plays one game headless as a person might, with random key
// combinations held for random spans, and checks that the heap does not grow
// after the first frame. tools/soak.sh runs many of these, one process per
// game, the way a person starts the program again and again.
//
// Each game is a full start-up, level load, frame loop and shutdown. The
// keys come from rand_byte, whose table repeats every 256 bytes, so the game
// number both chooses where in the table the game starts and is mixed into
// every byte; different games therefore play differently, and the same game
// number always plays the same game.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <malloc.h>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define SOAK_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define SOAK_ASAN 1
#endif
#ifdef SOAK_ASAN
// From the sanitizer runtime (declared here: GCC ships no header for it).
extern "C" size_t __sanitizer_get_current_allocated_bytes();
#endif

#include "base/datadir.h"
#include "base/fatal.h"
#include "frame/game.h"
#include "frame/levels.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/random.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "tools/assetfmt/toolio.h"

namespace {

const char USAGE[] =
    "usage: polydrive-soak --game G [--frames N] [--data DIR] [--level L] [--limits SET]\n"
    "       polydrive-soak --help | --version\n"
    "\n"
    "Plays game number G (0..2147483647) headless on level1.3dw for at most\n"
    "N frames (1..100000000; default 4200, the 60-second limit at 70 frames a\n"
    "second), with random keys, and checks that the heap in use after the first\n"
    "frame is the same at the end. Some games end early by Escape, as a person\n"
    "quits. Prints\n"
    "'game G: F frames' and exits 0; exits 1 on any fault, 2 for a mistake in\n"
    "the command line. No alarm is armed; SIGINT or SIGTERM ends the game after\n"
    "the frame in progress, by that signal.\n"
    "--data DIR reads the level from DIR instead of the data folder the game\n"
    "would find; --level L plays levelL.3dw (1..9999) instead of level 1;\n"
    "--limits SET is classic (the default) or raised, as the game's option.\n";

[[noreturn]] void fail(const char *message, const char *detail = "", int status = 1) {
    std::fprintf(stderr, "polydrive-soak: %s%s\n", message, detail);
    std::exit(status);
}

// Bounds that keep every product below in range: quit_at multiplies the frame
// count by a byte.
constexpr int64_t GAME_MAX = INT32_MAX;
constexpr int64_t FRAMES_MAX = 100000000;

long parse_number(const char *option, const char *text, int64_t low, int64_t high) {
    int64_t v = 0;
    if (!toolio_number(text, low, high, &v)) {
        char message[96];
        std::snprintf(message, sizeof message, "%s needs a whole number in %lld..%lld, not ",
                      option, static_cast<long long>(low), static_cast<long long>(high));
        fail(message, text, TOOLIO_USAGE_STATUS);
    }
    return static_cast<long>(v);
}

// Bytes in use on the heap, as the allocator in use counts them.
size_t heap_in_use() {
#ifdef SOAK_ASAN
    return __sanitizer_get_current_allocated_bytes();
#else
    return mallinfo2().uordblks;
#endif
}

// The game's random bytes: the table, shifted by the game number and mixed
// with its high part so that games 256 apart differ too.
struct Dice {
    uint32_t salt;
    uint32_t calls = 0;

    int next() {
        const uint32_t mix = (salt * 167u + calls * 29u) >> 3;
        ++calls;
        return (rand_byte() ^ static_cast<int>(mix)) & 0xFF;
    }
};

// Where the game was, for the report of a fatal error.
struct Progress {
    long game;
    long frame;
    const Body *player;
};
Progress progress;

// Called by fatal_error after the shutdown, before its line is printed.
void report_fatal(const char *) {
    std::fprintf(stderr, "polydrive-soak: game %ld stopped in frame %ld", progress.game,
                 progress.frame);
    if (progress.player != nullptr && progress.player->mesh != nullptr) {
        const Body *p = progress.player;
        std::fprintf(stderr, " with the player at (%d, %d, %d), heading %d, speed (%d, %d)",
                     p->mesh->x, p->mesh->y, p->mesh->z, p->heading, p->vx, p->vz);
    }
    std::fprintf(stderr, "\n");
}

constexpr int KEYS[] = {KEY_UP, KEY_DOWN, KEY_LEFT, KEY_RIGHT, KEY_1};

// A combination as a bit set over KEYS: mostly accelerating and steering,
// now and then reversing, stopping or holding both cursor keys.
uint32_t combination(int byte) {
    uint32_t keys = 0;
    switch (byte & 3) {
        case 1:
        case 2: keys |= 1u << 0; break;   // up
        case 3: keys |= 1u << 1; break;   // down
        default: break;
    }
    switch ((byte >> 2) & 3) {
        case 1: keys |= 1u << 2; break;   // left
        case 2: keys |= 1u << 3; break;   // right
        case 3: keys |= (1u << 2) | (1u << 3); break;
        default: break;
    }
    if (((byte >> 4) & 7) == 0) keys |= 1u << 4;   // stop
    return keys;
}

void change_keys(uint32_t before, uint32_t now) {
    for (int i = 0; i < 5; ++i) {
        const uint32_t bit = 1u << i;
        if ((before & bit) != (now & bit)) headless_queue_key(KEYS[i], (now & bit) ? 1 : 0);
    }
}

}   // namespace

int main(int argc, char **argv) {
    toolio_catch_signals();
    long game = -1;
    long frames = 4200;
    const char *data = nullptr;
    int level = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        toolio_answer_help_or_version(arg, "polydrive-soak", USAGE, POLYDRIVE_VERSION);
        if (arg == "--game" || arg == "--frames" || arg == "--data" || arg == "--level" ||
            arg == "--limits") {
            if (i + 1 >= argc) fail("missing value after ", argv[i], TOOLIO_USAGE_STATUS);
            const char *value = argv[++i];
            if (arg == "--game")
                game = parse_number("--game", value, 0, GAME_MAX);
            else if (arg == "--frames")
                frames = parse_number("--frames", value, 1, FRAMES_MAX);
            else if (arg == "--level")
                level = parse_number("--level", value, 1, LEVEL_NUMBER_MAX);
            else if (arg == "--limits")
                toolio_select_limits("polydrive-soak", value);
            else
                data = value;
        } else {
            fail("unknown option ", argv[i], TOOLIO_USAGE_STATUS);
        }
    }
    if (game < 0) fail("--game G is required (see --help)", "", TOOLIO_USAGE_STATUS);

    res_set_folder(datadir_require("polydrive-soak", data));
    progress.game = game;
    // SIGINT and SIGTERM end the game after the frame in progress.
    fatal_set_hook(report_fatal);
    game_startup();
    Dice dice{static_cast<uint32_t>(game >> 8)};
    for (long i = 0; i < (game & 0xFF); ++i) rand_byte();
    level_load(level);

    // About one game in five ends early: Escape pressed and released.
    long quit_at = 0;
    if (dice.next() < 52) quit_at = 1 + dice.next() * frames / 256;

    Body *player = nullptr;
    uint32_t held = 0;
    long span = 0;
    long played = 0;
    size_t heap_after_first = 0;
    for (long frame = 1; frame <= frames; ++frame) {
        if (span == 0) {
            const uint32_t want = combination(dice.next());
            span = 1 + dice.next() % 100;
            change_keys(held, want);
            held = want;
        }
        --span;
        if (quit_at != 0 && frame == quit_at) headless_queue_key(KEY_ESCAPE, 1);
        if (quit_at != 0 && frame == quit_at + 1) headless_queue_key(KEY_ESCAPE, 0);
        if (game_stop_signal() != 0 || kbd_was_hit(KEY_ESCAPE)) break;
        progress.frame = frame;
        game_frame(&player);
        progress.player = player;
        ++played;
        if (frame == 1) heap_after_first = heap_in_use();
    }
    const size_t heap_at_end = heap_in_use();
    game_shutdown();
    level_free();
    if (game_stop_signal() != 0) game_end_by_signal(game_stop_signal());

    if (heap_at_end != heap_after_first) {
        std::fprintf(stderr, "polydrive-soak: game %ld: heap grew from %zu to %zu bytes\n", game,
                     heap_after_first, heap_at_end);
        return 1;
    }
    std::printf("game %ld: %ld frames\n", game, played);
    std::string error;
    if (!toolio_finish_stdout(&error)) fail(error.c_str());
    return 0;
}
