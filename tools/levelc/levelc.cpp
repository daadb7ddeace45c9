// levelc: compiles a world or model source (text, or a Wavefront OBJ file for
// a model) into the binary file the game loads.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

#include "tools/assetfmt/level.h"
#include "tools/assetfmt/toolio.h"

namespace {

constexpr useconds_t WATCH_POLL_US = 200000;   // a look at the source five times a second

const char USAGE[] =
    "usage: levelc SOURCE -o OUTPUT [--limits SET] [--mass N] [--scale S] [--ramp RAMP]\n"
    "              [--refl N] [--watch]\n"
    "       levelc --help | --version\n"
    "Compiles a world or model source into a .3dw or .3do file.\n"
    "\n"
    "SOURCE is a text source (first word 'world' or 'model'), or a Wavefront\n"
    ".obj file that becomes a model; --mass (default 100), --scale (default 1),\n"
    "--ramp (default grey) and --refl (default 200) apply to .obj sources only.\n"
    "--watch compiles again after each save of SOURCE and says how each compile\n"
    "went on standard output (a mistake does not end it); Ctrl+C ends it.\n"
    "\n"
    "Text source, one directive a line, '#' starts a comment:\n"
    "  world | model                 the kind of file\n"
    "  object NAME ... end           a world object (NAME bare or \"quoted\")\n"
    "    position X Y Z              where the object stands\n"
    "    angles A B C                how it is turned\n"
    "    mass M                      its mass (positive)\n"
    "    spare N|auto                vertex slots kept for near-plane clipping\n"
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
    "    box X0 Y0 Z0 X1 Y1 Z1 RAMP REFL [skip SIDE...]\n"
    "                                a box between two corners, without the SIDEs\n"
    "                                named: left right bottom top back front\n"
    "    obj FILE RAMP REFL [scale S]\n"
    "                                the triangles of an OBJ file (its z axis is\n"
    "                                turned round; a material named after a ramp\n"
    "                                sets that ramp; smoothing groups go smooth)\n"
    "  start NAME X Y Z [A B C]      a player start, NAME Human0 or Human1; every\n"
    "                                car starts facing +z: angles other than 0 0 0\n"
    "                                are kept in the file but unused (a warning)\n"
    "  trailing HEX                  bytes kept after the end of the data\n"
    "Coordinates: x right, y up, z forward (the car starts looking along +z).\n"
    "RAMP: red green blue cyan yellow grey orange purple magenta sky, or 0..15.\n"
    "\n"
    "Inputs are regular files of at most 16 MiB (the source, OBJ and MTL files);\n"
    "the OBJ files one source's obj lines read come to 16 MiB at most together,\n"
    "and a source stops at the line where its vertices and faces pass 16 MiB.\n"
    "What the game's loader would refuse is refused here first: more than 4096\n"
    "spare slots in an object (also from 'spare auto'), a sprite's bitmap name\n"
    "longer than 59 characters, a file larger than the 10240-byte resource pool,\n"
    "OBJ coordinates that are not finite decimal numbers, an OBJ file without a\n"
    "triangle, and a world that does not fit the pool together with the car it\n"
    "is played with: the car1.3do in OUTPUT's folder, or when there is none the\n"
    "shipped car's 532 bytes. OUTPUT is written whole or not at all, never over\n"
    "an input.\n"
    "An OBJ file whose vertices (12 bytes each) and triangles (16 each) do not\n"
    "fit the room the pool has left is refused before its faces are built.\n"
    "An OBJ face of up to 8 corners is cut into triangles by the OBJ\n"
    "reader; a larger one is cut into a fan from its first corner and must be\n"
    "convex.\n"
    "--limits raised checks against the game's raised limits instead (a\n"
    "16 MiB pool, a million spare slots an object): the file then needs\n"
    "--limits raised in the game too.\n"
    "Exit status 1 on any error, 2 for a mistake in the command line.\n";

[[noreturn]] void die(const std::string &message, int status = 1) {
    std::fprintf(stderr, "levelc: %s\n", message.c_str());
    std::exit(status);
}

[[noreturn]] void usage_error(const std::string &message) {
    die(message + " (see levelc --help)", TOOLIO_USAGE_STATUS);
}

bool ends_with(const std::string &s, const char *suffix) {
    const size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

int32_t option_number(const char *text, int64_t min, int64_t max, const char *what) {
    int64_t v = 0;
    if (!toolio_number(text, min, max, &v))
        usage_error(std::string(what) + " '" + text + "' must be a whole number in " +
                    std::to_string(min) + ".." + std::to_string(max));
    return static_cast<int32_t>(v);
}

// The car a world written to output is played with: the car1.3do in the
// output's folder when there is one (a regular file), else the shipped car.
// Its description for messages, and its length in *bytes.
std::string car_beside(const std::string &output, int64_t *bytes) {
    const size_t slash = output.find_last_of('/');
    const std::string folder = slash == std::string::npos ? "" : output.substr(0, slash + 1);
    const std::string path = folder + START_CAR_MODEL;
    struct stat st;
    if (stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
        *bytes = static_cast<int64_t>(st.st_size);
        return path;
    }
    *bytes = LEVEL_SHIPPED_CAR_BYTES;
    return std::string("the shipped ") + START_CAR_MODEL;
}

// One compile of source into output; false with the one-line reason.
bool compile(const std::string &source, const std::string &output, const ObjImport &obj,
             int32_t mass, std::string *message) {
    LevelFile file;
    std::string error;
    auto fail = [&](const std::string &why) {
        *message = why;
        return false;
    };
    if (ends_with(source, ".obj")) {
        file.kind = LevelKind::Model;
        file.records.emplace_back();
        LevelObject &o = file.records.back().object;
        o.mass = mass;
        ObjImport bounded = obj;
        // A model file is its vertices and faces and five words.
        bounded.room_bytes = int64_t{limits_current().pool_size} - 20;
        if (!level_add_obj(source, bounded, false, &o, &error)) return fail(error);
        o.spare = level_auto_spare(o);
    } else {
        std::vector<uint8_t> bytes;
        if (!toolio_read(source, LEVEL_SOURCE_MAX, &bytes, &error)) return fail(error);
        // Refused before the work, so a mistake costs no time; toolio_write
        // checks again, with the OBJ and MTL files read meanwhile.
        if (toolio_is_input(output))
            return fail(output + ": is the source; refusing to write over it");
        const std::string text(bytes.begin(), bytes.end());
        if (!level_compile_text(text, source, &file, &error)) return fail(error);
        for (const std::string &warning : file.warnings)
            std::fprintf(stderr, "levelc: %s\n", warning.c_str());
    }
    if (file.kind == LevelKind::Model && ends_with(output, ".3dw"))
        return fail(source + ": a model goes into a .3do file, not " + output);
    if (file.kind == LevelKind::World && ends_with(output, ".3do"))
        return fail(source + ": a world goes into a .3dw file, not " + output);

    if (!level_loadable(file, source, &error)) return fail(error);
    const std::vector<uint8_t> bytes = level_encode(file);
    if (file.kind == LevelKind::World) {
        // The game loads the world and the car into the pool together.
        int64_t car_bytes = 0;
        const std::string car = car_beside(output, &car_bytes);
        const std::string why =
            level_pool_together(output, static_cast<int64_t>(bytes.size()), car, car_bytes);
        if (!why.empty()) return fail(source + ": the game would refuse it: " + why);
    }
    if (!toolio_write(output, bytes.data(), bytes.size(), &error)) return fail(error);
    return true;
}

// The source's modification time, size and inode, to see a save.
struct Stamp {
    long sec = 0, nsec = 0;
    long long size = -1, inode = 0;
    bool operator==(const Stamp &) const = default;
};
Stamp stamp_of(const std::string &path) {
    Stamp s;
    struct stat st;
    if (stat(path.c_str(), &st) == 0)
        s = {st.st_mtim.tv_sec, st.st_mtim.tv_nsec, static_cast<long long>(st.st_size),
             static_cast<long long>(st.st_ino)};
    return s;
}

// --watch: compiles at once and again after each save of the source, saying
// what came of each compile, until a signal ends it.
[[noreturn]] void watch(const std::string &source, const std::string &output, const ObjImport &obj,
                        int32_t mass) {
    Stamp seen;
    for (;;) {
        const Stamp now = stamp_of(source);
        if (!(now == seen)) {
            seen = now;
            std::string error;
            if (compile(source, output, obj, mass, &error))
                std::printf("levelc: %s written\n", output.c_str());
            else
                std::fprintf(stderr, "levelc: %s\n", error.c_str());
            std::fflush(stdout);
        }
        usleep(WATCH_POLL_US);
    }
}

}   // namespace

int main(int argc, char **argv) {
    toolio_catch_signals();
    std::string source, output;
    ObjImport obj;
    int32_t mass = 100;
    bool obj_options = false;
    bool watching = false;
    for (int i = 1; i < argc; i++) {
        const std::string a = argv[i];
        toolio_answer_help_or_version(a, "levelc", USAGE, POLYDRIVE_VERSION);
        const bool takes_value = a == "-o" || a == "--limits" || a == "--mass" || a == "--scale" ||
                                 a == "--ramp" || a == "--refl";
        if (takes_value && i + 1 >= argc) usage_error(a + " needs a value");
        if (a == "--watch") {
            watching = true;
        } else if (a == "-o") {
            output = argv[++i];
        } else if (a == "--limits") {
            toolio_select_limits("levelc", argv[++i]);
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
            usage_error("unknown option " + a);
        } else if (source.empty()) {
            source = a;
        } else {
            usage_error("more than one source given");
        }
    }
    if (source.empty() || output.empty()) usage_error("needs a SOURCE and -o OUTPUT");

    if (obj_options && !ends_with(source, ".obj"))
        usage_error("--mass, --scale, --ramp and --refl apply to .obj sources only");
    if (watching) watch(source, output, obj, mass);
    std::string error;
    if (!compile(source, output, obj, mass, &error)) die(error);
    return 0;
}
