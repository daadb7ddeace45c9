// levelc: compiles a world or model source (text, or a Wavefront OBJ file for
// a model) into the binary file the game loads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "tools/assetfmt/level.h"

namespace {

const char USAGE[] =
    "usage: levelc SOURCE -o OUTPUT [--mass N] [--scale S] [--ramp RAMP] [--refl N]\n"
    "Compiles a world or model source into a .3dw or .3do file.\n"
    "\n"
    "SOURCE is a text source (first word 'world' or 'model'), or a Wavefront\n"
    ".obj file that becomes a model; --mass (default 100), --scale (default 1),\n"
    "--ramp (default grey) and --refl (default 200) apply to .obj sources only.\n"
    "\n"
    "Text source, one directive a line, '#' starts a comment:\n"
    "  world | model                 the kind of file\n"
    "  object NAME ... end           a world object (NAME bare or \"quoted\")\n"
    "    position X Y Z  angles A B C  mass M  spare N|auto\n"
    "    v X Y Z                     a vertex; vertices count from 0\n"
    "    flat | smooth               group of the faces that follow\n"
    "    face RAMP REFL A B C        a triangle; its front is the side from which\n"
    "                                A, B, C run clockwise on screen\n"
    "    face 0xFLAGS A B C          a face with any flag word\n"
    "    sprite SCALE A              a bitmap drawn centred on the object's position\n"
    "                                (the object's name is the bitmap's file name);\n"
    "                                a pixel is 218 units wide at SCALE 0, and each\n"
    "                                step up to 14 doubles it\n"
    "    quad RAMP REFL A B C D      two triangles A B C and A C D\n"
    "    box X0 Y0 Z0 X1 Y1 Z1 RAMP REFL [skip left right bottom top back front]\n"
    "    obj FILE RAMP REFL [scale S]  the triangles of an OBJ file (its z axis is\n"
    "                                turned round; a material named after a ramp\n"
    "                                sets that ramp; smoothing groups go smooth)\n"
    "  start NAME X Y Z [A B C]      a player start, NAME Human0 or Human1\n"
    "  trailing HEX                  bytes kept after the end of the data\n"
    "Coordinates: x right, y up, z forward (the car starts looking along +z).\n"
    "RAMP: red green blue cyan yellow grey orange purple magenta sky, or 0..15.\n"
    "Exit status 1 on any error.\n";

[[noreturn]] void die(const std::string &message) {
    std::fprintf(stderr, "levelc: %s\n", message.c_str());
    std::exit(1);
}

bool ends_with(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

int32_t option_number(const char *text, long min, long max, const char *what) {
    char *end = nullptr;
    const long v = std::strtol(text, &end, 10);
    if (*text == '\0' || *end != '\0' || v < min || v > max)
        die(std::string(what) + " '" + text + "' must be a number in " + std::to_string(min) +
            ".." + std::to_string(max));
    return static_cast<int32_t>(v);
}

}   // namespace

int main(int argc, char **argv) {
    std::string source, output;
    ObjImport obj;
    int32_t mass = 100;
    bool obj_options = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(USAGE, stdout);
            return 0;
        }
        const bool takes_value =
            a == "-o" || a == "--mass" || a == "--scale" || a == "--ramp" || a == "--refl";
        if (takes_value && i + 1 >= argc) die(a + " needs a value (see levelc --help)");
        if (a == "-o") {
            output = argv[++i];
        } else if (a == "--mass") {
            mass = option_number(argv[++i], 1, INT32_MAX, "--mass");
            obj_options = true;
        } else if (a == "--scale") {
            obj.scale = option_number(argv[++i], 1, 1 << 20, "--scale");
            obj_options = true;
        } else if (a == "--refl") {
            obj.refl = static_cast<uint32_t>(option_number(argv[++i], 0, 255, "--refl"));
            obj_options = true;
        } else if (a == "--ramp") {
            const std::string r = argv[++i];
            bool found = false;
            for (uint32_t k = 0; k < 10; k++)
                if (r == LEVEL_RAMP_NAMES[k]) obj.ramp = k, found = true;
            if (!found) obj.ramp = static_cast<uint32_t>(option_number(r.c_str(), 0, 15, "--ramp"));
            obj_options = true;
        } else if (a.size() > 1 && a[0] == '-') {
            die("unknown option " + a + " (see levelc --help)");
        } else if (source.empty()) {
            source = a;
        } else {
            die("more than one source given (see levelc --help)");
        }
    }
    if (source.empty() || output.empty()) die("needs a SOURCE and -o OUTPUT (see levelc --help)");

    LevelFile file;
    std::string error;
    if (ends_with(source, ".obj")) {
        file.kind = LevelKind::Model;
        file.records.emplace_back();
        LevelObject &o = file.records.back().object;
        o.mass = mass;
        if (!level_add_obj(source, obj, false, &o, &error)) die(error);
        if (o.vertex_count() == 0 || (o.flat.empty() && o.smooth.empty()))
            die(source + ": no triangle to make a model of");
        o.spare = level_auto_spare(o);
    } else {
        if (obj_options) die("--mass, --scale, --ramp and --refl apply to .obj sources only");
        std::vector<uint8_t> bytes;
        if (!level_read_file(source, &bytes, &error)) die(error);
        const std::string text(bytes.begin(), bytes.end());
        if (text.find('\0') != std::string::npos)
            die(source + ": not a text source (it holds a NUL byte)");
        if (!level_parse(text, source, &file, &error)) die(error);
    }
    if (file.kind == LevelKind::Model && ends_with(output, ".3dw"))
        die(source + ": a model goes into a .3do file, not " + output);
    if (file.kind == LevelKind::World && ends_with(output, ".3do"))
        die(source + ": a world goes into a .3dw file, not " + output);

    const std::vector<uint8_t> bytes = level_encode(file);
    if (!level_write_file(output, bytes, &error)) die(error);
    return 0;
}
