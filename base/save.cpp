// base/save.cpp: temporary file, flush, sync, rename.
#include "base/save.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
struct SaveState {
    // Temporary paths of unfinished saves; an empty string is a free slot.
    // Written only outside signal handlers, read by save_abort_pending.
    char pending[SAVE_PENDING_MAX][SAVE_PATH_MAX];
};
SaveState save;

int take_slot(const char *temp) {
    for (int i = 0; i < SAVE_PENDING_MAX; i++) {
        if (save.pending[i][0] == '\0') {
            // The first byte last: the handler never sees half a path.
            std::memcpy(save.pending[i] + 1, temp + 1, std::strlen(temp));
            std::atomic_signal_fence(std::memory_order_seq_cst);
            save.pending[i][0] = temp[0];
            return i;
        }
    }
    return -1;
}

void release(SaveFile *f) {
    if (f->slot >= 0) save.pending[f->slot][0] = '\0';
    f->slot = -1;
}

// Flush, sync and close; true only when all three worked.
bool finish_stream(SaveFile *f) {
    bool ok = std::fflush(f->stream) == 0 && std::ferror(f->stream) == 0;
    int saved = errno;
    if (ok && fsync(fileno(f->stream)) != 0) {
        ok = false;
        saved = errno;
    }
    if (std::fclose(f->stream) != 0 && ok) {
        ok = false;
        saved = errno;
    }
    f->stream = nullptr;
    errno = saved;
    return ok;
}

// The mode the finished file gets: a file replaced keeps its permission bits
// as far as the umask allows them, a new one gets 0666 less the umask, as
// any file the process creates does. mkstemp alone would leave 0600.
mode_t target_mode(const char *target) {
    const mode_t mask = umask(0);
    umask(mask);
    struct stat st;
    const mode_t wanted =
        stat(target, &st) == 0 && S_ISREG(st.st_mode) ? (st.st_mode & 0777) : 0666;
    return wanted & ~mask;
}

bool fail(SaveFile *f) {
    const int saved = errno;
    save_abort(f);
    errno = saved != 0 ? saved : EIO;
    return false;
}
}   // namespace

bool save_begin(SaveFile *f, const char *target) {
    f->stream = nullptr;
    f->slot = -1;
    f->temp[0] = '\0';
    const size_t len = std::strlen(target);
    // The temporary name adds ".tmp-XXXXXX" to the target's.
    if (len == 0 || len + 12 > sizeof f->temp) {
        errno = ENAMETOOLONG;
        return false;
    }
    std::memcpy(f->target, target, len + 1);
    std::snprintf(f->temp, sizeof f->temp, "%s.tmp-XXXXXX", target);
    const int fd = mkstemp(f->temp);
    if (fd < 0) {
        f->temp[0] = '\0';
        return false;
    }
    f->slot = take_slot(f->temp);
    if (fchmod(fd, target_mode(target)) != 0) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return fail(f);
    }
    f->stream = fdopen(fd, "wb");
    if (f->stream == nullptr) {
        const int saved = errno;
        close(fd);
        errno = saved;
        return fail(f);
    }
    return true;
}

bool save_commit(SaveFile *f) {
    if (f->stream == nullptr || !finish_stream(f)) return fail(f);
    if (std::rename(f->temp, f->target) != 0) return fail(f);
    release(f);
    f->temp[0] = '\0';
    return true;
}

bool save_commit_new(SaveFile *f) {
    if (f->stream == nullptr || !finish_stream(f)) return fail(f);
    if (link(f->temp, f->target) != 0) return fail(f);
    unlink(f->temp);
    release(f);
    f->temp[0] = '\0';
    return true;
}

void save_abort(SaveFile *f) {
    if (f->stream != nullptr) std::fclose(f->stream);
    f->stream = nullptr;
    if (f->temp[0] != '\0') unlink(f->temp);
    f->temp[0] = '\0';
    release(f);
}

void save_abort_pending() {
    for (auto &path : save.pending)
        if (path[0] != '\0') unlink(path);
}
