// frame/settings.cpp: finding, reading, parsing and writing the settings file.
#include "frame/settings.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

#include "base/fileio.h"
#include "base/save.h"

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// Cuts blanks off both ends of [begin, end) in place; returns the new begin.
char *trim(char *begin, char *end) {
    while (begin < end && is_blank(*begin)) ++begin;
    while (end > begin && is_blank(end[-1])) --end;
    *end = '\0';
    return begin;
}

// One line of at most SETTINGS_LINE_MAX bytes, in a buffer of its own.
// Returns the reason it is broken, or null when it was taken or skipped.
const char *parse_line(const char *text, size_t length, SettingsApply apply, void *context) {
    if (length > SETTINGS_LINE_MAX) return "line too long";
    if (std::memchr(text, '\0', length) != nullptr) return "NUL byte in the line";
    char line[SETTINGS_LINE_MAX + 1];
    std::memcpy(line, text, length);
    char *begin = trim(line, line + length);
    if (*begin == '\0' || *begin == '#') return nullptr;
    char *equals = std::strchr(begin, '=');
    if (equals == nullptr) return "expected `key = value'";
    char *end = begin + std::strlen(begin);
    const char *key = trim(begin, equals);
    const char *value = trim(equals + 1, end);
    if (*key == '\0') return "no key before `='";
    return apply(key, value, context);
}

}   // namespace

int settings_parse(const char *text, size_t size, const char *file_name, SettingsApply apply,
                   void *context, FILE *report) {
    int broken = 0;
    int line_number = 0;
    size_t at = 0;
    while (at < size) {
        ++line_number;
        const void *newline = std::memchr(text + at, '\n', size - at);
        const size_t end = newline != nullptr
                               ? static_cast<size_t>(static_cast<const char *>(newline) - text)
                               : size;
        const char *why = parse_line(text + at, end - at, apply, context);
        if (why != nullptr) {
            std::fprintf(report, "polydrive: %s:%d: %s\n", file_name, line_number, why);
            ++broken;
        }
        at = end + 1;
    }
    return broken;
}

bool settings_path(char *path, size_t size) {
    const char *config = std::getenv("XDG_CONFIG_HOME");
    int n = -1;
    if (config != nullptr && config[0] == '/') {
        n = std::snprintf(path, size, "%s/polydrive/polydrive.conf", config);
    } else {
        const char *home = std::getenv("HOME");
        if (home != nullptr && home[0] == '/')
            n = std::snprintf(path, size, "%s/.config/polydrive/polydrive.conf", home);
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        if (size > 0) path[0] = '\0';
        return false;
    }
    return true;
}

int settings_load(const char *path, SettingsApply apply, void *context) {
    // Without blocking, so that a FIFO or a device in its place never holds
    // the game up; only a regular file is read.
    const int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT || errno == ENOTDIR) return 0;
        std::fprintf(stderr, "polydrive: %s: %s\n", path, std::strerror(errno));
        return 1;
    }
    struct stat st;
    const char *refusal = nullptr;
    if (fstat(fd, &st) != 0) {
        refusal = std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        refusal = "not a regular file";
    } else if (st.st_size > SETTINGS_FILE_MAX) {
        refusal = "larger than 65536 bytes";
    } else {
        // An input of the run: no demo or other output may be written over it.
        fileio_add_input_id(st.st_dev, st.st_ino);
    }
    static char text[SETTINGS_FILE_MAX + 1];
    size_t size = 0;
    while (refusal == nullptr) {
        // One byte more than the limit tells a file that grew meanwhile.
        const ssize_t got = read(fd, text + size, sizeof text - size);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) {
            refusal = std::strerror(errno);
        } else if (got == 0) {
            break;
        } else {
            size += static_cast<size_t>(got);
            if (size > SETTINGS_FILE_MAX) refusal = "larger than 65536 bytes";
        }
    }
    close(fd);
    if (refusal != nullptr) {
        std::fprintf(stderr, "polydrive: %s: %s\n", path, refusal);
        return 1;
    }
    return settings_parse(text, size, path, apply, context);
}

int settings_bool(const char *value) {
    static const char *const YES[] = {"yes", "true", "on", "1"};
    static const char *const NO[] = {"no", "false", "off", "0"};
    for (const char *word : YES)
        if (strcasecmp(value, word) == 0) return 1;
    for (const char *word : NO)
        if (strcasecmp(value, word) == 0) return 0;
    return -1;
}

bool settings_save(const char *path, const char *text, size_t size) {
    // Only a regular file is replaced, never a device, a FIFO or a folder.
    struct stat st;
    if (stat(path, &st) == 0 && !S_ISREG(st.st_mode)) {
        std::fprintf(stderr, "polydrive: cannot write %s: not a regular file\n", path);
        return false;
    }
    // The folders above the file, made as mkdir -p would.
    char folder[SETTINGS_PATH_MAX];
    std::snprintf(folder, sizeof folder, "%s", path);
    char *slash = std::strrchr(folder, '/');
    if (slash != nullptr && slash != folder) {
        *slash = '\0';
        for (char *p = folder + 1; *p != '\0'; ++p) {
            if (*p != '/') continue;
            *p = '\0';
            if (mkdir(folder, 0777) != 0 && errno != EEXIST) break;
            *p = '/';
        }
        mkdir(folder, 0777);
    }
    SaveFile file;
    bool ok = save_begin(&file, path);
    if (ok) {
        ok = std::fwrite(text, 1, size, file.stream) == size;
        if (ok) {
            ok = save_commit(&file);
        } else {
            const int saved = errno;
            save_abort(&file);
            errno = saved;
        }
    }
    if (!ok) std::fprintf(stderr, "polydrive: cannot write %s: %s\n", path, std::strerror(errno));
    return ok;
}
