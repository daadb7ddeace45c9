// polydrive-record: runs the game's frame loop headless from a key script and
// writes the frames as PNG (and optionally raw palette indices) and the
// bodies' state, so a drive can be looked at, compared and replayed.
//
// The loop is the program's own: start-up, level 1, then per frame the
// Escape test, game_update, game_draw, capture and gfx_flip; shutdown at the
// end. Keys are queued between frames, so each frame's first keyboard poll
// takes them in. Frames are counted, not timed, and no alarm is armed, so
// the same script always gives the same frames.
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

#include "frame/game.h"
#include "platform/headless/headless.h"
#include "platform/kbd.h"
#include "platform/video.h"
#include "scene/mesh.h"

namespace {

const char USAGE[] =
    "usage: polydrive-record --keys SCRIPT --frames N --out DIR [--every K] [--raw] [--state]\n"
    "\n"
    "Runs the game headless on lib/level1.3dw (found from the working directory,\n"
    "as the game finds it) for at most N frames and writes frame 1 and every K-th\n"
    "frame (default 1) as DIR/frame_NNNNN.png.\n"
    "\n"
    "  --keys SCRIPT  key script, one instruction a line: COUNT key key ...\n"
    "                 holds the keys for the next COUNT frames. Keys: up, down,\n"
    "                 left, right, stop (digit 1), esc, none; '#' starts a\n"
    "                 comment. After the last line nothing is held. Without\n"
    "                 --keys nothing is held at all.\n"
    "  --frames N     frames to run at most (Escape held and let go ends sooner)\n"
    "  --out DIR      output folder (created if missing)\n"
    "  --every K      write every K-th frame besides frame 1\n"
    "  --raw          also write every frame's 64000 palette indices as\n"
    "                 DIR/frame_NNNNN.bin (the back buffer before the flip)\n"
    "  --state        after each frame print one line per body, in list order:\n"
    "                 FRAME INDEX heading steer_rate vx vz x y z\n"
    "  --help         this text\n"
    "\n"
    "The 60-second time limit of the game is not armed: the recorder runs as\n"
    "fast as it can and counts frames, so the same script gives the same frames.\n";

struct KeyName {
    const char *name;
    uint32_t bit;
    int scancode;
};

const KeyName KEYS[] = {
    {"up", 1u << 0, KEY_UP},       {"down", 1u << 1, KEY_DOWN}, {"left", 1u << 2, KEY_LEFT},
    {"right", 1u << 3, KEY_RIGHT}, {"stop", 1u << 4, KEY_1},    {"esc", 1u << 5, KEY_ESCAPE},
};

// One script instruction: these keys for the next count frames.
struct Segment {
    long count;
    uint32_t keys;
};

struct Options {
    const char *keys = nullptr;
    long frames = -1;
    const char *out = nullptr;
    long every = 1;
    bool raw = false;
    bool state = false;
};

[[noreturn]] __attribute__((format(printf, 1, 2))) void fail(const char *format, ...) {
    std::fprintf(stderr, "polydrive-record: ");
    va_list args;
    va_start(args, format);
    std::vfprintf(stderr, format, args);
    va_end(args);
    std::fprintf(stderr, "\n");
    std::exit(1);
}

long parse_count(const char *text, const char *option) {
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || end == text || *end != '\0' || v < 1) {
        fail("%s needs a positive whole number, not '%s'", option, text);
    }
    return v;
}

Options parse_options(int argc, char **argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        auto value = [&]() -> const char * {
            if (i + 1 >= argc) fail("%s needs a value", argv[i]);
            return argv[++i];
        };
        if (arg == "--help" || arg == "-h") {
            std::fputs(USAGE, stdout);
            std::exit(0);
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
        } else {
            fail("unknown option '%s' (see --help)", argv[i]);
        }
    }
    if (o.frames < 0) fail("--frames N is required (see --help)");
    if (o.out == nullptr) fail("--out DIR is required (see --help)");
    return o;
}

// Reads the key script; any fault names the file and line and ends with 1.
std::vector<Segment> read_script(const char *path) {
    std::vector<Segment> script;
    FILE *f = std::fopen(path, "r");
    if (f == nullptr) fail("cannot open key script '%s': %s", path, std::strerror(errno));
    char line[1024];
    int number = 0;
    while (std::fgets(line, sizeof line, f) != nullptr) {
        ++number;
        const std::string where = std::string(path) + ":" + std::to_string(number);
        if (std::strchr(line, '\n') == nullptr && !std::feof(f)) {
            fail("%s: line too long", where.c_str());
        }
        if (char *hash = std::strchr(line, '#')) *hash = '\0';
        std::vector<std::string> words;
        for (char *w = std::strtok(line, " \t\r\n"); w != nullptr;
             w = std::strtok(nullptr, " \t\r\n")) {
            words.emplace_back(w);
        }
        if (words.empty()) continue;

        char *end = nullptr;
        errno = 0;
        const long count = std::strtol(words[0].c_str(), &end, 10);
        if (errno != 0 || *end != '\0' || count < 0 || end == words[0].c_str()) {
            fail("%s: expected a frame count, not '%s'", where.c_str(), words[0].c_str());
        }
        if (words.size() < 2) fail("%s: no keys after the count (use 'none')", where.c_str());

        uint32_t keys = 0;
        bool none = false;
        for (size_t i = 1; i < words.size(); ++i) {
            if (words[i] == "none") {
                none = true;
                continue;
            }
            bool known = false;
            for (const KeyName &k : KEYS) {
                if (words[i] == k.name) {
                    keys |= k.bit;
                    known = true;
                }
            }
            if (!known) fail("%s: unknown key '%s'", where.c_str(), words[i].c_str());
        }
        if (none && keys != 0) fail("%s: 'none' cannot be combined with keys", where.c_str());
        script.push_back({count, keys});
    }
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad) fail("cannot read key script '%s'", path);
    return script;
}

// The keys held in a frame (frames count from 1); nothing after the script.
uint32_t keys_at(const std::vector<Segment> &script, long frame) {
    long first = 1;
    for (const Segment &s : script) {
        if (frame - first < s.count) return s.keys;
        first += s.count;   // frame > first here, so this cannot overflow
    }
    return 0;
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

void write_png(const std::string &path, const uint8_t *pixels, std::vector<uint8_t> &rgb) {
    Palette pal;
    palette_get(&pal);
    for (int i = 0; i < SCREEN_SIZE; ++i) {
        for (int c = 0; c < 3; ++c) {
            const uint8_t v = pal.rgb[pixels[i] * 3 + c] & 63;
            rgb[i * 3 + c] = static_cast<uint8_t>((v << 2) | (v >> 4));
        }
    }
    if (!stbi_write_png(path.c_str(), SCREEN_WIDTH, SCREEN_HEIGHT, 3, rgb.data(),
                        SCREEN_WIDTH * 3)) {
        fail("cannot write '%s'", path.c_str());
    }
}

void write_raw(const std::string &path, const uint8_t *pixels) {
    FILE *f = std::fopen(path.c_str(), "wb");
    const bool ok = f != nullptr && std::fwrite(pixels, 1, SCREEN_SIZE, f) == SCREEN_SIZE;
    if (f != nullptr && std::fclose(f) != 0) fail("cannot write '%s'", path.c_str());
    if (!ok) fail("cannot write '%s'", path.c_str());
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
    for (const KeyName &k : KEYS) {
        if ((before & k.bit) && !(now & k.bit)) headless_queue_key(k.scancode, 0);
    }
    for (const KeyName &k : KEYS) {
        if (!(before & k.bit) && (now & k.bit)) headless_queue_key(k.scancode, 1);
    }
}

}   // namespace

int main(int argc, char **argv) {
    const Options opt = parse_options(argc, argv);
    const std::vector<Segment> script =
        opt.keys != nullptr ? read_script(opt.keys) : std::vector<Segment>{};
    make_folder(opt.out);
    std::vector<uint8_t> rgb(SCREEN_SIZE * 3);

    game_startup();
    level_load(1);
    Body *player = nullptr;
    uint32_t held = 0;
    for (long frame = 1; frame <= opt.frames; ++frame) {
        const uint32_t want = keys_at(script, frame);
        change_keys(held, want);
        held = want;
        if (kbd_was_hit(KEY_ESCAPE)) break;
        game_update(&player);
        game_draw();
        if (frame == 1 || frame % opt.every == 0) {
            write_png(frame_path(opt.out, frame, "png"), BackBuffer, rgb);
        }
        if (opt.raw) write_raw(frame_path(opt.out, frame, "bin"), BackBuffer);
        if (opt.state) print_state(frame);
        gfx_flip();
    }
    game_shutdown();
    level_free();
    if (std::fflush(stdout) != 0) fail("cannot write the state lines");
    return 0;
}
