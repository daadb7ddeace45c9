// tools/assetfmt/bitmap.cpp: nearest-colour mapping into the palette.
//
// PNG files are decoded with libpng. Where libpng is not at hand (the web
// workshop's WebAssembly build defines POLYDRIVE_PNG_STB), stb_image decodes
// them instead, after this file has checked what libpng checks and stb_image
// does not: every chunk's CRC and the compressed stream's Adler-32. Either
// way the picture goes through the same palette mapping.
#include "tools/assetfmt/bitmap.h"

#if defined(POLYDRIVE_PNG_STB)
#include <stb/stb_image.h>
#else
#include <png.h>

#include <csetjmp>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/video.h"

namespace {

// 6-bit VGA component to 8 bits, full scale to full scale.
int widen(uint8_t c) { return (c << 2) | (c >> 4); }

void put_int(std::vector<uint8_t> *out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(u >> (8 * i)));
}

}   // namespace

int bitmap_nearest(const Palette *palette, int r, int g, int b) {
    int best = 0;
    long best_d = -1;
    for (int i = 0; i < BITMAP_TRANSPARENT; i++) {
        const long dr = widen(palette->rgb[3 * i]) - r;
        const long dg = widen(palette->rgb[3 * i + 1]) - g;
        const long db = widen(palette->rgb[3 * i + 2]) - b;
        const long d = dr * dr + dg * dg + db * db;
        if (best_d < 0 || d < best_d) {
            best = i;
            best_d = d;
        }
    }
    return best;
}

bool bitmap_from_rgba(const uint8_t *rgba, int width, int height, const Palette *palette,
                      std::vector<uint8_t> *out, std::string *error) {
    if (width < 1 || height < 1 || width > BITMAP_SIZE_MAX || height > BITMAP_SIZE_MAX) {
        *error =
            "size " + std::to_string(width) + "x" + std::to_string(height) + " is outside 1..32767";
        return false;
    }
    if ((width & (width - 1)) != 0) {
        *error = "width " + std::to_string(width) +
                 " is not a power of two (sprites are drawn with a shift per row)";
        return false;
    }
    out->clear();
    put_int(out, width);
    put_int(out, height);
    const long count = long{width} * height;
    for (long i = 0; i < count; i++) {
        const uint8_t *p = rgba + 4 * i;
        out->push_back(p[3] < 128
                           ? BITMAP_TRANSPARENT
                           : static_cast<uint8_t>(bitmap_nearest(palette, p[0], p[1], p[2])));
    }
    return true;
}

namespace {

const uint8_t PNG_SIGNATURE[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

#if defined(POLYDRIVE_PNG_STB)

struct PngSource {
    const uint8_t *data;
    size_t size;
    size_t at;
    char message[160];
};

uint32_t be32(const uint8_t *p) {
    return uint32_t{p[0]} << 24 | uint32_t{p[1]} << 16 | uint32_t{p[2]} << 8 | p[3];
}

uint32_t crc32_of(const uint8_t *p, size_t n) {
    static uint32_t table[256];
    if (table[1] == 0)
        for (uint32_t i = 0; i < 256; i++) {
            uint32_t c = i;
            for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[i] = c;
        }
    uint32_t c = 0xFFFFFFFFu;
    for (size_t i = 0; i < n; i++) c = table[(c ^ p[i]) & 0xFF] ^ (c >> 8);
    return c ^ 0xFFFFFFFFu;
}

uint32_t adler32_of(const uint8_t *p, size_t n) {
    uint32_t a = 1, b = 0;
    for (size_t i = 0; i < n; i++) {
        a = (a + p[i]) % 65521;
        b = (b + a) % 65521;
    }
    return b << 16 | a;
}

// The chunks in order, each whole and with its CRC right, IHDR first and
// IEND last; the IDAT chunks' stream is inflated and its Adler-32 checked.
// "" when all holds, else the reason.
std::string check_png_stream(const uint8_t *data, size_t size) {
    std::vector<uint8_t> stream;
    size_t at = 8;
    bool first = true;
    for (;;) {
        if (size - at < 12) return "the file ends inside the picture";
        const uint32_t length = be32(data + at);
        if (length > 0x7FFFFFFFu || length > size - at - 12)
            return "the file ends inside the picture";
        const uint8_t *type = data + at + 4;
        if (first && std::memcmp(type, "IHDR", 4) != 0) return "IHDR: missing";
        first = false;
        if (crc32_of(type, length + 4) != be32(type + 4 + length)) {
            char name[5] = {0};
            for (int i = 0; i < 4; i++) name[i] = static_cast<char>(type[i]);
            return std::string(name) + ": CRC error";
        }
        if (std::memcmp(type, "IDAT", 4) == 0)
            stream.insert(stream.end(), type + 4, type + 4 + length);
        at += size_t{length} + 12;
        if (std::memcmp(type, "IEND", 4) == 0) break;
    }
    if (stream.size() < 6) return "IDAT: not enough image data";
    int inflated = 0;
    char *raw = stbi_zlib_decode_malloc_guesssize_headerflag(
        reinterpret_cast<const char *>(stream.data()), static_cast<int>(stream.size()), 16384,
        &inflated, 1);
    if (raw == nullptr) return "IDAT: invalid compressed data";
    const uint32_t sum =
        adler32_of(reinterpret_cast<const uint8_t *>(raw), static_cast<size_t>(inflated));
    std::free(raw);
    // The stream ends with its Adler-32; stb_image stops at the last block,
    // so the four bytes after it are looked for at the stream's end.
    if (sum != be32(stream.data() + stream.size() - 4)) return "IDAT: incorrect data check";
    return "";
}

std::string decode_png(PngSource *src, std::vector<uint8_t> *rgba, int *width, int *height,
                       int64_t max_bytes) {
    const std::string why = check_png_stream(src->data, src->size);
    if (!why.empty()) return why;
    if (src->size > static_cast<size_t>(INT32_MAX)) return "the file is too large";
    int w = 0, h = 0, channels = 0;
    stbi_uc *pixels =
        stbi_load_from_memory(src->data, static_cast<int>(src->size), &w, &h, &channels, 4);
    if (pixels == nullptr)
        return std::string("cannot decode the PNG file: ") + stbi_failure_reason();
    if (BITMAP_HEADER_SIZE + uint64_t(w) * uint64_t(h) > static_cast<uint64_t>(max_bytes)) {
        stbi_image_free(pixels);
        return "the picture needs more than the game's resource pool holds";
    }
    rgba->assign(pixels, pixels + size_t(w) * size_t(h) * 4);
    stbi_image_free(pixels);
    *width = w;
    *height = h;
    return "";
}

#else

// libpng reports errors through a callback that must not return: the message
// is kept and the decoder jumps back to bitmap_from_png.
struct PngSource {
    const uint8_t *data;
    size_t size;
    size_t at;
    char message[160];
};

void png_failed(png_structp png, png_const_charp message) {
    auto *src = static_cast<PngSource *>(png_get_error_ptr(png));
    std::snprintf(src->message, sizeof src->message, "%s", message);
    png_longjmp(png, 1);
}

void png_warned(png_structp, png_const_charp) {}

void png_read_memory(png_structp png, png_bytep out, png_size_t length) {
    auto *src = static_cast<PngSource *>(png_get_io_ptr(png));
    if (length > src->size - src->at) png_error(png, "the file ends inside the picture");
    std::memcpy(out, src->data + src->at, length);
    src->at += length;
}

// Decodes into rgba (resized here, before the jump point, so no destructor is
// skipped by a longjmp); "" on success, else the reason.
std::string decode_png(PngSource *src, std::vector<uint8_t> *rgba, int *width, int *height,
                       int64_t max_bytes) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, src, png_failed, png_warned);
    if (png == nullptr) return "cannot start the PNG decoder";
    png_infop info = png_create_info_struct(png);
    if (info == nullptr) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        return "cannot start the PNG decoder";
    }
    // Limits the decoder enforces itself: the sides, and the memory any one
    // ancillary chunk may take.
    png_set_user_limits(png, BITMAP_SIZE_MAX, BITMAP_SIZE_MAX);
    png_set_chunk_malloc_max(png, 1 << 20);
    png_set_crc_action(png, PNG_CRC_ERROR_QUIT, PNG_CRC_ERROR_QUIT);
    png_set_read_fn(png, src, png_read_memory);
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png)) != 0) {
        png_destroy_read_struct(&png, &info, nullptr);
        return src->message;
    }
    png_read_info(png, info);
    const png_uint_32 w = png_get_image_width(png, info), h = png_get_image_height(png, info);
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    // bitmap_from_png checked the header chunk already; libpng insists that
    // it comes first, so this only guards that promise.
    if (BITMAP_HEADER_SIZE + uint64_t{w} * h > static_cast<uint64_t>(max_bytes))
        png_error(png, "the picture needs more than the game's resource pool holds");
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != size_t{w} * 4) png_error(png, "unexpected row layout");
    rgba->resize(size_t{w} * h * 4);
    rows.resize(h);
    for (png_uint_32 y = 0; y < h; y++) rows[y] = rgba->data() + size_t{y} * w * 4;
    png_read_image(png, rows.data());
    png_read_end(png, nullptr);
    png_destroy_read_struct(&png, &info, nullptr);
    *width = static_cast<int>(w);
    *height = static_cast<int>(h);
    return "";
}

#endif

}   // namespace

bool bitmap_png_size(const uint8_t *data, size_t size, int64_t *width, int64_t *height) {
    if (size < 24 || std::memcmp(data, PNG_SIGNATURE, 8) != 0 ||
        std::memcmp(data + 12, "IHDR", 4) != 0)
        return false;
    const auto be = [&](size_t at) {
        return int64_t{data[at]} << 24 | int64_t{data[at + 1]} << 16 | int64_t{data[at + 2]} << 8 |
               data[at + 3];
    };
    *width = be(16);
    *height = be(20);
    return true;
}

bool bitmap_from_png(const uint8_t *data, size_t size, const Palette *palette,
                     std::vector<uint8_t> *out, std::string *error, int64_t max_bytes) {
    if (size < 8 || std::memcmp(data, PNG_SIGNATURE, 8) != 0) {
        *error = "not a PNG file";
        return false;
    }
    // The size, from the header chunk that must come first, before the
    // decoder reads anything more.
    int64_t w = 0, h = 0;
    if (bitmap_png_size(data, size, &w, &h)) {
        const std::string size_text = "size " + std::to_string(w) + "x" + std::to_string(h);
        if (w < 1 || h < 1 || w > BITMAP_SIZE_MAX || h > BITMAP_SIZE_MAX) {
            *error = size_text + " is outside 1..32767";
            return false;
        }
        if (BITMAP_HEADER_SIZE + w * h > max_bytes) {
            *error = size_text + " needs more than the game's resource pool holds (" +
                     std::to_string(max_bytes) + " bytes: 8 and one a pixel)";
            return false;
        }
    }
    PngSource src{data, size, 0, "cannot decode the PNG file"};
    std::vector<uint8_t> rgba;
    int width = 0, height = 0;
    const std::string why = decode_png(&src, &rgba, &width, &height, max_bytes);
    if (!why.empty()) {
        *error = why;
        return false;
    }
    return bitmap_from_rgba(rgba.data(), width, height, palette, out, error);
}
