// frame/main.cpp: the process entry of the game: the command line, the data
// folder, then the game. With no arguments the game starts as it always has:
// the data folder is lib/ when the working directory has one, and the window
// opens at its default size.
//
// Usage mistakes (an unknown option, a stray argument, a bad value) print
// the usage on standard error and exit with status 2; --help prints it on
// standard output and exits 0 without opening a window.
#include <getopt.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/datadir.h"
#include "frame/demo.h"
#include "frame/game.h"
#include "frame/levels.h"
#include "platform/backend.h"
#include "res/res.h"
#include "scene/limits.h"

#ifndef POLYDRIVE_VERSION
#define POLYDRIVE_VERSION "unknown"
#endif

namespace {

constexpr int WINDOW_MIN_WIDTH = 320;
constexpr int WINDOW_MIN_HEIGHT = 200;
constexpr int WINDOW_MAX_SIDE = 16384;

// Option ids above the range of short option characters.
enum OptionId : int {
    OPT_HELP = 'h',
    OPT_VERSION = 256,
    OPT_DATA,
    OPT_FULLSCREEN,
    OPT_WINDOW,
    OPT_RECORD_DEMO,
    OPT_PLAY_DEMO,
    OPT_LEVEL,
    OPT_LIMITS,
};

// One option of the command line: its long name, the name of its argument
// (null for none), its id (a character for one with a short form) and its
// line in the usage. The getopt table and the usage are both made from this.
struct OptionSpec {
    const char *name;
    const char *argument;
    int id;
    const char *help;
};

constexpr OptionSpec OPTIONS[] = {
    {"data", "DIR", OPT_DATA, "read the levels, models and bitmaps from DIR"},
    {"fullscreen", nullptr, OPT_FULLSCREEN, "start fullscreen (Alt+Enter toggles)"},
    {"window", "WIDTHxHEIGHT", OPT_WINDOW, "open the window at this size (default 960x720)"},
    {"record-demo", "FILE", OPT_RECORD_DEMO, "play, and write the keys of every frame to FILE"},
    {"play-demo", "FILE", OPT_PLAY_DEMO, "show the demo (key script) in FILE; Escape ends it"},
    {"level", "N", OPT_LEVEL, "play level N, levelN.3dw (default 1)"},
    {"limits", "SET", OPT_LIMITS, "classic (the default) or raised, for bigger levels"},
    {"help", nullptr, OPT_HELP, "print this text and exit"},
    {"version", nullptr, OPT_VERSION, "print the version and exit"},
};
constexpr int OPTION_COUNT = sizeof OPTIONS / sizeof OPTIONS[0];

struct GameOptions {
    const char *data = nullptr;
    int fullscreen = 0;
    int width = 0;   // 0: the backend's default size
    int height = 0;
    const char *record_demo = nullptr;
    const char *play_demo = nullptr;
    int level = 1;
    const Limits *limits = &LIMITS_CLASSIC;
};

void print_usage(FILE *to) {
    std::fputs(
        "Usage: polydrive [OPTION]...\n"
        "A first-person 3D driving game: drive round the track with the cursor keys\n"
        "(1 stops the car, Escape quits); a game ends after 60 seconds.\n"
        "\n"
        "Options:\n",
        to);
    for (const OptionSpec &o : OPTIONS) {
        char left[48];
        const bool has_short = o.id < 256;
        std::snprintf(left, sizeof left, "%c%c%c --%s%s%s", has_short ? '-' : ' ',
                      has_short ? o.id : ' ', has_short ? ',' : ' ', o.name,
                      o.argument != nullptr ? " " : "", o.argument != nullptr ? o.argument : "");
        std::fprintf(to, "  %-26s %s\n", left, o.help);
    }
    std::fputs(
        "\n"
        "The data (level1.3dw and the files it names) is read from DIR with\n"
        "--data DIR, else from $POLYDRIVE_DATA when set, else from the first of\n"
        "./lib, PREFIX/share/polydrive/lib (where PREFIX/bin holds the game) and\n"
        "the build tree's lib/ (for a game run from its build tree) that holds\n"
        "level1.3dw.\n",
        to);
}

[[noreturn]] void usage_error() {
    print_usage(stderr);
    std::exit(2);
}

// WIDTHxHEIGHT, digits only, each side within its range.
bool parse_window(const char *text, int *width, int *height) {
    long sides[2];
    const char *p = text;
    for (int i = 0; i < 2; i++) {
        if (*p < '0' || *p > '9') return false;
        char *end = nullptr;
        errno = 0;
        sides[i] = std::strtol(p, &end, 10);
        if (errno != 0) return false;
        p = end;
        if (i == 0 && *p++ != 'x') return false;
    }
    if (*p != '\0') return false;
    if (sides[0] < WINDOW_MIN_WIDTH || sides[0] > WINDOW_MAX_SIDE) return false;
    if (sides[1] < WINDOW_MIN_HEIGHT || sides[1] > WINDOW_MAX_SIDE) return false;
    *width = static_cast<int>(sides[0]);
    *height = static_cast<int>(sides[1]);
    return true;
}

GameOptions parse_options(int argc, char **argv) {
    option longopts[OPTION_COUNT + 1] = {};
    char shortopts[2 * OPTION_COUNT + 1] = "";
    for (int i = 0; i < OPTION_COUNT; i++) {
        const OptionSpec &o = OPTIONS[i];
        longopts[i] = {o.name, o.argument != nullptr ? required_argument : no_argument, nullptr,
                       o.id};
        if (o.id < 256) {
            char s[3] = {static_cast<char>(o.id), o.argument != nullptr ? ':' : '\0', '\0'};
            std::strcat(shortopts, s);
        }
    }
    GameOptions opt;
    for (;;) {
        const int id = getopt_long(argc, argv, shortopts, longopts, nullptr);
        if (id == -1) break;
        switch (id) {
            case OPT_HELP: print_usage(stdout); std::exit(0);
            case OPT_VERSION: std::printf("polydrive %s\n", POLYDRIVE_VERSION); std::exit(0);
            case OPT_DATA: opt.data = optarg; break;
            case OPT_FULLSCREEN: opt.fullscreen = 1; break;
            case OPT_WINDOW:
                if (!parse_window(optarg, &opt.width, &opt.height)) {
                    std::fprintf(
                        stderr,
                        "polydrive: --window needs WIDTHxHEIGHT, %d..%d by %d..%d, not '%s'\n",
                        WINDOW_MIN_WIDTH, WINDOW_MAX_SIDE, WINDOW_MIN_HEIGHT, WINDOW_MAX_SIDE,
                        optarg);
                    usage_error();
                }
                break;
            case OPT_RECORD_DEMO: opt.record_demo = optarg; break;
            case OPT_PLAY_DEMO: opt.play_demo = optarg; break;
            case OPT_LEVEL:
                opt.level = level_option("polydrive", optarg);
                if (opt.level < 0) usage_error();
                break;
            case OPT_LIMITS:
                opt.limits = limits_by_name(optarg);
                if (opt.limits == nullptr) {
                    std::fprintf(stderr, "polydrive: --limits is classic or raised, not '%s'\n",
                                 optarg);
                    usage_error();
                }
                break;
            default:   // getopt has said what was wrong
                usage_error();
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "polydrive: unexpected argument '%s'\n", argv[optind]);
        usage_error();
    }
    if (opt.record_demo != nullptr && opt.play_demo != nullptr) {
        std::fprintf(stderr, "polydrive: --record-demo and --play-demo cannot be combined\n");
        usage_error();
    }
    return opt;
}

}   // namespace

int main(int argc, char **argv) {
    const GameOptions opt = parse_options(argc, argv);
    limits_select(*opt.limits);
    game_choose_level(opt.level);
    res_set_folder(datadir_require("polydrive", opt.data));
    if (opt.width != 0 || opt.fullscreen)
        plat_window_options(opt.width, opt.height, opt.fullscreen);
    if (opt.record_demo != nullptr) demo_record_to(opt.record_demo);
    if (opt.play_demo != nullptr) demo_play_from(opt.play_demo);
    game_main();
    return 0;
}
