// platform/bindings.cpp: the binding tables, their names and their lookup.
#include "platform/bindings.h"

#include <cstdio>
#include <cstring>
#include <strings.h>

#include "platform/kbd.h"
#include "platform/keymap.h"

namespace {

constexpr int ALT = 0x100;   // added to a usage: only with Alt held

struct Name {
    const char *name;
    int value;
};

// clang-format off
constexpr Name KEY_NAMES[] = {
    {"Enter", 40}, {"Escape", 41}, {"Backspace", 42}, {"Tab", 43}, {"Space", 44},
    {"F1", 58}, {"F2", 59}, {"F3", 60}, {"F4", 61}, {"F5", 62}, {"F6", 63},
    {"F7", 64}, {"F8", 65}, {"F9", 66}, {"F10", 67}, {"F11", 68}, {"F12", 69},
    {"Insert", 73}, {"Home", 74}, {"PageUp", 75}, {"Delete", 76}, {"End", 77}, {"PageDown", 78},
    {"Right", 79}, {"Left", 80}, {"Down", 81}, {"Up", 82},
    {"KeypadEnter", 88}, {"Keypad1", 89}, {"Keypad2", 90}, {"Keypad3", 91}, {"Keypad4", 92},
    {"Keypad5", 93}, {"Keypad6", 94}, {"Keypad7", 95}, {"Keypad8", 96}, {"Keypad9", 97},
    {"Keypad0", 98},
    {"LeftCtrl", 224}, {"LeftShift", 225}, {"LeftAlt", 226},
    {"RightCtrl", 228}, {"RightShift", 229}, {"RightAlt", 230},
};
constexpr Name PAD_NAMES[] = {
    {"dpup", BIND_PAD_DPUP}, {"dpdown", BIND_PAD_DPDOWN}, {"dpleft", BIND_PAD_DPLEFT},
    {"dpright", BIND_PAD_DPRIGHT}, {"stickup", BIND_PAD_STICKUP},
    {"stickdown", BIND_PAD_STICKDOWN}, {"stickleft", BIND_PAD_STICKLEFT},
    {"stickright", BIND_PAD_STICKRIGHT}, {"lefttrigger", BIND_PAD_LEFTTRIGGER},
    {"righttrigger", BIND_PAD_RIGHTTRIGGER}, {"a", BIND_PAD_A}, {"b", BIND_PAD_B},
    {"x", BIND_PAD_X}, {"y", BIND_PAD_Y}, {"leftshoulder", BIND_PAD_LEFTSHOULDER},
    {"rightshoulder", BIND_PAD_RIGHTSHOULDER}, {"start", BIND_PAD_START}, {"back", BIND_PAD_BACK},
};
// clang-format on

constexpr const char *ACTION_NAMES[BIND_ACTIONS] = {
    "accelerate", "reverse", "left", "right", "stop", "quit", "screenshot", "fullscreen",
};
constexpr int ACTION_CODES[BIND_ACTIONS] = {KEY_UP, KEY_DOWN,   KEY_LEFT, KEY_RIGHT,
                                            KEY_1,  KEY_ESCAPE, 0,        0};

struct List {
    int count;
    int item[BIND_MAX];
};

struct Bindings {
    List keys[BIND_ACTIONS];
    List pads[BIND_ACTIONS];
    bool keys_changed[BIND_ACTIONS];   // differ from the default
};

constexpr Bindings defaults() {
    Bindings b = {};
    b.keys[BIND_ACCELERATE] = {1, {82}};
    b.keys[BIND_REVERSE] = {1, {81}};
    b.keys[BIND_LEFT] = {1, {80}};
    b.keys[BIND_RIGHT] = {1, {79}};
    b.keys[BIND_STOP] = {1, {30}};
    b.keys[BIND_QUIT] = {1, {41}};
    b.keys[BIND_SCREENSHOT] = {1, {69}};
    b.keys[BIND_FULLSCREEN] = {2, {ALT | 40, ALT | 88}};
    b.pads[BIND_ACCELERATE] = {3, {BIND_PAD_DPUP, BIND_PAD_STICKUP, BIND_PAD_RIGHTTRIGGER}};
    b.pads[BIND_REVERSE] = {3, {BIND_PAD_DPDOWN, BIND_PAD_STICKDOWN, BIND_PAD_LEFTTRIGGER}};
    b.pads[BIND_LEFT] = {2, {BIND_PAD_DPLEFT, BIND_PAD_STICKLEFT}};
    b.pads[BIND_RIGHT] = {2, {BIND_PAD_DPRIGHT, BIND_PAD_STICKRIGHT}};
    b.pads[BIND_STOP] = {1, {BIND_PAD_A}};
    b.pads[BIND_QUIT] = {2, {BIND_PAD_START, BIND_PAD_BACK}};
    return b;
}
constexpr Bindings DEFAULTS = defaults();
Bindings bindings = DEFAULTS;

bool same(const List &a, const List &b) {
    if (a.count != b.count) return false;
    for (int i = 0; i < a.count; i++)
        if (a.item[i] != b.item[i]) return false;
    return true;
}

// The usage of a key name ("A", "7", "Up", ...), or -1.
int key_usage(const char *name) {
    if (name[0] != '\0' && name[1] == '\0') {
        const char c = name[0];
        if (c >= 'a' && c <= 'z') return 4 + (c - 'a');
        if (c >= 'A' && c <= 'Z') return 4 + (c - 'A');
        if (c >= '1' && c <= '9') return 30 + (c - '1');
        if (c == '0') return 39;
    }
    for (const Name &n : KEY_NAMES)
        if (strcasecmp(n.name, name) == 0) return n.value;
    return -1;
}

int key_value(const char *name) {
    if (strncasecmp(name, "Alt+", 4) == 0) {
        const int usage = key_usage(name + 4);
        return usage < 0 ? -1 : ALT | usage;
    }
    return key_usage(name);
}

int pad_value(const char *name) {
    for (const Name &n : PAD_NAMES)
        if (strcasecmp(n.name, name) == 0) return n.value;
    return -1;
}

// Splits list into names and looks each up; false at the first unknown one
// or one too many.
bool parse_list(const char *list, int (*lookup)(const char *), List *out, const char **why) {
    List parsed = {};
    const char *p = list;
    while (*p != '\0') {
        if (*p == ',' || *p == ' ' || *p == '\t') {
            ++p;
            continue;
        }
        char word[32];
        size_t n = 0;
        while (p[n] != '\0' && p[n] != ',' && p[n] != ' ' && p[n] != '\t') ++n;
        if (n >= sizeof word) {
            *why = "unknown name";
            return false;
        }
        std::memcpy(word, p, n);
        word[n] = '\0';
        p += n;
        if (strcasecmp(word, "none") == 0) continue;
        const int value = lookup(word);
        if (value < 0) {
            *why = "unknown name";
            return false;
        }
        if (parsed.count == BIND_MAX) {
            *why = "more than 8 names";
            return false;
        }
        parsed.item[parsed.count++] = value;
    }
    *out = parsed;
    return true;
}

bool valid_action(int action) { return action >= 0 && action < BIND_ACTIONS; }

void format_list(const List &list, const char *(*name_of)(int), char *out, size_t size) {
    if (size == 0) return;
    out[0] = '\0';
    if (list.count == 0) {
        std::snprintf(out, size, "none");
        return;
    }
    size_t used = 0;
    for (int i = 0; i < list.count && used < size; i++) {
        const int n = std::snprintf(out + used, size - used, "%s%s", i > 0 ? ", " : "",
                                    name_of(list.item[i]));
        if (n < 0) return;
        used += static_cast<size_t>(n);
    }
}

const char *key_name(int value) {
    static char name[24];
    const int usage = value & ~ALT;
    const char *base = nullptr;
    char single[2] = {0, 0};
    if (usage >= 4 && usage <= 29) {
        single[0] = static_cast<char>('A' + usage - 4);
        base = single;
    } else if (usage >= 30 && usage <= 38) {
        single[0] = static_cast<char>('1' + usage - 30);
        base = single;
    } else if (usage == 39) {
        base = "0";
    } else {
        for (const Name &n : KEY_NAMES)
            if (n.value == usage) base = n.name;
    }
    std::snprintf(name, sizeof name, "%s%s", (value & ALT) ? "Alt+" : "", base ? base : "none");
    return name;
}

const char *pad_name(int value) {
    for (const Name &n : PAD_NAMES)
        if (n.value == value) return n.name;
    return "none";
}

}   // namespace

const char *bind_action_name(int action) {
    return valid_action(action) ? ACTION_NAMES[action] : nullptr;
}

int bind_action_by_name(const char *name) {
    for (int a = 0; a < BIND_ACTIONS; a++)
        if (std::strcmp(ACTION_NAMES[a], name) == 0) return a;
    return -1;
}

int bind_action_scancode(int action) { return valid_action(action) ? ACTION_CODES[action] : 0; }

bool bind_set_keys(int action, const char *list, const char **why) {
    if (!valid_action(action)) {
        *why = "unknown action";
        return false;
    }
    List parsed;
    if (!parse_list(list, key_value, &parsed, why)) return false;
    bindings.keys[action] = parsed;
    bindings.keys_changed[action] = !same(parsed, DEFAULTS.keys[action]);
    return true;
}

bool bind_set_pads(int action, const char *list, const char **why) {
    if (!valid_action(action)) {
        *why = "unknown action";
        return false;
    }
    List parsed;
    if (!parse_list(list, pad_value, &parsed, why)) return false;
    bindings.pads[action] = parsed;
    return true;
}

void bind_format_keys(int action, char *out, size_t size) {
    if (valid_action(action)) format_list(bindings.keys[action], key_name, out, size);
}

void bind_format_pads(int action, char *out, size_t size) {
    if (valid_action(action)) format_list(bindings.pads[action], pad_name, out, size);
}

void bind_reset() { bindings = DEFAULTS; }

int bind_key(int usage, bool alt) {
    // A binding with Alt is the more particular one, so it is looked for first.
    if (alt) {
        for (int a = 0; a < BIND_ACTIONS; a++)
            for (int i = 0; i < bindings.keys[a].count; i++)
                if (bindings.keys[a].item[i] == (ALT | usage)) return a;
    }
    for (int a = 0; a < BIND_ACTIONS; a++)
        for (int i = 0; i < bindings.keys[a].count; i++)
            if (bindings.keys[a].item[i] == usage) return a;
    const int own = keymap_to_set1(usage);
    for (int a = 0; a < BIND_ACTIONS; a++)
        if (bindings.keys_changed[a] && own != 0 && own == ACTION_CODES[a]) return BIND_NONE;
    return BIND_OWN_CODE;
}

int bind_pad(int control) {
    for (int a = 0; a < BIND_ACTIONS; a++)
        for (int i = 0; i < bindings.pads[a].count; i++)
            if (bindings.pads[a].item[i] == control) return a;
    return BIND_NONE;
}
