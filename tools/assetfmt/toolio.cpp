// tools/assetfmt/toolio.cpp: bounded inputs, whole outputs, stop signals.
#include "tools/assetfmt/toolio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "base/save.h"
#include "scene/limits.h"

namespace {

constexpr int REMOVALS_MAX = 4;

struct FileId {
    dev_t dev;
    ino_t ino;
};

struct ToolioState {
    std::vector<FileId> inputs;
    // Paths the signal handler removes; an empty string is a free slot.
    char removals[REMOVALS_MAX][SAVE_PATH_MAX];
    int stdout_errno;   // of the first failed toolio_stdout_write, 0 for none
};
ToolioState toolio;

std::string why(const std::string &path, int error) { return path + ": " + std::strerror(error); }

void on_stop_signal(int sig) {
    save_abort_pending();
    for (const auto &path : toolio.removals) {
        if (path[0] == '\0') continue;
        if (unlink(path) != 0) rmdir(path);
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

}   // namespace

bool toolio_read(const std::string &path, size_t limit, std::vector<uint8_t> *bytes,
                 std::string *error) {
    bytes->clear();
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        *error = why(path, errno);
        return false;
    }
    struct stat st;
    bool ok = fstat(fd, &st) == 0;
    if (!ok) {
        *error = why(path, errno);
    } else if (!S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file";
        ok = false;
    } else if (static_cast<uint64_t>(st.st_size) > limit) {
        *error = path + ": " + std::to_string(st.st_size) + " bytes, more than the " +
                 std::to_string(limit) + " an input may hold";
        ok = false;
    }
    if (ok) {
        toolio.inputs.push_back({st.st_dev, st.st_ino});
        // One byte more than the limit tells a file that grew past it.
        bytes->resize(limit + 1 < limit ? limit : limit + 1);
        size_t got = 0;
        while (got < bytes->size()) {
            const ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) {
                *error = why(path, errno);
                ok = false;
                break;
            }
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        bytes->resize(got);
        if (ok && got > limit) {
            *error = path + ": more than the " + std::to_string(limit) + " bytes an input may hold";
            ok = false;
        }
    }
    close(fd);
    if (!ok) bytes->clear();
    return ok;
}

bool toolio_is_input(const std::string &path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    for (const FileId &id : toolio.inputs)
        if (id.dev == st.st_dev && id.ino == st.st_ino) return true;
    return false;
}

bool toolio_write(const std::string &path, const void *data, size_t size, std::string *error) {
    if (toolio_is_input(path)) {
        *error = path + ": is an input of this run; refusing to write over it";
        return false;
    }
    // Renaming over a device, a FIFO or a folder would replace it by a file
    // (as root even /dev/null): only a regular file, or nothing, is replaced.
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        *error = path + ": not a regular file; refusing to replace it";
        return false;
    }
    SaveFile f;
    if (!save_begin(&f, path.c_str())) {
        *error = why(path, errno);
        return false;
    }
    if (size > 0 && std::fwrite(data, 1, size, f.stream) != size) {
        *error = why(path, errno != 0 ? errno : EIO);
        save_abort(&f);
        return false;
    }
    if (!save_commit(&f)) {
        *error = why(path, errno);
        return false;
    }
    return true;
}

void toolio_stdout_write(const void *data, size_t size) {
    errno = 0;
    if (std::fwrite(data, 1, size, stdout) != size && toolio.stdout_errno == 0)
        toolio.stdout_errno = errno != 0 ? errno : EIO;
}

bool toolio_finish_stdout(std::string *error) {
    errno = 0;
    bool ok = std::fflush(stdout) == 0 && std::ferror(stdout) == 0;
    int saved = toolio.stdout_errno != 0 ? toolio.stdout_errno : errno;
    if (std::fclose(stdout) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    if (!ok) *error = "standard output: " + std::string(std::strerror(saved != 0 ? saved : EIO));
    return ok;
}

void toolio_catch_signals() {
    struct sigaction sa = {};
    sa.sa_handler = on_stop_signal;
    sigemptyset(&sa.sa_mask);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&sa.sa_mask, sig);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaction(sig, &sa, nullptr);
}

void toolio_remove_on_signal(const char *path) {
    const size_t len = std::strlen(path);
    if (len >= SAVE_PATH_MAX) return;
    for (auto &slot : toolio.removals) {
        if (slot[0] != '\0') continue;
        // The first byte last, so the handler never sees half a path.
        std::memcpy(slot + 1, path + 1, len);
        std::atomic_signal_fence(std::memory_order_seq_cst);
        slot[0] = path[0];
        return;
    }
}

void toolio_forget_removals() {
    for (auto &slot : toolio.removals) slot[0] = '\0';
}

bool toolio_number(const char *text, int64_t min, int64_t max, int64_t *value) {
    const char *p = text;
    const bool negative = *p == '-';
    if (negative) p++;
    if (*p == '\0') return false;
    // Accumulated as a negative number, which reaches INT64_MIN too.
    int64_t v = 0;
    for (; *p != '\0'; p++) {
        if (*p < '0' || *p > '9') return false;
        const int digit = *p - '0';
        if (v < (INT64_MIN + digit) / 10) return false;
        v = v * 10 - digit;
    }
    if (!negative) {
        if (v == INT64_MIN) return false;
        v = -v;
    }
    if (v < min || v > max) return false;
    *value = v;
    return true;
}

void toolio_select_limits(const char *program, const char *name) {
    const Limits *limits = limits_by_name(name);
    if (limits == nullptr) {
        std::fprintf(stderr, "%s: --limits is %s or %s, not '%s'\n", program, LIMITS_CLASSIC.name,
                     LIMITS_RAISED.name, name);
        std::exit(TOOLIO_USAGE_STATUS);
    }
    limits_select(*limits);
}
