// fuzz/fuzz_settings.cpp: the settings file on any bytes, with every value
// also taken as a key list and a pad list of some action. The parser hands
// over only trimmed, non-empty keys without `=' and values without a line
// break or NUL, at most one per line, and never reports more broken lines
// than there are lines; a list the bindings take prints back to a list that
// they take again to the same bindings.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/settings.h"
#include "platform/bindings.h"

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}

bool blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

int calls;
// Every broken line is a message; the run needs none of them.
FILE *messages = std::fopen("/dev/null", "w");

void check_round_trip(int action, bool keys, const char *value) {
    const char *why = nullptr;
    if (!(keys ? bind_set_keys(action, value, &why) : bind_set_pads(action, value, &why))) {
        require(why != nullptr);
        return;
    }
    char printed[256], again[256];
    (keys ? bind_format_keys : bind_format_pads)(action, printed, sizeof printed);
    require(keys ? bind_set_keys(action, printed, &why) : bind_set_pads(action, printed, &why));
    (keys ? bind_format_keys : bind_format_pads)(action, again, sizeof again);
    require(std::strcmp(printed, again) == 0);
}

const char *take(const char *key, const char *value, void *) {
    ++calls;
    const size_t k = std::strlen(key), v = std::strlen(value);
    require(k > 0 && k <= SETTINGS_LINE_MAX && v <= SETTINGS_LINE_MAX);
    require(!blank(key[0]) && !blank(key[k - 1]) && key[0] != '#');
    require(v == 0 || (!blank(value[0]) && !blank(value[v - 1])));
    require(std::strchr(key, '=') == nullptr && std::strchr(key, '\n') == nullptr);
    require(std::strchr(value, '\n') == nullptr);
    const int action = static_cast<int>(k % BIND_ACTIONS);
    check_round_trip(action, true, value);
    check_round_trip(action, false, value);
    bind_reset();
    return (k & 1) ? "refused" : nullptr;
}
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    calls = 0;
    const char *text = reinterpret_cast<const char *>(data);
    const int broken = settings_parse(text, size, "fuzz", take, nullptr, messages);
    size_t lines = size > 0 ? 1 : 0;
    for (size_t i = 0; i + 1 < size; i++) lines += data[i] == '\n';
    require(broken >= 0 && calls >= 0 && static_cast<size_t>(calls) <= lines);
    require(static_cast<size_t>(broken) <= lines);
    return 0;
}
