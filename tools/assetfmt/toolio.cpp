// tools/assetfmt/toolio.cpp: bounded inputs, whole outputs, stop signals.
#include "tools/assetfmt/toolio.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "base/fileio.h"
#include "base/save.h"
#include "scene/limits.h"

namespace {

constexpr int REMOVALS_MAX = 4;

struct ToolioState {
    // Paths the signal handler removes; an empty string is a free slot.
    char removals[REMOVALS_MAX][SAVE_PATH_MAX];
};
ToolioState toolio;

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
    return fileio_read(path.c_str(), limit, bytes, error);
}

bool toolio_is_input(const std::string &path) { return fileio_is_input(path.c_str()); }

bool toolio_write(const std::string &path, const void *data, size_t size, std::string *error) {
    return fileio_write(path.c_str(), data, size, error);
}

void toolio_stdout_write(const void *data, size_t size) { fileio_stdout_write(data, size); }

bool toolio_finish_stdout(std::string *error) { return fileio_finish_stdout(error); }

void toolio_answer_help_or_version(const std::string &arg, const char *program, const char *usage,
                                   const char *version) {
    if (arg == "--help" || arg == "-h")
        std::fputs(usage, stdout);
    else if (arg == "--version")
        std::printf("%s %s\n", program, version);
    else
        return;
    std::string error;
    if (toolio_finish_stdout(&error)) std::exit(0);
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    std::exit(1);
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
