// fuzz/fuzz_workshop.cpp: the level workshop's inputs on any bytes. A world
// source either compiles or fails with one line naming a line of it (or
// none); a compiled level gets a player start moved anywhere and still
// decodes, and it either draws its first frame through the game's loaders
// and renderer, from its start and from a view the input picks, or fails
// with the game's one line, leaving nothing loaded. The same bytes taken as
// a compiled world are decoded and refused or rewritten. Sources naming an
// OBJ file are skipped: fuzz_obj covers the import, and no file outside the
// run's own folder is read. Run from the repository root (lib/ is copied).
#include <unistd.h>

#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "scene/body.h"
#include "workshop/workshop.h"

namespace fs = std::filesystem;

namespace {
void require(bool ok) {
    if (!ok) std::abort();
}

char made[4096];

// A copy of lib/ whose level1.3dw each input replaces.
const std::string &folder() {
    static const std::string dir = [] {
        const fs::path d =
            fs::temp_directory_path() / ("fuzz_workshop_" + std::to_string(getpid()));
        fs::remove_all(d);
        fs::create_directories(d);
        require(fs::exists("lib/level1.3dw"));   // run from the repository root
        for (const auto &e : fs::directory_iterator("lib"))
            fs::copy_file(e.path(), d / e.path().filename());
        // Removed at exit through a copy of its name: the string itself is
        // destroyed before the handlers registered after it run.
        std::snprintf(made, sizeof made, "%s", d.c_str());
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(made, ec);
        });
        return d.string();
    }();
    return dir;
}

bool one_line(const std::string &error) {
    return !error.empty() && error.find('\n') == std::string::npos;
}

WorkshopView view_from(const uint8_t *data, size_t size) {
    int32_t v[5] = {0, 0, 0, 0, 0};
    for (size_t i = 0; i < size && i < 20; i++)
        v[i / 4] = static_cast<int32_t>(static_cast<uint32_t>(v[i / 4]) << 8 | data[i]);
    WorkshopView view;
    view.x = v[0] % 2000000, view.y = v[1] % 200000, view.z = v[2] % 2000000;
    view.pitch = static_cast<int32_t>(static_cast<uint32_t>(v[3]) % 1440);
    view.heading = static_cast<int32_t>(static_cast<uint32_t>(v[4]) % 1440);
    return view;
}

// True when the word obj may stand in the text as a keyword ("object" may).
bool names_obj(const std::string &text) {
    for (size_t at = text.find("obj"); at != std::string::npos; at = text.find("obj", at + 1)) {
        const unsigned char after = at + 3 < text.size() ? text[at + 3] : ' ';
        if (!std::isalnum(after) && after != '_') return true;
    }
    return false;
}

WorkshopFrame frame;
}   // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 16) return 0;
    const WorkshopView view = view_from(data, size);
    std::string error;

    // The bytes as a compiled world.
    std::vector<uint8_t> raw(data, data + size);
    if (!workshop_move_start(&raw, view, &error)) require(one_line(error));

    const std::string text(reinterpret_cast<const char *>(data), size);
    if (names_obj(text)) return 0;
    const std::string path = folder() + "/src.world";
    std::vector<uint8_t> bytes;
    int line = -1;
    if (!workshop_compile(text, path, &bytes, &error, &line)) {
        require(one_line(error));
        size_t lines = 1;
        for (char c : text) lines += c == '\n';
        require(line >= 0 && static_cast<size_t>(line) <= lines);
        return 0;
    }
    std::vector<uint8_t> moved = bytes;
    require(workshop_move_start(&moved, view, &error));
    std::vector<uint8_t> again = moved;
    require(workshop_move_start(&again, view, &error));
    require(again == moved);   // moving a start to where it is changes nothing

    {
        std::ofstream out(folder() + "/level1.3dw", std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        require(static_cast<bool>(out));
    }
    for (const WorkshopView *from : {static_cast<const WorkshopView *>(nullptr), &view}) {
        if (!workshop_render(folder().c_str(), from, &frame, &error)) {
            require(one_line(error));
        } else {
            require(frame.faces >= 0 && frame.world_bytes > 0 && frame.car_bytes > 0);
        }
        require(body_list == nullptr);   // nothing stays loaded
    }
    return 0;
}
