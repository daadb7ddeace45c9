// base/datadir.cpp: the data folder lookup.
#include "base/datadir.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef POLYDRIVE_BUILD_DIR
#define POLYDRIVE_BUILD_DIR ""
#endif

namespace {

struct DataDirState {
    char found[DATADIR_PATH_MAX];
    char looked[5 * (DATADIR_PATH_MAX + 20)];
    char exe[DATADIR_PATH_MAX];
    char build[DATADIR_PATH_MAX];
    char build_lib[DATADIR_PATH_MAX + 8];
};
DataDirState datadir;

void note_looked(const char *place, const char *why = "") {
    char *end = datadir.looked + std::strlen(datadir.looked);
    const size_t room = sizeof datadir.looked - static_cast<size_t>(end - datadir.looked);
    std::snprintf(end, room, "%s%s%s", datadir.looked[0] != '\0' ? ", " : "", place, why);
}

// True (and found set) when the folder holds the marker; the caller has
// noted the place as looked at.
bool holds_marker(const char *folder) {
    // A path the cache could not take whole is no data folder.
    if (std::strlen(folder) >= sizeof datadir.found) return false;
    char path[DATADIR_PATH_MAX + sizeof DATADIR_MARKER + 1];
    const int n = std::snprintf(path, sizeof path, "%s/%s", folder, DATADIR_MARKER);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;
    struct stat st;
    if (stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    std::snprintf(datadir.found, sizeof datadir.found, "%s", folder);
    return true;
}

// The folder above the one that holds `file`: "/opt/p" for "/opt/p/bin/x".
// Empty when the path has fewer than two levels.
void prefix_of(const char *file, char *out, size_t size) {
    out[0] = '\0';
    const char *slash = std::strrchr(file, '/');
    if (slash == nullptr) return;
    const char *above = slash;
    while (above > file && *--above != '/') {}
    if (*above != '/') return;
    std::snprintf(out, size, "%.*s", static_cast<int>(above - file), file);
}

// True when `file` lies inside the folder `dir` (both absolute, no trailing /).
bool inside(const char *file, const char *dir) {
    const size_t n = std::strlen(dir);
    return n > 0 && std::strncmp(file, dir, n) == 0 && file[n] == '/';
}

// True when the two regular files hold the same bytes; false when either
// cannot be read.
bool same_bytes(const char *a, const char *b) {
    const int fa = open(a, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    const int fb = fa < 0 ? -1 : open(b, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    bool same = fa >= 0 && fb >= 0;
    while (same) {
        char ba[4096], bb[4096];
        const ssize_t na = read(fa, ba, sizeof ba), nb = read(fb, bb, sizeof bb);
        // Regular files give whole reads until their end.
        if (na < 0 || na != nb || std::memcmp(ba, bb, static_cast<size_t>(na)) != 0) same = false;
        if (na <= 0) break;
    }
    if (fa >= 0) close(fa);
    if (fb >= 0) close(fb);
    return same;
}

// True when `name` in `build` is a regular file that `found` lacks, or one
// that differs from found's and was changed after it.
bool newer_in_build(const char *build, const char *found, const char *name) {
    char ours[DATADIR_PATH_MAX + 300], theirs[DATADIR_PATH_MAX + 300];
    std::snprintf(ours, sizeof ours, "%s/%s", build, name);
    std::snprintf(theirs, sizeof theirs, "%s/%s", found, name);
    struct stat b, f;
    if (stat(ours, &b) != 0 || !S_ISREG(b.st_mode)) return false;
    if (stat(theirs, &f) != 0) return true;
    if (!S_ISREG(f.st_mode)) return false;
    const bool later = b.st_mtim.tv_sec != f.st_mtim.tv_sec ? b.st_mtim.tv_sec > f.st_mtim.tv_sec
                                                            : b.st_mtim.tv_nsec > f.st_mtim.tv_nsec;
    return later && !same_bytes(ours, theirs);
}

}   // namespace

DataDirPlaces datadir_places(const char *given) {
    DataDirPlaces p{given, std::getenv("POLYDRIVE_DATA"), nullptr, nullptr};
    const ssize_t n = readlink("/proc/self/exe", datadir.exe, sizeof datadir.exe - 1);
    if (n > 0) {
        datadir.exe[n] = '\0';
        p.exe = datadir.exe;
    }
    // The build tree as the file system names it, so that it compares with
    // the resolved path of the program.
    if (POLYDRIVE_BUILD_DIR[0] != '\0' && realpath(POLYDRIVE_BUILD_DIR, datadir.build) != nullptr)
        p.build = datadir.build;
    return p;
}

const char *datadir_search(const DataDirPlaces &places) {
    datadir.looked[0] = '\0';
    datadir.found[0] = '\0';
    if (places.given != nullptr) {
        note_looked(places.given, " (--data)");
        return holds_marker(places.given) ? datadir.found : nullptr;
    }
    if (places.env != nullptr && places.env[0] != '\0') {
        note_looked(places.env, " (POLYDRIVE_DATA)");
        return holds_marker(places.env) ? datadir.found : nullptr;
    }
    // Found as "lib", as the game always opened it; named ./lib in the message.
    note_looked("./lib");
    if (holds_marker("lib")) return datadir.found;
    if (places.exe != nullptr) {
        char prefix[DATADIR_PATH_MAX];
        prefix_of(places.exe, prefix, sizeof prefix);
        char share[DATADIR_PATH_MAX + 32];
        std::snprintf(share, sizeof share, "%s/share/polydrive/lib", prefix);
        note_looked(share);
        if (holds_marker(share)) return datadir.found;
    }
    if (places.build != nullptr && places.exe != nullptr && inside(places.exe, places.build)) {
        char lib[DATADIR_PATH_MAX + 8];
        std::snprintf(lib, sizeof lib, "%s/lib", places.build);
        note_looked(lib);
        if (holds_marker(lib)) return datadir.found;
    }
    return nullptr;
}

const char *datadir_looked() { return datadir.looked; }

const char *datadir_newer_build(const DataDirPlaces &places, const char *found) {
    if (places.given != nullptr || (places.env != nullptr && places.env[0] != '\0')) return nullptr;
    if (places.build == nullptr || places.exe == nullptr || !inside(places.exe, places.build))
        return nullptr;
    std::snprintf(datadir.build_lib, sizeof datadir.build_lib, "%s/lib", places.build);
    char real_found[DATADIR_PATH_MAX];
    if (realpath(found, real_found) != nullptr && std::strcmp(real_found, datadir.build_lib) == 0)
        return nullptr;
    DIR *dir = opendir(datadir.build_lib);
    if (dir == nullptr) return nullptr;
    bool newer = false;
    while (!newer) {
        const dirent *e = readdir(dir);
        if (e == nullptr) break;
        if (e->d_name[0] != '.') newer = newer_in_build(datadir.build_lib, found, e->d_name);
    }
    closedir(dir);
    return newer ? datadir.build_lib : nullptr;
}

const char *datadir_require(const char *program, const char *given) {
    const char *found = datadir_search(datadir_places(given));
    if (found != nullptr) return found;
    std::fprintf(stderr, "%s: cannot find the game's data: no %s in %s\n", program, DATADIR_MARKER,
                 datadir.looked);
    std::exit(1);
}
