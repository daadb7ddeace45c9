// polydrive-record: runs the game's frame loop headless from a key script and
// writes the frames as PNG (and optionally raw palette indices) and the
// bodies' state, so a drive can be looked at, compared and replayed.
//
// The loop is the program's own: start-up, level 1, then per frame the
// Escape test, game_update, game_draw, capture and gfx_flip; shutdown at the
// end. Keys are queued between frames, so each frame's first keyboard poll
// takes them in; key scripts are frame/keyscript's, read through frame/demo
// as the game reads its demos. Frames are counted, not timed, and no alarm
// is armed, so the same script always gives the same frames.
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include "base/datadir.h"
#include "base/save.h"
#include "frame/game.h"
#include "frame/levels.h"
#include "frame/keyscript.h"
#include "frame/view.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "res/res.h"
#include "scene/mesh.h"
#include "tools/assetfmt/toolio.h"

namespace {

const char USAGE[] =
    "usage: polydrive-record --keys SCRIPT --frames N --out DIR [--every K] [--raw] [--state]\n"
    "                        [--data DIR] [--level L] [--limits SET] [--scale N] [--widescreen]\n"
    "\n"
    "Runs the game headless on level1.3dw (levelL.3dw with --level) from the\n"
    "data folder (found as the game finds it) for at most N frames and writes\n"
    "frame 1 and every K-th frame (default 1) as DIR/frame_NNNNN.png.\n"
    "\n"
    "  --keys SCRIPT  key script (a regular file of at most 1 MiB), one\n"
    "                 instruction a line: COUNT key key ... (COUNT 0..10^9)\n"
    "                 holds the keys for the next COUNT frames. Keys: up, down,\n"
    "                 left, right, stop (digit 1), esc, none; '#' starts a\n"
    "                 comment. After the last line nothing is held. Without\n"
    "                 --keys nothing is held at all.\n"
    "  --frames N     frames to run at most, 1..100000000 (Escape held and let\n"
    "                 go ends sooner)\n"
    "  --out DIR      output folder (created if missing)\n"
    "  --every K      write every K-th frame besides frame 1 (1..100000000)\n"
    "  --raw          also write every frame's palette indices (64000 at 320x200)\n"
    "                 as DIR/frame_NNNNN.bin (the back buffer before the flip)\n"
    "  --state        after each frame print one line per body, in list order:\n"
    "                 FRAME INDEX heading steer_rate vx vz x y z\n"
    "  --data DIR     read the level, model and bitmaps from DIR\n"
    "  --scale N      draw the world at N times 320x200 (1..6, default 1); the\n"
    "                 frames are written at that size\n"
    "  --widescreen   widen the view to 16:9 (427 columns at scale 1)\n"
    "  --level L      play level L (1..9999, default 1)\n"
    "  --limits SET   classic (the default) or raised, as the game's option\n"
    "  --help         this text\n"
    "  --version      print the version\n"
    "\n"
    "The 60-second time limit of the game is not armed: the recorder runs as\n"
    "fast as it can and counts frames, so the same script gives the same frames.\n"
    "Each file is written whole or not at all; SIGINT or SIGTERM ends the run\n"
    "after the frame in progress, leaving no partial file. Exit status 1 on any\n"
    "error, 2 for a mistake in the command line.\n";

struct Options {
    const char *keys = nullptr;
    long frames = -1;
    const char *out = nullptr;
    long every = 1;
    bool raw = false;
    bool state = false;
    const char *data = nullptr;
    int scale = 1;
    bool widescreen = false;
    int level = 1;
};

constexpr long FRAMES_MAX = 100000000;   // frame_NNNNN names stay in order below that

[[noreturn]] __attribute__((format(printf, 2, 3))) void fail_with(int status, const char *format,
                                                                  ...) {
    std::fprintf(stderr, "polydrive-record: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::exit(status);
}
#define fail(...) fail_with(1, __VA_ARGS__)
#define usage_error(...) fail_with(TOOLIO_USAGE_STATUS, __VA_ARGS__)

long parse_count(const char *text, const char *option) {
    int64_t v = 0;
    if (!toolio_number(text, 1, FRAMES_MAX, &v))
        usage_error("%s needs a whole number in 1..%ld, not '%s'", option, FRAMES_MAX, text);
    return static_cast<long>(v);
}

Options parse_options(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) usage_error("%s needs a value", argv[i]);
            return argv[++i];
        };
        toolio_answer_help_or_version(arg, "polydrive-record", USAGE, POLYDRIVE_VERSION);
        if (arg == "--data") {
            o.data = value();
        } else if (arg == "--level") {
            o.level = level_option("polydrive-record", value());
            if (o.level < 0) std::exit(TOOLIO_USAGE_STATUS);
        } else if (arg == "--limits") {
            toolio_select_limits("polydrive-record", value());
        } else if (arg == "--keys") {
            o.keys = value();
        } else if (arg == "--frames") {
            o.frames = parse_count(value(), "--frames");
        } else if (arg == "--out") {
            o.out = value();
        } else if (arg == "--every") {
            o.every = parse_count(value(), "--every");
        } else if (arg == "--raw") {
            o.raw = true;
        } else if (arg == "--state") {
            o.state = true;
        } else if (arg == "--scale") {
            const char *text = value();
            int64_t v = 0;
            if (!toolio_number(text, 1, VIEW_SCALE_MAX, &v))
                usage_error("--scale needs a whole number in 1..%d, not '%s'", VIEW_SCALE_MAX,
                            text);
            o.scale = static_cast<int>(v);
        } else if (arg == "--widescreen") {
            o.widescreen = true;
        } else {
            usage_error("unknown option '%s' (see --help)", argv[i]);
        }
    }
    if (o.frames < 0) usage_error("--frames N is required (see --help)");
    if (o.out == nullptr) usage_error("--out DIR is required (see --help)");
    return o;
}

// Reads the key script; any fault names the file and line and ends with 1.
KeyScript read_script(const char *path) {
    std::vector<uint8_t> bytes;
    std::string error;
    if (!toolio_read(path, KEYSCRIPT_TEXT_MAX, &bytes, &error))
        fail("cannot read key script %s", error.c_str());
    KeyScript script;
    if (!keyscript_parse(reinterpret_cast<const char *>(bytes.data()), bytes.size(), path, &script,
                         &error))
        fail("%s", error.c_str());
    return script;
}

void make_folder(const char *path) {
    if (mkdir(path, 0777) != 0 && errno != EEXIST) {
        fail("cannot create '%s': %s", path, std::strerror(errno));
    }
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISDIR(st.st_mode)) fail("'%s' is not a folder", path);
}

std::string frame_path(const char *dir, long frame, const char *ext) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame_%05ld.%s", frame, ext);
    return std::string(dir) + name;
}

void append_bytes(void *context, void *data, int size) {
    auto *out = static_cast<std::vector<uint8_t> *>(context);
    const auto *bytes = static_cast<const uint8_t *>(data);
    out->insert(out->end(), bytes, bytes + size);
}

// Every file is written whole or not at all (base/save through toolio).
void write_file(const std::string &path, const void *data, size_t size) {
    std::string error;
    if (!toolio_write(path, data, size, &error)) fail("cannot write %s", error.c_str());
}

void write_png(const std::string &path, const uint8_t *pixels, std::vector<uint8_t> &rgb,
               std::vector<uint8_t> &png) {
    Palette pal;
    palette_get(&pal);
    // The picture at the size it is drawn.
    const FrameGeometry &frame = gfx_frame();
    rgb.resize(static_cast<size_t>(frame.width) * frame.height * 3);
    for (int y = 0; y < frame.height; ++y) {
        for (int x = 0; x < frame.width; ++x) {
            const int i = y * frame.width + x;
            for (int c = 0; c < 3; ++c) {
                const uint8_t v = pal.rgb[pixels[y * frame.pitch + x] * 3 + c] & 63;
                rgb[i * 3 + c] = static_cast<uint8_t>((v << 2) | (v >> 4));
            }
        }
    }
    png.clear();
    if (!stbi_write_png_to_func(append_bytes, &png, frame.width, frame.height, 3, rgb.data(),
                                frame.width * 3))
        fail("cannot encode '%s'", path.c_str());
    write_file(path, png.data(), png.size());
}

// The frame's palette indices, width a row, rows without a gap.
void write_raw(const std::string &path, const uint8_t *pixels) {
    const FrameGeometry &frame = gfx_frame();
    if (frame.pitch == frame.width) {
        write_file(path, pixels, static_cast<size_t>(frame.width) * frame.height);
        return;
    }
    std::vector<uint8_t> rows(static_cast<size_t>(frame.width) * frame.height);
    for (int y = 0; y < frame.height; ++y)
        std::memcpy(&rows[static_cast<size_t>(y) * frame.width], pixels + y * frame.pitch,
                    static_cast<size_t>(frame.width));
    write_file(path, rows.data(), rows.size());
}

void print_state(long frame) {
    int index = 0;
    for (const Body *b = body_list; b != nullptr; b = b->next, ++index) {
        std::printf("%ld %d %d %d %d %d %d %d %d\n", frame, index, b->heading, b->steer_rate, b->vx,
                    b->vz, b->mesh->x, b->mesh->y, b->mesh->z);
    }
}

// Between frames: a release for each key no longer held, a press for each
// key newly held; the next keyboard poll delivers them.
void change_keys(uint32_t before, uint32_t now) {
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if ((before & k.bit) && !(now & k.bit)) headless_queue_key(k.scancode, 0);
    }
    for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
        if (!(before & k.bit) && (now & k.bit)) headless_queue_key(k.scancode, 1);
    }
}

}   // namespace

int main(int argc, char **argv) {
    // Until the game's start-up takes SIGINT and SIGTERM over (they then end
    // the loop below), they end the recorder at once.
    toolio_catch_signals();
    const Options opt = parse_options(argc, argv);
    const KeyScript script = opt.keys != nullptr ? read_script(opt.keys) : KeyScript{};
    res_set_folder(datadir_require("polydrive-record", opt.data));
    make_folder(opt.out);
    std::vector<uint8_t> rgb, png;
    view_set(opt.scale, opt.widescreen);

    game_startup();
    level_load(opt.level);
    Body *player = nullptr;
    uint32_t held = 0;
    for (long frame = 1; frame <= opt.frames; ++frame) {
        if (game_stop_signal() != 0) break;
        const uint32_t want = keyscript_keys_at(script, frame);
        change_keys(held, want);
        held = want;
        if (kbd_was_hit(KEY_ESCAPE)) break;
        game_update(&player);
        game_draw();
        if (frame == 1 || frame % opt.every == 0) {
            write_png(frame_path(opt.out, frame, "png"), BackBuffer, rgb, png);
        }
        if (opt.raw) write_raw(frame_path(opt.out, frame, "bin"), BackBuffer);
        if (opt.state) print_state(frame);
        gfx_flip();
    }
    game_shutdown();
    level_free();
    if (game_stop_signal() != 0) {
        save_abort_pending();
        game_end_by_signal(game_stop_signal());
    }
    std::string error;
    if (!toolio_finish_stdout(&error)) fail("cannot write the state lines: %s", error.c_str());
    return 0;
}
