// bitmapc: converts a PNG picture into a Bitmap resource in the colours of
// the default palette.
#include <stb/stb_image.h>

#include <cstdio>
#include <string>

#include "platform/video.h"
#include "tools/assetfmt/bitmap.h"
#include "tools/assetfmt/level.h"

namespace {

const char USAGE[] =
    "usage: bitmapc IN.png -o OUTPUT\n"
    "Converts a PNG picture into a Bitmap resource: int32 width, int32 height\n"
    "(little-endian), then one palette index per pixel, rows top first.\n"
    "Each opaque colour becomes the nearest colour of the default palette\n"
    "(entries 0..254); pixels with alpha below 128 become 255, transparent.\n"
    "The width must be a power of two; width and height at most 32767.\n"
    "Exit status 1 on any error.\n";

[[noreturn]] void die(const std::string &message) {
    std::fprintf(stderr, "bitmapc: %s\n", message.c_str());
    std::exit(1);
}

}   // namespace

int main(int argc, char **argv) {
    std::string in, out;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        if (a == "-o") {
            if (i + 1 >= argc) die("-o needs a value (see bitmapc --help)");
            out = argv[++i];
        } else if (a.size() > 1 && a[0] == '-') {
            die("unknown option " + a + " (see bitmapc --help)");
        } else if (in.empty()) {
            in = a;
        } else {
            die("one picture at a time (see bitmapc --help)");
        }
    }
    if (in.empty() || out.empty()) die("needs IN.png and -o OUTPUT (see bitmapc --help)");

    int w = 0, h = 0, channels = 0;
    stbi_uc *rgba = stbi_load(in.c_str(), &w, &h, &channels, 4);
    if (rgba == nullptr) die(in + ": cannot read the picture (" + stbi_failure_reason() + ")");
    std::vector<uint8_t> bytes;
    std::string error;
    const bool ok = bitmap_from_rgba(rgba, w, h, palette_default(), &bytes, &error);
    stbi_image_free(rgba);
    if (!ok) die(in + ": " + error);
    if (!level_write_file(out, bytes, &error)) die(error);
    return 0;
}
