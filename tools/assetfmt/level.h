// tools/assetfmt/level.h: world (.3dw) and model (.3do) files for the tools:
// the binary form the game loads, and a line-based text form people edit.
//
// Binary: little-endian int32 words and NUL-terminated strings of at most 125
// characters. A world is a list of records (object or player start) closed by
// the word -1; a model is one object without position, angles or name.
// Whatever follows the end of the data is kept as `trailing` so that any
// file decodes and encodes back to the same bytes.
//
// Text (the plain form level_print writes, a subset of what level_parse
// reads; '#' starts a comment outside quotes):
//
//   world                              or: model (then the object lines follow)
//   object NAME                        NAME bare or "quoted" (\" \\ \xHH)
//     position X Y Z   angles A B C   mass M   spare E|auto
//     v X Y Z                          vertices, numbered from 0
//     flat | smooth                    group of the faces that follow
//     face RAMP REFL A B C             RAMP a ramp name or 0..15, REFL 0..255
//     face 0xFLAGS A B C               any flag word
//     sprite SCALE A                   sprite face, scale exponent 0..14
//   end
//   start NAME X Y Z [A B C]           the angles are kept, but every car
//                                      starts facing +z: level_parse warns
//                                      of angles that are not 0 0 0
//   trailing HEX                       bytes after the data
//
// level_parse also reads the shorthands `quad RAMP REFL A B C D`,
// `box X0 Y0 Z0 X1 Y1 Z1 RAMP REFL [skip SIDE...]` and
// `obj FILE RAMP REFL [scale S]`, which expand to plain vertices and faces.
// Errors are one line: "FILE:LINE: message" (parse) or "offset N: message"
// (decode).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "frame/game.h"
#include "scene/fileformat.h"
#include "scene/limits.h"

enum class LevelKind { World, Model };

struct LevelFace {
    uint32_t flags;
    int32_t index[3];
};

struct LevelObject {
    std::vector<int32_t> vertices;   // x, y, z per vertex
    int32_t spare = 0;
    std::vector<LevelFace> flat;
    std::vector<LevelFace> smooth;
    int32_t position[3] = {0, 0, 0};   // world objects only
    int32_t angles[3] = {0, 0, 0};
    std::string name;
    int32_t mass = 0;

    int32_t vertex_count() const { return static_cast<int32_t>(vertices.size() / 3); }
};

struct LevelStart {
    int32_t position[3] = {0, 0, 0};
    int32_t angles[3] = {0, 0, 0};
    std::string name;
};

struct LevelRecord {
    bool is_start = false;
    LevelObject object;   // when !is_start
    LevelStart start;     // when is_start
};

struct LevelFile {
    LevelKind kind = LevelKind::World;
    std::vector<LevelRecord> records;   // a model holds exactly one object
    std::vector<uint8_t> trailing;
    // What level_parse noticed but accepts, one "FILE:LINE: warning: ..."
    // each (not part of the file's bytes).
    std::vector<std::string> warnings;
};

// Ramp names of the default palette, index = ramp number (0..9).
extern const char *const LEVEL_RAMP_NAMES[10];

// Spare slots that always suffice: two per polygon face (the most near-plane
// clipping can add for one face), none for a sprite object.
int32_t level_auto_spare(const LevelObject &object);

std::vector<uint8_t> level_encode(const LevelFile &file);
bool level_decode(const std::vector<uint8_t> &bytes, LevelKind kind, LevelFile *out,
                  std::string *error);
std::string level_print(const LevelFile &file);

// path names the source in messages and anchors relative `obj` paths.
bool level_parse(const std::string &text, const std::string &path, LevelFile *out,
                 std::string *error);

// A text source as levelc compiles it: a NUL byte refused, then level_parse.
bool level_compile_text(const std::string &text, const std::string &path, LevelFile *out,
                        std::string *error);

// What the loader would refuse although the bytes decode: an object with no
// vertex or no face, a corner outside its object, a mass of 0 or below.
// Returns one message per problem ("object 3 (Road): ...").
std::vector<std::string> level_problems(const LevelFile &file);
// False with levelc's one line when level_problems finds any: "PATH: the
// game would refuse it: FIRST (and N more)".
bool level_loadable(const LevelFile &file, const std::string &path, std::string *error);

// The triangles of a Wavefront OBJ file added to an object: positions ×
// scale, rounded, with z negated (OBJ is right-handed; here x right, y up, z
// forward) and the corner order reversed, so that OBJ fronts (counter-
// clockwise seen from outside) stay fronts. Faces take ramp/refl unless their
// material is named after a ramp; faces of a smoothing group go to the smooth
// group, the others to the flat group unless smooth_group says smooth.
struct ObjImport {
    int32_t scale = 1;
    uint32_t ramp = 5;
    uint32_t refl = 200;
    // Bytes of the compiled file the OBJ's vertices (12 each) and triangles
    // (16 each) may take: more is refused before the OBJ reader runs.
    int64_t room_bytes = INT64_MAX;
};
// A face of more than eight corners is cut into a fan of triangles from its
// first corner, and must be convex; smaller ones are cut by the OBJ reader.
// The file is read through toolio_read (at most LEVEL_SOURCE_MAX bytes), the
// MTL files it names likewise from its folder. A vertex coordinate that is
// not a finite decimal number is an error naming the OBJ file and line, and so
// is a file that adds no triangle.
bool level_add_obj(const std::string &obj_path, const ObjImport &options, bool smooth_group,
                   LevelObject *object, std::string *error);
// The same on text in memory; mtl_dir "" reads no MTL file.
bool level_add_obj_text(const std::string &text, const std::string &obj_path,
                        const std::string &mtl_dir, const ObjImport &options, bool smooth_group,
                        LevelObject *object, std::string *error);

// The largest inputs the tools read: a text source, an OBJ or MTL file, a
// PNG picture (16 MiB); a world or model file holds no more than the game's
// resource pool under the classic limits (level_problems and the spare slot
// bounds follow the limits in force, scene/limits).
constexpr size_t LEVEL_SOURCE_MAX = size_t{16} << 20;
constexpr size_t LEVEL_FILE_MAX = GAME_POOL_SIZE;

// The shipped car1.3do's length: the car a world is played with when no
// other car1.3do stands beside it.
constexpr int64_t LEVEL_SHIPPED_CAR_BYTES = 532;

// "" when a file of bytes and another of other_bytes fit the pool in force
// together, else the line that says they do not: "WHAT (N bytes) and OTHER
// (M bytes) do not fit the classic 10240-byte pool together", with how to
// play it when the raised pool holds them.
std::string level_pool_together(const std::string &what, int64_t bytes, const std::string &other,
                                int64_t other_bytes);

// The length of the smallest world that names the bitmap `name' (one sprite
// object and nothing else): the least a bitmap shares the pool with.
int64_t level_smallest_naming(const std::string &name);
