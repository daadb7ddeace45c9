// frame/demo.cpp: the key-script parser and writer, and the game's demos.
#include "frame/demo.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "base/fatal.h"
#include "base/save.h"
#include "platform/backend.h"
#include "platform/kbd.h"

const DemoKey DEMO_KEYS[DEMO_KEY_COUNT] = {
    {"up", 1u << 0, KEY_UP},     {"down", 1u << 1, KEY_DOWN}, {"left", 1u << 2, KEY_LEFT},
    {"right", 1u << 3, KEY_RIGHT}, {"stop", 1u << 4, KEY_1},    {"esc", 1u << 5, KEY_ESCAPE},
};

namespace {

constexpr long SCRIPT_BYTES_MAX = 64L << 20;   // a script file larger than this is refused
constexpr size_t RECORD_RESERVE = 8192;        // segments: more than a timed game's frames

constexpr int DEMO_OFF = 0;
constexpr int DEMO_RECORD = 1;
constexpr int DEMO_PLAY = 2;

struct DemoState {
    int mode;
    char path[SAVE_PATH_MAX];           // the demo being recorded
    std::vector<DemoSegment> segments;  // recorded, or being played
    size_t index;                       // playing: the segment of the next frame
    long used;                          // playing: frames of it already played
    uint32_t held;                      // playing: the keys handed to the key table
    int escape_only;                    // playing: the keyboard filter is installed
};
DemoState demo;

bool fault(DemoError *error, int line, const char *format, const char *word = "") {
    error->line = line;
    std::snprintf(error->message, sizeof error->message, format, word);
    return false;
}

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Parses one line (NUL-terminated, newline removed) into script.
bool parse_line(char *line, int number, std::vector<DemoSegment> *script, DemoError *error) {
    if (char *hash = std::strchr(line, '#')) *hash = '\0';
    char *words[DEMO_LINE_MAX / 2 + 1];
    int count = 0;
    for (char *p = line; *p != '\0';) {
        while (is_space(*p)) p++;
        if (*p == '\0') break;
        words[count++] = p;
        while (*p != '\0' && !is_space(*p)) p++;
        if (*p != '\0') *p++ = '\0';
    }
    if (count == 0) return true;

    char *end = nullptr;
    errno = 0;
    const long frames = std::strtol(words[0], &end, 10);
    if (errno != 0 || *end != '\0' || frames < 0 || end == words[0])
        return fault(error, number, "expected a frame count, not '%s'", words[0]);
    if (count < 2) return fault(error, number, "no keys after the count (use 'none')");

    uint32_t keys = 0;
    bool none = false;
    for (int i = 1; i < count; i++) {
        if (std::strcmp(words[i], "none") == 0) {
            none = true;
            continue;
        }
        bool known = false;
        for (const DemoKey &k : DEMO_KEYS) {
            if (std::strcmp(words[i], k.name) == 0) {
                keys |= k.bit;
                known = true;
            }
        }
        if (!known) return fault(error, number, "unknown key '%s'", words[i]);
    }
    if (none && keys != 0) return fault(error, number, "'none' cannot be combined with keys");
    script->push_back({frames, keys});
    return true;
}

// The playing game's keyboard: only Escape reaches the key table; the demo
// gives the rest.
void escape_only(int scancode, int press) {
    if (scancode == KEY_ESCAPE) kbd_event_handler(scancode, press);
}

void play_frame_keys(uint32_t want) {
    for (const DemoKey &k : DEMO_KEYS) {
        if ((demo.held & k.bit) && !(want & k.bit)) kbd_event_handler(k.scancode, 0);
    }
    for (const DemoKey &k : DEMO_KEYS) {
        if (!(demo.held & k.bit) && (want & k.bit)) kbd_event_handler(k.scancode, 1);
    }
    demo.held = want;
}

}  // namespace

bool demo_parse(const char *text, size_t size, std::vector<DemoSegment> *script, DemoError *error) {
    script->clear();
    int number = 0;
    size_t at = 0;
    while (at < size) {
        number++;
        const char *newline = static_cast<const char *>(std::memchr(text + at, '\n', size - at));
        const size_t length = newline != nullptr ? static_cast<size_t>(newline - (text + at)) : size - at;
        if (length > DEMO_LINE_MAX) return fault(error, number, "line too long");
        if (std::memchr(text + at, '\0', length) != nullptr) return fault(error, number, "NUL byte in the line");
        char line[DEMO_LINE_MAX + 1];
        std::memcpy(line, text + at, length);
        line[length] = '\0';
        if (!parse_line(line, number, script, error)) return false;
        at += length + 1;
    }
    return true;
}

bool demo_read(const char *path, std::vector<DemoSegment> *script, char *message, size_t size) {
    FILE *f = std::fopen(path, "rb");
    if (f == nullptr) {
        std::snprintf(message, size, "cannot open key script '%s': %s", path, std::strerror(errno));
        return false;
    }
    std::vector<char> text;
    char block[65536];
    size_t got;
    while ((got = std::fread(block, 1, sizeof block, f)) > 0 &&
           text.size() + got <= static_cast<size_t>(SCRIPT_BYTES_MAX)) {
        text.insert(text.end(), block, block + got);
    }
    const bool too_large = got > 0;
    const bool bad = std::ferror(f) != 0;
    std::fclose(f);
    if (bad || too_large) {
        std::snprintf(message, size, "cannot read key script '%s'%s", path,
                      too_large ? ": larger than 64 MiB" : "");
        return false;
    }
    DemoError error;
    if (!demo_parse(text.data(), text.size(), script, &error)) {
        std::snprintf(message, size, "%s:%d: %s", path, error.line, error.message);
        return false;
    }
    return true;
}

bool demo_write(FILE *stream, const DemoSegment *segments, size_t count) {
    long frames = 0;
    for (size_t i = 0; i < count; i++)
        frames = segments[i].count > LONG_MAX - frames ? LONG_MAX : frames + segments[i].count;
    std::fprintf(stream, "# polydrive demo: %ld frames\n", frames);
    for (size_t i = 0; i < count; i++) {
        std::fprintf(stream, "%ld", segments[i].count);
        if (segments[i].keys == 0) std::fputs(" none", stream);
        for (const DemoKey &k : DEMO_KEYS) {
            if (segments[i].keys & k.bit) std::fprintf(stream, " %s", k.name);
        }
        std::fputc('\n', stream);
    }
    return std::ferror(stream) == 0;
}

uint32_t demo_keys_at(const std::vector<DemoSegment> &script, long frame) {
    long first = 1;
    for (const DemoSegment &s : script) {
        if (frame - first < s.count) return s.keys;
        first += s.count;   // frame > first here, so this cannot overflow
    }
    return 0;
}

long demo_frame_count(const std::vector<DemoSegment> &script) {
    long frames = 0;
    for (const DemoSegment &s : script) frames = s.count > LONG_MAX - frames ? LONG_MAX : frames + s.count;
    return frames;
}

void demo_record_to(const char *path) {
    // Refused now rather than after the drive: a folder that takes no file.
    SaveFile probe;
    if (!save_begin(&probe, path)) fatal_error("cannot write demo `%s' (%s)", path, std::strerror(errno));
    save_abort(&probe);
    demo.mode = DEMO_RECORD;
    std::snprintf(demo.path, sizeof demo.path, "%s", path);
    demo.segments.clear();
    demo.segments.reserve(RECORD_RESERVE);
}

void demo_play_from(const char *path) {
    char message[1200];
    if (!demo_read(path, &demo.segments, message, sizeof message)) fatal_error("%s", message);
    demo.mode = DEMO_PLAY;
    demo.index = 0;
    demo.used = 0;
    demo.held = 0;
    demo.escape_only = 0;
}

int demo_playing() { return demo.mode == DEMO_PLAY; }

int demo_frame_begin() {
    if (demo.mode == DEMO_RECORD) {
        // The Escape test reads the keyboard once for the whole frame.
        kbd_hold_polls(0);
    } else if (demo.mode == DEMO_PLAY) {
        if (!demo.escape_only) {
            plat_keyboard_set_handler(escape_only);
            demo.escape_only = 1;
        }
        while (demo.index < demo.segments.size() && demo.used >= demo.segments[demo.index].count) {
            demo.index++;
            demo.used = 0;
        }
        if (demo.index == demo.segments.size()) return 0;
        demo.used++;
        play_frame_keys(demo.segments[demo.index].keys);
    }
    return 1;
}

void demo_frame_keys() {
    if (demo.mode != DEMO_RECORD) return;
    kbd_hold_polls(1);
    uint32_t keys = 0;
    for (const DemoKey &k : DEMO_KEYS) {
        if (kbd_is_down(k.scancode)) keys |= k.bit;
    }
    if (!demo.segments.empty() && demo.segments.back().keys == keys && demo.segments.back().count < LONG_MAX) {
        demo.segments.back().count++;
    } else {
        demo.segments.push_back({1, keys});
    }
}

void demo_finish() {
    const int mode = demo.mode;
    demo.mode = DEMO_OFF;
    if (mode != DEMO_RECORD) return;
    kbd_hold_polls(0);
    SaveFile f;
    if (!save_begin(&f, demo.path) || !demo_write(f.stream, demo.segments.data(), demo.segments.size()) ||
        !save_commit(&f)) {
        const int saved = errno;
        save_abort(&f);
        fatal_error("cannot write demo `%s' (%s)", demo.path, std::strerror(saved));
    }
}
