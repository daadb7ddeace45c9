// base/fatal.cpp: fatal_error and safe_alloc.
#include "base/fatal.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>

namespace {
struct FatalState {
    char message[128];   // 127 characters and the NUL; longer ones are cut
    FatalHook hook;
    FatalShutdown shutdown;
    bool shutting_down;   // a fatal error raised by the shutdown itself
};
FatalState fatal;
}   // namespace

void fatal_set_hook(FatalHook hook) { fatal.hook = hook; }

void fatal_set_shutdown(FatalShutdown shutdown) { fatal.shutdown = shutdown; }

void fatal_error(const char *format, ...) {
    if (format == nullptr) {
        std::snprintf(fatal.message, sizeof fatal.message, "%s", "not enough memory");
    } else {
        va_list args;
        va_start(args, format);
        std::vsnprintf(fatal.message, sizeof fatal.message, format, args);
        va_end(args);
    }
    // Give the screen and the keyboard back before anything is printed. A
    // second fatal error from inside that shutdown must not start it again.
    if (!fatal.shutting_down && fatal.shutdown != nullptr) {
        struct Guard {
            Guard() { fatal.shutting_down = true; }
            ~Guard() { fatal.shutting_down = false; }   // also when a hook throws
        } guard;
        fatal.shutdown();
    }
    if (fatal.hook != nullptr) fatal.hook(fatal.message);
    std::printf("Fatal error: %s\n", fatal.message);
    std::fflush(stdout);
    // A failure must not look like success to whoever started us.
    std::exit(1);
}

void *safe_alloc(long size) {
    // A negative size is an impossible request, not a huge one.
    void *p = size >= 0 ? std::malloc(static_cast<size_t>(size)) : nullptr;
    if (p == nullptr) fatal_error("failed to allocate %ld bytes\n", size);
    return p;
}
