// frame/levels.cpp: levels by number, and the pool check at load.
#include "frame/levels.h"

#include <dirent.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "base/fatal.h"
#include "res/res.h"
#include "scene/fileformat.h"
#include "scene/limits.h"

namespace {

constexpr int LISTED_MAX = 16;   // level numbers a missing-level line names

// The number of a name "level<N>.3dw" (N in range, no leading zero), else 0.
int number_of(const char *name) {
    if (std::strncmp(name, "level", 5) != 0) return 0;
    const char *digits = name + 5;
    const char *dot = std::strchr(digits, '.');
    if (dot == nullptr || std::strcmp(dot, ".3dw") != 0 || dot == digits) return 0;
    char text[8];
    const size_t length = static_cast<size_t>(dot - digits);
    if (length >= sizeof text) return 0;
    std::memcpy(text, digits, length);
    text[length] = '\0';
    return level_parse_number(text);
}

// The line for a missing level: the levels the folder holds, lowest first.
[[noreturn]] void missing(int level) {
    int found[LISTED_MAX];
    int count = 0, more = 0;
    if (DIR *dir = opendir(res_folder())) {
        while (const dirent *entry = readdir(dir)) {
            const int n = number_of(entry->d_name);
            if (n == 0 || res_file_size(entry->d_name) < 0) continue;
            if (count < LISTED_MAX)
                found[count++] = n;
            else
                more++;
        }
        closedir(dir);
    }
    std::sort(found, found + count);
    char list[LISTED_MAX * 7 + 8] = "";
    for (int i = 0; i < count; i++) {
        char item[12];
        std::snprintf(item, sizeof item, "%s%d", i == 0 ? "" : ", ", found[i]);
        std::strcat(list, item);
    }
    if (more > 0) std::strcat(list, " ...");
    if (count == 0) fatal_error("no level %d in %s: it holds no level", level, res_folder());
    fatal_error("no level %d in %s: it holds level%s %s", level, res_folder(), count > 1 ? "s" : "",
                list);
}

}   // namespace

int level_parse_number(const char *text) {
    if (text[0] < '1' || text[0] > '9') return 0;
    int n = 0;
    for (const char *p = text; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') return 0;
        n = n * 10 + (*p - '0');
        if (n > LEVEL_NUMBER_MAX) return 0;
    }
    return n;
}

void level_file_name(int level, char *name) {
    std::snprintf(name, LEVEL_FILE_NAME_SIZE, "level%d.3dw", level);
}

void level_require(int level) {
    char name[LEVEL_FILE_NAME_SIZE];
    level_file_name(level, name);
    const int64_t world = res_file_size(name);
    if (world < 0) missing(level);
    // A missing car is left to the loader's own line.
    const int64_t car = res_file_size(START_CAR_MODEL);
    char what[64];
    std::snprintf(what, sizeof what, "%s with %s", name, START_CAR_MODEL);
    limits_require_pool(what, world + std::max<int64_t>(car, 0));
}

int level_option(const char *program, const char *text) {
    const int n = level_parse_number(text);
    if (n == 0)
        std::fprintf(stderr, "%s: --level needs a number in 1..%d, not '%s'\n", program,
                     LEVEL_NUMBER_MAX, text);
    return n != 0 ? n : -1;
}
