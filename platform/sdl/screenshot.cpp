// platform/sdl/screenshot.cpp: folder, name and PNG of a screenshot.
#include "platform/sdl/screenshot.h"

#include <png.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "base/fileio.h"
#include "base/save.h"
#include "platform/video.h"

namespace {

constexpr int MAX_SUFFIX = 99;            // polydrive-...-99.png is the last name tried
constexpr size_t USER_DIRS_MAX = 65536;   // bytes of user-dirs.dirs read at most

// mkdir -p: true when path is a folder at the end.
bool make_folders(char *path) {
    for (char *p = path + 1; *p != '\0'; p++) {
        if (*p != '/') continue;
        *p = '\0';
        const bool ok = mkdir(path, 0777) == 0 || errno == EEXIST;
        *p = '/';
        if (!ok) return false;
    }
    if (mkdir(path, 0777) != 0 && errno != EEXIST) return false;
    struct stat st;
    if (stat(path, &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) {
        errno = ENOTDIR;
        return false;
    }
    return true;
}

// The desktop's pictures folder as the user-dirs file names it
// ($XDG_CONFIG_HOME/user-dirs.dirs, else ~/.config/user-dirs.dirs): a line
// XDG_PICTURES_DIR="$HOME/sub" or XDG_PICTURES_DIR="/absolute". False when
// there is no such file or line.
bool user_dirs_pictures(const char *home, char *out, size_t size) {
    char path[SAVE_PATH_MAX];
    const char *config = std::getenv("XDG_CONFIG_HOME");
    int n = config != nullptr && config[0] == '/'
                ? std::snprintf(path, sizeof path, "%s/user-dirs.dirs", config)
                : std::snprintf(path, sizeof path, "%s/.config/user-dirs.dirs", home);
    if (n < 0 || static_cast<size_t>(n) >= sizeof path) return false;
    // Read the one safe way, from inside the key handler: a FIFO or
    // /dev/zero named user-dirs.dirs is refused at once, and a huge file is
    // not read at all.
    std::vector<uint8_t> text;
    std::string error;
    if (!fileio_read(path, USER_DIRS_MAX, &text, &error)) return false;
    text.push_back('\n');
    bool found = false;
    for (size_t at = 0; !found && at < text.size();) {
        const size_t nl = static_cast<size_t>(
            static_cast<const uint8_t *>(std::memchr(text.data() + at, '\n', text.size() - at)) -
            text.data());
        std::string line(reinterpret_cast<const char *>(text.data()) + at, nl - at);
        at = nl + 1;
        constexpr char KEY[] = "XDG_PICTURES_DIR=\"";
        if (line.compare(0, sizeof KEY - 1, KEY) != 0) continue;
        const std::string value = line.substr(sizeof KEY - 1);
        const size_t quote = value.find('"');
        if (quote == std::string::npos) break;
        const std::string folder = value.substr(0, quote);
        if (folder.compare(0, 5, "$HOME") == 0 && (folder.size() == 5 || folder[5] == '/')) {
            n = std::snprintf(out, size, "%s%s", home, folder.c_str() + 5);
        } else if (folder[0] == '/') {
            n = std::snprintf(out, size, "%s", folder.c_str());
        } else {
            break;
        }
        found =
            n >= 0 && static_cast<size_t>(n) < size && std::strlen(out) == static_cast<size_t>(n);
    }
    return found;
}

// The folder, without a trailing slash; empty for the working directory.
bool choose_folder(char *folder, size_t size) {
    const char *pictures = std::getenv("XDG_PICTURES_DIR");
    const char *home = std::getenv("HOME");
    char from_file[SAVE_PATH_MAX - 128];
    int n;
    if (pictures != nullptr && pictures[0] != '\0') {
        n = std::snprintf(folder, size, "%s/polydrive", pictures);
    } else if (home != nullptr && home[0] != '\0' &&
               user_dirs_pictures(home, from_file, sizeof from_file)) {
        n = std::snprintf(folder, size, "%s/polydrive", from_file);
    } else if (home != nullptr && home[0] != '\0') {
        n = std::snprintf(folder, size, "%s/Pictures/polydrive", home);
    } else {
        folder[0] = '\0';
        return true;
    }
    if (n < 0 || static_cast<size_t>(n) >= size) {
        errno = ENAMETOOLONG;
        return false;
    }
    return make_folders(folder);
}

struct PngError {
    char message[160];
};

[[noreturn]] void on_png_error(png_structp png, png_const_charp message) {
    auto *error = static_cast<PngError *>(png_get_error_ptr(png));
    std::snprintf(error->message, sizeof error->message, "%s", message);
    std::longjmp(png_jmpbuf(png), 1);
}

void on_png_warning(png_structp, png_const_charp) {}

// Writes the PNG to an open stream; false with a reason in error.
bool write_png(FILE *stream, const uint8_t *indices, const int *palette, PngError *error) {
    png_structp png =
        png_create_write_struct(PNG_LIBPNG_VER_STRING, error, on_png_error, on_png_warning);
    if (png == nullptr) {
        std::snprintf(error->message, sizeof error->message, "out of memory");
        return false;
    }
    png_infop info = png_create_info_struct(png);
    // Nothing below changes a local that is read after a jump back here.
    if (info == nullptr || setjmp(png_jmpbuf(png)) != 0) {
        if (info == nullptr) std::snprintf(error->message, sizeof error->message, "out of memory");
        png_destroy_write_struct(&png, &info);
        return false;
    }
    png_init_io(png, stream);
    png_set_IHDR(png, info, SCREEN_WIDTH, SCREEN_HEIGHT, 8, PNG_COLOR_TYPE_PALETTE,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_color colours[256];
    for (int c = 0; c < 256; c++) {
        const int *rgb = &palette[c * 3];
        auto widen = [](int v) { return static_cast<png_byte>(((v & 63) << 2) | ((v & 63) >> 4)); };
        colours[c] = {widen(rgb[0]), widen(rgb[1]), widen(rgb[2])};
    }
    png_set_PLTE(png, info, colours, 256);
    png_write_info(png, info);
    for (int y = 0; y < SCREEN_HEIGHT; y++) png_write_row(png, indices + y * SCREEN_WIDTH);
    png_write_end(png, info);
    png_destroy_write_struct(&png, &info);
    return true;
}

void report(const char *what, const char *path, const char *reason) {
    std::fprintf(stderr, "polydrive: cannot save screenshot %s%s: %s\n", what, path, reason);
}

}   // namespace

bool screenshot_save(const uint8_t *indices, const int *palette) {
    char folder[SAVE_PATH_MAX - 64];
    if (!choose_folder(folder, sizeof folder)) {
        report("in ", folder, std::strerror(errno));
        return false;
    }
    char stamp[32];
    const std::time_t now = std::time(nullptr);
    std::tm local;
    if (localtime_r(&now, &local) == nullptr ||
        std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local) == 0) {
        std::snprintf(stamp, sizeof stamp, "%lld", static_cast<long long>(now));
    }
    char path[SAVE_PATH_MAX];
    for (int suffix = 1; suffix <= MAX_SUFFIX; suffix++) {
        char tail[16] = "";
        if (suffix > 1) std::snprintf(tail, sizeof tail, "-%d", suffix);
        std::snprintf(path, sizeof path, "%s%spolydrive-%s%s.png", folder,
                      folder[0] != '\0' ? "/" : "", stamp, tail);
        if (access(path, F_OK) == 0) continue;
        SaveFile file;
        if (!save_begin(&file, path)) {
            report("", path, std::strerror(errno));
            return false;
        }
        PngError error = {};
        if (!write_png(file.stream, indices, palette, &error)) {
            save_abort(&file);
            report("", path, error.message);
            return false;
        }
        if (save_commit_new(&file)) return true;
        // Taken between the look and the link: try the next name.
        if (errno != EEXIST) {
            report("", path, std::strerror(errno));
            return false;
        }
    }
    report("", path, "every name for this second is taken");
    return false;
}
