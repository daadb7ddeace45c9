// frame/keyscript.cpp: key scripts parsed and printed.
#include "frame/keyscript.h"

#include <cstring>

#include "platform/kbd.h"

const KeyscriptKey KEYSCRIPT_KEYS[KEYSCRIPT_KEY_COUNT] = {
    {"up", 1u << 0, KEY_UP},       {"down", 1u << 1, KEY_DOWN}, {"left", 1u << 2, KEY_LEFT},
    {"right", 1u << 3, KEY_RIGHT}, {"stop", 1u << 4, KEY_1},    {"esc", 1u << 5, KEY_ESCAPE},
};

namespace {

bool is_space(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// A count: decimal digits only, at most KEYSCRIPT_COUNT_MAX.
bool parse_count(const std::string &word, int64_t *count) {
    if (word.empty() || word.size() > 10) return false;
    int64_t v = 0;
    for (char c : word) {
        if (c < '0' || c > '9') return false;
        v = v * 10 + (c - '0');
    }
    if (v > KEYSCRIPT_COUNT_MAX) return false;
    *count = v;
    return true;
}

// Words of a line, without its comment.
std::vector<std::string> split(const char *line, size_t length) {
    std::vector<std::string> words;
    size_t i = 0;
    while (i < length && line[i] != '#') {
        if (is_space(line[i])) {
            i++;
            continue;
        }
        const size_t start = i;
        while (i < length && line[i] != '#' && !is_space(line[i])) i++;
        words.emplace_back(line + start, i - start);
    }
    return words;
}

// Shown in messages: at most 40 bytes of a word, anything not printable as '?'.
std::string shown(const std::string &word) {
    std::string s = word.substr(0, 40);
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return word.size() > 40 ? s + "..." : s;
}

}   // namespace

bool keyscript_parse(const char *text, size_t size, const char *name, KeyScript *out,
                     std::string *error) {
    *out = KeyScript{};
    int line_number = 0;
    auto fail = [&](const std::string &message) {
        *error = std::string(name) + ":" + std::to_string(line_number) + ": " + message;
        return false;
    };
    if (size > KEYSCRIPT_TEXT_MAX)
        return fail("longer than " + std::to_string(KEYSCRIPT_TEXT_MAX) + " bytes");
    if (std::memchr(text, '\0', size) != nullptr) {
        line_number = 1;
        for (const char *p = text; *p != '\0'; p++) line_number += *p == '\n';
        return fail("a NUL byte: not a text");
    }
    size_t at = 0;
    while (at < size) {
        line_number++;
        const char *nl = static_cast<const char *>(std::memchr(text + at, '\n', size - at));
        const size_t length = nl != nullptr ? static_cast<size_t>(nl - (text + at)) : size - at;
        if (length > KEYSCRIPT_LINE_MAX)
            return fail("line longer than " + std::to_string(KEYSCRIPT_LINE_MAX) + " characters");
        const std::vector<std::string> words = split(text + at, length);
        at += length + 1;
        if (words.empty()) continue;

        int64_t count = 0;
        if (!parse_count(words[0], &count))
            return fail("expected a frame count, not '" + shown(words[0]) + "'" +
                        (words[0].find_first_not_of("0123456789") == std::string::npos
                             ? " (at most " + std::to_string(KEYSCRIPT_COUNT_MAX) + ")"
                             : ""));
        if (words.size() < 2) return fail("no keys after the count (use 'none')");
        uint32_t keys = 0;
        bool none = false;
        for (size_t i = 1; i < words.size(); i++) {
            if (words[i] == "none") {
                none = true;
                continue;
            }
            bool known = false;
            for (const KeyscriptKey &k : KEYSCRIPT_KEYS) {
                if (words[i] == k.name) {
                    keys |= k.bit;
                    known = true;
                }
            }
            if (!known) return fail("unknown key '" + shown(words[i]) + "'");
        }
        if (none && keys != 0) return fail("'none' cannot be combined with keys");
        out->runs.push_back({count, keys});
        out->frames += count;
    }
    return true;
}

uint32_t keyscript_keys_at(const KeyScript &script, int64_t frame) {
    const std::vector<KeyRun> &runs = script.runs;
    if (frame < 1 || runs.empty()) return 0;
    size_t i = script.cursor_run;
    int64_t first = script.cursor_first;
    if (i >= runs.size() || first < 1) i = 0, first = 1;
    // Back to the run that starts at or before the frame, then on to the one
    // that holds it; runs of 0 frames are passed over as a scan from the
    // start passes them.
    while (i > 0 && frame < first) first -= runs[--i].count;
    while (i + 1 < runs.size() && frame - first >= runs[i].count) first += runs[i++].count;
    script.cursor_run = i;
    script.cursor_first = first;
    return frame - first < runs[i].count ? runs[i].keys : 0;
}

void keyscript_append(KeyScript *script, uint32_t keys) {
    if (!script->runs.empty() && script->runs.back().keys == keys &&
        script->runs.back().count < KEYSCRIPT_COUNT_MAX)
        script->runs.back().count++;
    else
        script->runs.push_back({1, keys});
    script->frames++;
}

std::string keyscript_print(const KeyScript &script) {
    std::string text;
    for (const KeyRun &r : script.runs) {
        text += std::to_string(r.count);
        if (r.keys == 0) text += " none";
        for (const KeyscriptKey &k : KEYSCRIPT_KEYS)
            if (r.keys & k.bit) text += std::string(" ") + k.name;
        text += '\n';
    }
    return text;
}
