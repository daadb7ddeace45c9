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
    "usage: bitmapc IN.png -o OUTPUT\n"
    "       bitmapc --help | --version\n"
    "Converts a PNG picture into a Bitmap resource: int32 width, int32 height\n"
    "(little-endian), then one palette index per pixel, rows top first.\n"
    "Each opaque colour becomes the nearest colour of the default palette\n"
    "(entries 0..254); pixels with alpha below 128 become 255, transparent.\n"
    "\n"
    "Only PNG is read (checksums checked). The input is a regular file of at\n"
    "most 16 MiB. The width must be a power of two, width and height at most\n"
    "32767, and the bitmap must fit the game's 10240-byte resource pool\n"
    "(8 bytes and one a pixel): all checked from the picture's header before\n"
    "it is decoded. OUTPUT is written whole or not at all, and never over IN.\n"
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
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            std::string error;
            if (!toolio_finish_stdout(&error)) die(error);
            return 0;
        }
        if (a == "--version") {
            std::printf("bitmapc %s\n", POLYDRIVE_VERSION);
            std::string error;
            if (!toolio_finish_stdout(&error)) die(error);
            return 0;
        }
        if (a == "-o") {
            if (i + 1 >= argc) usage_error("-o needs a value");
            out = argv[++i];
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
    if (!bitmap_from_png(png.data(), png.size(), palette_default(), &bytes, &error))
        die(in + ": " + error);
    if (!toolio_write(out, bytes.data(), bytes.size(), &error)) die(error);
    return 0;
}
