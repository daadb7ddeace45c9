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
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "base/datadir.h"
#include "base/fatal.h"
#include "base/fileio.h"
#include "frame/demo.h"
#include "frame/game.h"
#include "frame/hud.h"
#include "frame/settings.h"
#include "frame/view.h"
#include "frame/watch.h"
#include "frame/levels.h"
#include "platform/backend.h"
#include "platform/bindings.h"
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
    OPT_SCALE,
    OPT_WIDESCREEN,
    OPT_SAVE_SETTINGS,
    OPT_MAP,
    OPT_WATCH,
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
    {"scale", "N", OPT_SCALE, "draw the world at N times 320x200 (1..6, default 1)"},
    {"widescreen", nullptr, OPT_WIDESCREEN, "widen the view to 16:9, showing more at the sides"},
    {"save-settings", nullptr, OPT_SAVE_SETTINGS,
     "write the settings in effect to the settings file and exit"},
    {"map", nullptr, OPT_MAP, "show a map of the level beside the picture (M toggles)"},
    {"watch", nullptr, OPT_WATCH, "reload the level when a file in the data folder changes"},
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
    int scale = 1;
    int widescreen = 0;
    int save_settings = 0;
    int map = 0;
    int watch = 0;
    int level = 1;
    const Limits *limits = &LIMITS_CLASSIC;
};

void game_settings_usage(FILE *to);

// What follows the options in --help; the manual page is made from --help,
// and each "Heading:" line becomes a section of it.
constexpr const char HELP_AFTER_OPTIONS[] =
    "\n"
    "Keys:\n"
    "  cursor up / down     accelerate forward / backward\n"
    "  cursor left / right  steer\n"
    "  1                    stop the car dead\n"
    "  P                    pause the game and its clock; P again goes on\n"
    "  M                    show or hide the map of the level (see --map)\n"
    "  Escape               quit (closing the window does the same)\n"
    "  Alt+Enter            switch between window and fullscreen\n"
    "  F12                  save the picture on screen as a PNG (see Files)\n"
    "The window's title shows the time left and the speed.\n"
    "A gamepad (any controller SDL knows, plugged in at any time) drives too:\n"
    "the d-pad or left stick as the cursor keys, the right and left triggers as\n"
    "up and down, the south button (A, cross) as 1, Start or Back as Escape.\n"
    "\n"
    "Exit status:\n"
    "  0                    Escape ended the game (or the window was closed)\n"
    "  1                    a fatal error, told in one line on standard output\n"
    "  2                    a mistake in the command line\n"
    "  142                  time is up: a game lasts 60 seconds of play; the\n"
    "                       game says so on standard error, then ends by the\n"
    "                       alarm signal, SIGALRM (128 + 14)\n"
    "  129, 130, 143        SIGHUP, SIGINT or SIGTERM ended it, by that signal\n"
    "\n"
    "Files:\n"
    "The data (level1.3dw and the files it names) is read from DIR with\n"
    "--data DIR, else from $POLYDRIVE_DATA when set, else from the first of\n"
    "./lib, PREFIX/share/polydrive/lib (where PREFIX/bin holds the game) and\n"
    "the build tree's lib/ (for a game run from its build tree) that holds\n"
    "level1.3dw. F12 writes polydrive-YYYYMMDD-HHMMSS.png (never over another)\n"
    "into $XDG_PICTURES_DIR/polydrive, else the pictures folder named in\n"
    "$XDG_CONFIG_HOME/user-dirs.dirs (~/.config/user-dirs.dirs), else\n"
    "~/Pictures/polydrive.\n"
    "\n"
    "Environment:\n"
    "  POLYDRIVE_DATA       the data folder, when --data is not given\n"
    "  XDG_PICTURES_DIR     where F12 saves pictures (in a polydrive folder)\n"
    "  XDG_CONFIG_HOME      where user-dirs.dirs is looked for (~/.config)\n"
    "  HOME                 the home folder, for the two above\n"
    "  SDL_VIDEODRIVER      the display to use, e.g. x11, wayland or kmsdrm\n";

void print_usage(FILE *to) {
    std::fputs(
        "Usage: polydrive [OPTION]...\n"
        "A first-person 3D driving game: drive round the track with the cursor keys\n"
        "(1 stops the car, P pauses, Escape quits); a game lasts 60 seconds.\n"
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
    game_settings_usage(to);
    std::fputs(HELP_AFTER_OPTIONS, to);
}

const OptionSpec *find_option(int id) {
    for (const OptionSpec &o : OPTIONS)
        if (o.id == id) return &o;
    return nullptr;
}

[[noreturn]] void usage_error() {
    print_usage(stderr);
    std::exit(2);
}

// Status 0 only when everything printed reached standard output (not a full
// disk or a closed pipe).
[[noreturn]] void exit_after_stdout() {
    std::string error;
    if (fileio_finish_stdout(&error)) std::exit(0);
    std::fprintf(stderr, "polydrive: %s\n", error.c_str());
    std::exit(1);
}

// The help text through fileio_stdout_write, which keeps the reason of the
// first failed write: the text is longer than the stream's buffer, so a full
// disk fails inside the printing, where errno would otherwise be lost.
[[noreturn]] void print_help() {
    char *text = nullptr;
    size_t size = 0;
    FILE *memory = open_memstream(&text, &size);
    if (memory == nullptr) fatal_error("cannot print the help: %s", std::strerror(errno));
    print_usage(memory);
    const bool whole = std::fclose(memory) == 0;
    if (!whole) fatal_error("cannot print the help: %s", std::strerror(errno));
    fileio_stdout_write(text, size);
    std::free(text);
    exit_after_stdout();
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

// Takes one option's value into opt; null when taken, else why not (the
// command line and the settings file report it each in their own way).
const char *apply_option(int id, const char *value, GameOptions *opt) {
    switch (id) {
        case OPT_DATA: opt->data = value; return nullptr;
        case OPT_FULLSCREEN:
        case OPT_WIDESCREEN: {
            const int on = value == nullptr ? 1 : settings_bool(value);
            if (on < 0) return "needs yes or no";
            (id == OPT_FULLSCREEN ? opt->fullscreen : opt->widescreen) = on;
            return nullptr;
        }
        case OPT_WINDOW:
            if (!parse_window(value, &opt->width, &opt->height))
                return "needs WIDTHxHEIGHT, 320..16384 by 200..16384";
            return nullptr;
        case OPT_SCALE:
            if (value[0] < '1' || value[0] > '0' + VIEW_SCALE_MAX || value[1] != '\0')
                return "needs a whole number from 1 to 6";
            opt->scale = value[0] - '0';
            return nullptr;
        case OPT_RECORD_DEMO: opt->record_demo = value; return nullptr;
        case OPT_PLAY_DEMO: opt->play_demo = value; return nullptr;
        case OPT_SAVE_SETTINGS: opt->save_settings = 1; return nullptr;
        case OPT_LEVEL:
            opt->level = level_parse_number(value);
            return opt->level != 0 ? nullptr : "needs a number in 1..9999";
        case OPT_LIMITS:
            opt->limits = limits_by_name(value);
            return opt->limits != nullptr ? nullptr : "is classic or raised";
        case OPT_MAP: opt->map = 1; return nullptr;
        case OPT_WATCH: opt->watch = 1; return nullptr;
        default: return "unknown option";
    }
}

GameOptions parse_options(int argc, char **argv, uint64_t *given) {
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
    *given = 0;
    for (;;) {
        const int id = getopt_long(argc, argv, shortopts, longopts, nullptr);
        if (id == -1) break;
        switch (id) {
            case OPT_HELP: print_help();
            case OPT_VERSION: std::printf("polydrive %s\n", POLYDRIVE_VERSION); exit_after_stdout();
            case '?':   // getopt has said what was wrong
            case ':': usage_error();
            default: break;
        }
        const char *why = apply_option(id, optarg, &opt);
        if (why != nullptr) {
            const OptionSpec *o = find_option(id);
            std::fprintf(stderr, "polydrive: --%s %s, not '%s'\n", o != nullptr ? o->name : "?",
                         why, optarg != nullptr ? optarg : "");
            usage_error();
        }
        if (id >= 256) *given |= uint64_t{1} << (id - 256);
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

// The settings file's keys that are options take the options' names and
// go through apply_option, as on the command line; the rest are bindings.
constexpr int SETTING_OPTIONS[] = {OPT_SCALE,  OPT_WIDESCREEN, OPT_FULLSCREEN,
                                   OPT_WINDOW, OPT_LIMITS,     OPT_LEVEL};

struct SettingsContext {
    GameOptions *opt;
    uint64_t given;   // options given on the command line, which win
    char reason[160];
};

const char *apply_setting(const char *key, const char *value, void *context) {
    auto *c = static_cast<SettingsContext *>(context);
    const char *why = nullptr;
    bool known = false;
    for (const int id : SETTING_OPTIONS) {
        const OptionSpec *o = find_option(id);
        if (std::strcmp(o->name, key) != 0) continue;
        known = true;
        if ((c->given & uint64_t{1} << (id - 256)) == 0) why = apply_option(id, value, c->opt);
    }
    const bool keys = std::strncmp(key, "key.", 4) == 0;
    if (!known && (keys || std::strncmp(key, "button.", 7) == 0)) {
        known = true;
        const int action = bind_action_by_name(key + (keys ? 4 : 7));
        if (action < 0)
            why = "is not an action";
        else if (!(keys ? bind_set_keys(action, value, &why) : bind_set_pads(action, value, &why)))
            why = why != nullptr ? why : "unknown name";
    }
    if (!known) {
        std::snprintf(c->reason, sizeof c->reason, "unknown setting '%.60s'", key);
        return c->reason;
    }
    if (why == nullptr) return nullptr;
    std::snprintf(c->reason, sizeof c->reason, "%.40s: %s, not '%.60s'", key, why, value);
    return c->reason;
}

// The settings in effect, in the file's format.
std::string settings_text(const GameOptions &opt) {
    std::string text =
        "# polydrive settings, written by polydrive --save-settings: one `key = value'\n"
        "# a line; the command line overrides each.\n";
    char line[256];
    std::snprintf(line, sizeof line, "scale = %d\nwidescreen = %s\nfullscreen = %s\n", opt.scale,
                  opt.widescreen ? "yes" : "no", opt.fullscreen ? "yes" : "no");
    text += line;
    std::snprintf(line, sizeof line, "limits = %s\nlevel = %d\n", opt.limits->name, opt.level);
    text += line;
    if (opt.width != 0)
        std::snprintf(line, sizeof line, "window = %dx%d\n", opt.width, opt.height);
    else
        std::snprintf(line, sizeof line,
                      "# window = WIDTHxHEIGHT (the default fits the picture)\n");
    text += line;
    for (int action = 0; action < BIND_ACTIONS; action++) {
        char list[160];
        bind_format_keys(action, list, sizeof list);
        std::snprintf(line, sizeof line, "key.%s = %s\n", bind_action_name(action), list);
        text += line;
    }
    for (int action = 0; action < BIND_ACTIONS; action++) {
        char list[160];
        bind_format_pads(action, list, sizeof list);
        std::snprintf(line, sizeof line, "button.%s = %s\n", bind_action_name(action), list);
        text += line;
    }
    return text;
}

// Reads the settings file under the command line, and writes it back when
// --save-settings asks (then the program ends: 0 when written, 1 when not).
void game_settings_apply(GameOptions *opt, uint64_t given) {
    char path[SETTINGS_PATH_MAX];
    const bool found = settings_path(path, sizeof path);
    SettingsContext context = {opt, given, ""};
    if (found) settings_load(path, apply_setting, &context);
    if (!opt->save_settings) return;
    if (!found) {
        std::fprintf(stderr,
                     "polydrive: cannot save settings: neither XDG_CONFIG_HOME nor HOME "
                     "names an absolute folder\n");
        std::exit(1);
    }
    const std::string text = settings_text(*opt);
    if (!settings_save(path, text.data(), text.size())) std::exit(1);
    std::printf("polydrive: settings written to %s\n", path);
    std::exit(std::fflush(stdout) == 0 && !std::ferror(stdout) ? 0 : 1);
}

void game_settings_usage(FILE *to) {
    std::fputs(
        "\n"
        "Settings:\n"
        "Settings are read at start-up from $XDG_CONFIG_HOME/polydrive/polydrive.conf\n"
        "(else ~/.config/polydrive/polydrive.conf), one `key = value' a line, # for\n"
        "comments; an option on the command line overrides the file:\n"
        "  scale = 1..6            widescreen = yes|no     fullscreen = yes|no\n"
        "  window = WIDTHxHEIGHT   limits = classic|raised level = N\n"
        "  key.ACTION = KEY, ...   keys for an action (none for no key)\n"
        "  button.ACTION = BUTTON, ...   gamepad controls for an action\n"
        "ACTION is accelerate, reverse, left, right, stop, quit, screenshot or\n"
        "fullscreen. KEY is a letter, a digit, F1..F12, Up, Down, Left, Right, Space,\n"
        "Enter, Escape, Tab, Backspace, Insert, Delete, Home, End, PageUp, PageDown,\n"
        "Keypad0..Keypad9, KeypadEnter, LeftShift, RightShift, LeftCtrl, RightCtrl,\n"
        "LeftAlt or RightAlt, optionally after Alt+. BUTTON is dpup, dpdown, dpleft,\n"
        "dpright, stickup, stickdown, stickleft, stickright, lefttrigger,\n"
        "righttrigger, a, b, x, y, leftshoulder, rightshoulder, start or back.\n"
        "A broken line is named on standard error and that setting keeps its default.\n",
        to);
}

// A level maker who rebuilt but did not copy the result into lib/ would
// otherwise play the old level without a word.
void say_if_build_is_newer(const char *data, const char *given) {
    const char *newer = datadir_newer_build(datadir_places(given), data);
    if (newer == nullptr) return;
    std::fprintf(stderr,
                 "polydrive: playing the data in %s; %s is newer (the build's "
                 "regen_lib target copies it into lib/, --data %s plays it)\n",
                 data, newer, newer);
}

}   // namespace

int main(int argc, char **argv) {
    uint64_t given = 0;
    GameOptions opt = parse_options(argc, argv, &given);
    game_settings_apply(&opt, given);
    const char *data = datadir_require("polydrive", opt.data);
    say_if_build_is_newer(data, opt.data);
    res_set_folder(data);
    // No output of the game may be written over one of its data files.
    fileio_add_input_folder(data);
    if (opt.watch) watch_folder(data, game_watch_host());
    limits_select(*opt.limits);
    game_choose_level(opt.level);
    if (opt.width != 0 || opt.fullscreen)
        plat_window_options(opt.width, opt.height, opt.fullscreen);
    view_set(opt.scale, opt.widescreen);
    if (opt.record_demo != nullptr) demo_record_to(opt.record_demo);
    if (opt.play_demo != nullptr) demo_play_from(opt.play_demo);
    if (opt.map) hud_show_map(1);
    game_main();
    return 0;
}
