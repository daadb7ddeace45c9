// bitmapc: converts a PNG picture into a Bitmap resource in the colours of
// the default palette.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "platform/video.h"
#include "tools/assetfmt/bitmap.h"
#include "tools/assetfmt/level.h"
#include "tools/assetfmt/toolio.h"

namespace {

const char USAGE[] =
    "usage: bitmapc IN.png -o OUTPUT [--limits SET]\n"
    "       bitmapc --help | --version\n"
    "Converts a PNG picture into a Bitmap resource: int32 width, int32 height\n"
    "(little-endian), then one palette index per pixel, rows top first.\n"
    "Each opaque colour becomes the nearest colour of the default palette\n"
    "(entries 0..254); pixels with alpha below 128 become 255, transparent.\n"
    "\n"
    "Only PNG is read (checksums checked). The input is a regular file of at\n"
    "most 16 MiB. The width must be a power of two, width and height at most\n"
    "32767, and the bitmap (8 bytes and one a pixel) must fit the game's\n"
    "10240-byte resource pool beside the smallest level that can name it: a\n"
    "world of one sprite object named after OUTPUT's file name and nothing\n"
    "else (no player start, so no car). All is checked from the picture's\n"
    "header before it is decoded. --limits raised checks against the raised\n"
    "16 MiB pool instead (the game then needs --limits raised too).\n"
    "OUTPUT is written whole or not at all, and never over IN.\n"
    "Exit status 1 on any error, 2 for a mistake in the command line.\n";

[[noreturn]] void die(const std::string &message, int status = 1) {
    std::fprintf(stderr, "bitmapc: %s\n", message.c_str());
    std::exit(status);
}

[[noreturn]] void usage_error(const std::string &message) {
    die(message + " (see bitmapc --help)", TOOLIO_USAGE_STATUS);
}

}   // namespace

int main(int argc, char **argv) {
    toolio_catch_signals();
    std::string in, out;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        toolio_answer_help_or_version(a, "bitmapc", USAGE, POLYDRIVE_VERSION);
        if (a == "-o" || a == "--limits") {
            if (i + 1 >= argc) usage_error(a + " needs a value");
            if (a == "-o")
                out = argv[++i];
            else
                toolio_select_limits("bitmapc", argv[++i]);
        } else if (a.size() > 1 && a[0] == '-') {
            usage_error("unknown option " + a);
        } else if (in.empty()) {
            in = a;
        } else {
            usage_error("one picture at a time");
        }
    }
    if (in.empty() || out.empty()) usage_error("needs IN.png and -o OUTPUT");

    std::vector<uint8_t> png, bytes;
    std::string error;
    if (!toolio_read(in, LEVEL_SOURCE_MAX, &png, &error)) die(error);
    if (toolio_is_input(out)) die(out + ": is the input; refusing to write over it");
    // Loaded, a level's world stays resident beside its bitmaps until one
    // needs its room; the least a bitmap shares the pool with is the smallest
    // world that names it.
    const size_t slash = out.find_last_of('/');
    const std::string name = slash == std::string::npos ? out : out.substr(slash + 1);
    const int64_t level = level_smallest_naming(name);
    int64_t w = 0, h = 0;
    if (bitmap_png_size(png.data(), png.size(), &w, &h) && w >= 1 && h >= 1 &&
        w <= BITMAP_SIZE_MAX && h <= BITMAP_SIZE_MAX) {
        const std::string why = level_pool_together(out, BITMAP_HEADER_SIZE + w * h,
                                                    "the smallest level that names it", level);
        if (!why.empty())
            die(in + ": size " + std::to_string(w) + "x" + std::to_string(h) +
                " needs more than the game's resource pool holds beside a level: " + why);
    }
    if (!bitmap_from_png(png.data(), png.size(), palette_default(), &bytes, &error,
                         limits_current().pool_size - level))
        die(in + ": " + error);
    if (!toolio_write(out, bytes.data(), bytes.size(), &error)) die(error);
    return 0;
}
