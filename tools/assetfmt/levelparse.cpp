// tools/assetfmt/levelparse.cpp: the text form of worlds and models, with
// its shorthands (quad, box, obj) expanded into plain vertices and faces.
#include <tiny_obj_loader.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <numbers>
#include <sstream>
#include <unistd.h>

#include "scene/fileformat.h"
#include "tools/assetfmt/level.h"
#include "tools/assetfmt/toolio.h"

namespace {

struct Token {
    std::string text;
    bool quoted;
};

// A side of a box, named from the viewer's frame: x right, y up, z forward.
struct BoxSide {
    const char *name;
    int axis;   // 0 x, 1 y, 2 z
    int high;   // 1 the side at the larger coordinate
};
constexpr BoxSide BOX_SIDES[6] = {{"left", 0, 0}, {"right", 0, 1}, {"bottom", 1, 0},
                                  {"top", 1, 1},  {"back", 2, 0},  {"front", 2, 1}};

struct Parser {
    std::string path;
    int line = 0;
    std::string error;
    LevelFile *out = nullptr;
    bool header_seen = false;

    // The object being read: a world's `object` block, or a model's body.
    LevelObject *object = nullptr;
    int object_line = 0;
    bool smooth = false;
    bool has_mass = false, has_spare = false, has_position = false, has_angles = false;

    // What bounds the work a source can ask for: the bytes its `obj` lines
    // have read, and the vertex and face bytes of the objects finished.
    size_t obj_bytes = 0;
    int64_t finished_bytes = 0;

    bool fail(const std::string &message) {
        error = path + ":" + std::to_string(line) + ": " + message;
        return false;
    }

    bool tokenize(const std::string &text, std::vector<Token> *tokens) {
        tokens->clear();
        // Names are NUL-terminated in the compiled file: a NUL can hold no place.
        if (text.find('\0') != std::string::npos) return fail("a NUL byte in the source");
        size_t i = 0;
        while (i < text.size()) {
            const char c = text[i];
            if (c == ' ' || c == '\t' || c == '\r') {
                i++;
            } else if (c == '#') {
                break;
            } else if (c == '"') {
                std::string s;
                i++;
                for (;;) {
                    if (i >= text.size()) return fail("unterminated quoted string");
                    const char q = text[i++];
                    if (q == '"') break;
                    if (q != '\\') {
                        s += q;
                        continue;
                    }
                    if (i >= text.size()) return fail("unterminated quoted string");
                    const char e = text[i++];
                    if (e == '"' || e == '\\') {
                        s += e;
                    } else if (e == 'x' && i + 2 <= text.size() &&
                               std::isxdigit(static_cast<unsigned char>(text[i])) &&
                               std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                        const long v = std::strtol(text.substr(i, 2).c_str(), nullptr, 16);
                        if (v == 0) return fail("a name cannot hold the byte 0");
                        s += static_cast<char>(v);
                        i += 2;
                    } else {
                        return fail(std::string("unknown escape \\") + e +
                                    " (use \\\" \\\\ or \\xHH)");
                    }
                }
                tokens->push_back({s, true});
            } else {
                const size_t start = i;
                while (i < text.size() && text[i] != ' ' && text[i] != '\t' && text[i] != '\r') i++;
                tokens->push_back({text.substr(start, i - start), false});
            }
        }
        return true;
    }

    bool number(const Token &t, int64_t min, int64_t max, int64_t *v, const char *what) {
        const char *s = t.text.c_str();
        char *end = nullptr;
        errno = 0;
        const bool hex = (s[0] == '0' && (s[1] == 'x' || s[1] == 'X'));
        const long long r = hex ? static_cast<long long>(std::strtoull(s + 2, &end, 16))
                                : std::strtoll(s, &end, 10);
        if (t.quoted || t.text.empty() || (hex && t.text.size() == 2) || *end != '\0' ||
            errno == ERANGE)
            return fail(std::string(what) + ": '" + t.text + "' is not a number");
        if (r < min || r > max)
            return fail(std::string(what) + " " + t.text + " is outside " + std::to_string(min) +
                        ".." + std::to_string(max));
        *v = r;
        return true;
    }

    bool int32(const Token &t, int32_t *v, const char *what) {
        int64_t r = 0;
        if (!number(t, INT32_MIN, INT32_MAX, &r, what)) return false;
        *v = static_cast<int32_t>(r);
        return true;
    }

    bool triple(const std::vector<Token> &tok, size_t at, int32_t *v, const char *what) {
        return int32(tok[at], &v[0], what) && int32(tok[at + 1], &v[1], what) &&
               int32(tok[at + 2], &v[2], what);
    }

    bool ramp(const Token &t, uint32_t *ramp) {
        for (uint32_t i = 0; i < 10; i++)
            if (!t.quoted && t.text == LEVEL_RAMP_NAMES[i]) {
                *ramp = i;
                return true;
            }
        if (!t.quoted && t.text == "gray") {
            *ramp = 5;
            return true;
        }
        int64_t r = 0;
        if (!t.text.empty() && std::isdigit(static_cast<unsigned char>(t.text[0])) &&
            number(t, 0, 15, &r, "colour ramp")) {
            *ramp = static_cast<uint32_t>(r);
            return true;
        }
        return fail("unknown colour ramp '" + t.text +
                    "' (red green blue cyan yellow grey orange purple magenta sky, or 0..15)");
    }

    bool colour(const std::vector<Token> &tok, size_t at, uint32_t *flags) {
        uint32_t r = 0;
        int64_t refl = 0;
        if (!ramp(tok[at], &r) || !number(tok[at + 1], 0, 255, &refl, "reflectivity")) return false;
        *flags = (r << 8) | static_cast<uint32_t>(refl);
        return true;
    }

    bool name(const Token &t, std::string *s) {
        if (t.text.size() > static_cast<size_t>(WORLD_NAME_MAX))
            return fail("name longer than 125 characters");
        *s = t.text;
        return true;
    }

    bool corner(const Token &t, int32_t *index) {
        int64_t v = 0;
        if (!number(t, INT32_MIN, INT32_MAX, &v, "vertex index")) return false;
        if (v < 0 || v >= object->vertex_count())
            return fail("vertex " + t.text + " does not exist (the object has " +
                        std::to_string(object->vertex_count()) + " so far, numbered from 0)");
        *index = static_cast<int32_t>(v);
        return true;
    }

    void add_face(uint32_t flags, int32_t a, int32_t b, int32_t c) {
        (smooth ? object->smooth : object->flat).push_back({flags, {a, b, c}});
    }

    int32_t add_vertex(int32_t x, int32_t y, int32_t z) {
        object->vertices.insert(object->vertices.end(), {x, y, z});
        return object->vertex_count() - 1;
    }

    bool expect(const std::vector<Token> &tok, size_t n, const char *usage) {
        if (tok.size() != n) return fail(std::string("usage: ") + usage);
        return true;
    }

    // The vertices and faces of the object being read, as stored: less than
    // its whole record.
    int64_t object_bytes() const {
        if (object == nullptr) return 0;
        return static_cast<int64_t>(object->vertices.size()) * 4 +
               static_cast<int64_t>(object->flat.size() + object->smooth.size()) * WORLD_FACE_BYTES;
    }

    // After each line: a level already larger than even the raised pool is
    // refused at once, so that no source runs on building what no game loads.
    bool within_bound() {
        const int64_t bytes = finished_bytes + object_bytes();
        if (bytes <= LIMITS_RAISED.pool_size) return true;
        return fail("the level's vertices and faces come to more than " +
                    std::to_string(LIMITS_RAISED.pool_size) +
                    " bytes already, more than the game's largest pool holds");
    }

    bool begin_object(const std::string &name_text) {
        out->records.emplace_back();
        object = &out->records.back().object;
        object->name = name_text;
        object_line = line;
        smooth = false;
        has_mass = has_spare = has_position = has_angles = false;
        return true;
    }

    bool finish_object() {
        const int saved = line;
        line = object_line;
        const std::string who =
            out->kind == LevelKind::Model ? std::string("model") : "object " + object->name;
        bool ok = true;
        if (object->vertex_count() < 1)
            ok = fail(who + " has no vertex");
        else if (object->flat.empty() && object->smooth.empty())
            ok = fail(who + " has no face");
        else if (!has_mass)
            ok = fail(who + " has no mass (add a line: mass N)");
        if (ok && !has_spare) {
            object->spare = level_auto_spare(*object);
            const int32_t spare_max = limits_current().spare_max;
            if (object->spare > spare_max)
                ok = fail(who + " needs " + std::to_string(object->spare) +
                          " spare slots (two a face), more than the game's " +
                          std::to_string(spare_max) + ": split it into smaller objects");
        }
        line = saved;
        finished_bytes += object_bytes();
        object = nullptr;
        return ok;
    }

    // The normal's component along the side's axis for the corners q[0..2].
    int64_t outward_normal(int32_t base, const int q[4]) const {
        int64_t p[3][3];
        for (int k = 0; k < 3; k++)
            for (int c = 0; c < 3; c++) p[k][c] = object->vertices[3 * (base + q[k]) + c];
        int64_t e1[3], e2[3];
        for (int c = 0; c < 3; c++) {
            e1[c] = p[1][c] - p[0][c];
            e2[c] = p[2][c] - p[0][c];
        }
        const int64_t n[3] = {e1[1] * e2[2] - e2[1] * e1[2], e1[2] * e2[0] - e1[0] * e2[2],
                              e1[0] * e2[1] - e2[0] * e1[1]};
        return n[0] + n[1] + n[2];   // two of the three are 0 for an axis-aligned side
    }

    bool box(const std::vector<Token> &tok) {
        const char *usage = "box X0 Y0 Z0 X1 Y1 Z1 RAMP REFL [skip SIDE...]";
        if (tok.size() < 9 || (tok.size() > 9 && tok[9].text != "skip") || tok.size() == 10)
            return fail(std::string("usage: ") + usage);
        int32_t a[3], b[3];
        uint32_t flags = 0;
        if (!triple(tok, 1, a, "box corner") || !triple(tok, 4, b, "box corner") ||
            !colour(tok, 7, &flags))
            return false;
        int32_t lo[3], hi[3];
        for (int i = 0; i < 3; i++) {
            lo[i] = std::min(a[i], b[i]);
            hi[i] = std::max(a[i], b[i]);
            if (lo[i] == hi[i]) return fail("a box needs a size on every axis");
        }
        bool skip[6] = {};
        for (size_t i = 10; i < tok.size(); i++) {
            bool known = false;
            for (int s = 0; s < 6; s++)
                if (tok[i].text == BOX_SIDES[s].name) skip[s] = known = true;
            if (!known)
                return fail("unknown box side '" + tok[i].text +
                            "' (left right bottom top back front)");
        }
        // Corner k has bit 0 for x, bit 1 for y, bit 2 for z at the high side.
        const int32_t base = object->vertex_count();
        for (int k = 0; k < 8; k++)
            add_vertex(k & 1 ? hi[0] : lo[0], k & 2 ? hi[1] : lo[1], k & 4 ? hi[2] : lo[2]);
        for (int s = 0; s < 6; s++) {
            if (skip[s]) continue;
            const int bit = 1 << BOX_SIDES[s].axis;
            const int u = 1 << ((BOX_SIDES[s].axis + 1) % 3);
            const int w = 1 << ((BOX_SIDES[s].axis + 2) % 3);
            const int side = BOX_SIDES[s].high ? bit : 0;
            // Corners in order round the side; reversed when the normal of
            // that order would point into the box (the front is outside).
            int q[4] = {side, side | u, side | u | w, side | w};
            if ((outward_normal(base, q) > 0) != (BOX_SIDES[s].high == 1)) std::swap(q[1], q[3]);
            add_face(flags, base + q[0], base + q[1], base + q[2]);
            add_face(flags, base + q[0], base + q[2], base + q[3]);
        }
        return true;
    }

    bool body_directive(const std::vector<Token> &tok) {
        const std::string &k = tok[0].text;
        if (k == "v") {
            int32_t p[3];
            if (!expect(tok, 4, "v X Y Z") || !triple(tok, 1, p, "coordinate")) return false;
            add_vertex(p[0], p[1], p[2]);
        } else if (k == "flat" || k == "smooth") {
            if (!expect(tok, 1, k == "flat" ? "flat" : "smooth")) return false;
            smooth = (k == "smooth");
        } else if (k == "face") {
            uint32_t flags = 0;
            int32_t c[3] = {0, 0, 0};
            size_t at = 0;
            if (tok.size() == 5) {
                int64_t f = 0;
                if (!number(tok[1], INT32_MIN, UINT32_MAX, &f, "face flags")) return false;
                flags = static_cast<uint32_t>(f);
                at = 2;
            } else if (tok.size() == 6) {
                if (!colour(tok, 1, &flags)) return false;
                at = 3;
            } else {
                return fail("usage: face RAMP REFL A B C, or face FLAGS A B C");
            }
            const int corners = (flags & FACE_SPRITE) ? 1 : 3;
            for (int i = 0; i < 3; i++) {
                if (i < corners) {
                    if (!corner(tok[at + i], &c[i])) return false;
                } else if (!int32(tok[at + i], &c[i], "vertex index")) {
                    return false;
                }
            }
            add_face(flags, c[0], c[1], c[2]);
        } else if (k == "sprite") {
            int64_t scale = 0;
            int32_t c = 0;
            if (!expect(tok, 3, "sprite SCALE A") ||
                !number(tok[1], 0, FACE_SCALE_MAX, &scale, "sprite scale") || !corner(tok[2], &c))
                return false;
            add_face(FACE_SPRITE | (static_cast<uint32_t>(scale) << FACE_SCALE_SHIFT), c, 0, 0);
        } else if (k == "quad") {
            uint32_t flags = 0;
            int32_t c[4];
            if (!expect(tok, 7, "quad RAMP REFL A B C D") || !colour(tok, 1, &flags)) return false;
            for (int i = 0; i < 4; i++)
                if (!corner(tok[3 + i], &c[i])) return false;
            add_face(flags, c[0], c[1], c[2]);
            add_face(flags, c[0], c[2], c[3]);
        } else if (k == "box") {
            return box(tok);
        } else if (k == "obj") {
            if (tok.size() != 4 && !(tok.size() == 6 && tok[4].text == "scale"))
                return fail("usage: obj FILE RAMP REFL [scale S]");
            ObjImport options;
            // The OBJ's vertices and faces must fit the room the pool in
            // force has left, judged before they are built.
            options.room_bytes = std::max<int64_t>(
                0, int64_t{limits_current().pool_size} - finished_bytes - object_bytes());
            uint32_t flags = 0;
            if (!colour(tok, 2, &flags)) return false;
            options.ramp = flags >> 8;
            options.refl = flags & 0xFF;
            if (tok.size() == 6) {
                int64_t s = 0;
                if (!number(tok[5], 1, 1 << 20, &s, "obj scale")) return false;
                options.scale = static_cast<int32_t>(s);
            }
            std::string file = tok[1].text;
            const size_t slash = path.find_last_of('/');
            if (!file.empty() && file[0] != '/' && slash != std::string::npos)
                file = path.substr(0, slash + 1) + file;
            // Each OBJ file is read whole; all of them together are bounded
            // as one file is, however many obj lines name them.
            std::vector<uint8_t> bytes;
            std::string why;
            if (!toolio_read(file, LEVEL_SOURCE_MAX, &bytes, &why)) return fail(why);
            if (bytes.size() > LEVEL_SOURCE_MAX - obj_bytes)
                return fail("the obj lines read more than " + std::to_string(LEVEL_SOURCE_MAX) +
                            " bytes of OBJ files in all");
            obj_bytes += bytes.size();
            const size_t cut = file.find_last_of('/');
            const std::string dir =
                cut == std::string::npos ? std::string("./") : file.substr(0, cut + 1);
            if (!level_add_obj_text(std::string(bytes.begin(), bytes.end()), file, dir, options,
                                    smooth, object, &why))
                return fail(why);
        } else if (k == "mass") {
            if (!expect(tok, 2, "mass M") || !int32(tok[1], &object->mass, "mass")) return false;
            if (object->mass <= 0) return fail("mass must be positive (it divides in collisions)");
            if (has_mass) return fail("mass given twice");
            has_mass = true;
        } else if (k == "spare") {
            if (!expect(tok, 2, "spare N, or spare auto")) return false;
            if (has_spare) return fail("spare given twice");
            has_spare = true;
            if (tok[1].text == "auto" && !tok[1].quoted) {
                has_spare = false;   // computed when the object is complete
                return true;
            }
            int64_t e = 0;
            if (!number(tok[1], 0, limits_current().spare_max, &e, "spare slots")) return false;
            object->spare = static_cast<int32_t>(e);
        } else if (k == "position" || k == "angles") {
            if (out->kind == LevelKind::Model) return fail("a model has no " + k);
            const bool pos = (k == "position");
            bool &seen = pos ? has_position : has_angles;
            if (!expect(tok, 4, pos ? "position X Y Z" : "angles A B C") ||
                !triple(tok, 1, pos ? object->position : object->angles, k.c_str()))
                return false;
            if (seen) return fail(k + " given twice");
            seen = true;
        } else {
            return fail("unknown word '" + k + "'");
        }
        return true;
    }

    bool trailing(const std::vector<Token> &tok) {
        if (!expect(tok, 2, "trailing HEX")) return false;
        const std::string &h = tok[1].text;
        if (h.size() % 2 != 0) return fail("trailing bytes need an even number of hex digits");
        for (size_t i = 0; i < h.size(); i += 2) {
            if (!std::isxdigit(static_cast<unsigned char>(h[i])) ||
                !std::isxdigit(static_cast<unsigned char>(h[i + 1])))
                return fail("trailing bytes are hex digits");
            out->trailing.push_back(
                static_cast<uint8_t>(std::strtol(h.substr(i, 2).c_str(), nullptr, 16)));
        }
        return true;
    }

    bool directive(const std::vector<Token> &tok) {
        const std::string &k = tok[0].text;
        if (!header_seen) {
            if (k != "world" && k != "model")
                return fail("a source starts with 'world' or 'model'");
            if (!expect(tok, 1, k.c_str())) return false;
            header_seen = true;
            out->kind = (k == "world") ? LevelKind::World : LevelKind::Model;
            if (out->kind == LevelKind::Model) begin_object("");
            return true;
        }
        if (!out->trailing.empty() && k != "trailing")
            return fail("nothing but trailing bytes may follow trailing bytes");
        if (k == "trailing") {
            if (object != nullptr && out->kind == LevelKind::World)
                return fail("trailing bytes go after the last record, not inside an object");
            return trailing(tok);
        }
        if (out->kind == LevelKind::Model) {
            if (k == "object" || k == "start" || k == "end")
                return fail("a model holds one object: '" + k + "' belongs in a world");
            return body_directive(tok);
        }
        if (object != nullptr) {
            if (k == "end") return expect(tok, 1, "end") && finish_object();
            if (k == "object" || k == "start")
                return fail("'" + k + "' inside object " + object->name + " (missing 'end'?)");
            return body_directive(tok);
        }
        if (k == "object") {
            std::string n;
            return expect(tok, 2, "object NAME") && name(tok[1], &n) && begin_object(n);
        }
        if (k == "start") {
            if (tok.size() != 5 && tok.size() != 8) return fail("usage: start NAME X Y Z [A B C]");
            LevelRecord r;
            r.is_start = true;
            if (!name(tok[1], &r.start.name) || !triple(tok, 2, r.start.position, "position"))
                return false;
            if (tok.size() == 8 && !triple(tok, 5, r.start.angles, "angle")) return false;
            const int32_t *a = r.start.angles;
            if (a[0] != 0 || a[1] != 0 || a[2] != 0)
                out->warnings.push_back(path + ":" + std::to_string(line) +
                                        ": warning: the game does not use a start's angles (" +
                                        std::to_string(a[0]) + " " + std::to_string(a[1]) + " " +
                                        std::to_string(a[2]) +
                                        "): every car starts facing +z; the file keeps them");
            out->records.push_back(std::move(r));
            return true;
        }
        if (k == "world" || k == "model") return fail("'" + k + "' given twice");
        return fail("unknown word '" + k + "' outside an object");
    }
};

}   // namespace

bool level_parse(const std::string &text, const std::string &path, LevelFile *out,
                 std::string *error) {
    *out = LevelFile{};
    Parser p;
    p.path = path;
    p.out = out;
    std::vector<Token> tokens;
    size_t start = 0;
    bool ok = true;
    while (ok && start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        p.line++;
        ok = p.tokenize(text.substr(start, end - start), &tokens);
        if (ok && !tokens.empty()) ok = p.directive(tokens) && p.within_bound();
        start = end + 1;
    }
    if (ok && !p.header_seen) ok = p.fail("empty source: it starts with 'world' or 'model'");
    if (ok && p.object != nullptr) {
        if (out->kind == LevelKind::World) {
            p.line = p.object_line;
            ok = p.fail("object " + p.object->name + " has no 'end'");
        } else
            ok = p.finish_object();
    }
    if (!ok && error != nullptr) *error = p.error;
    return ok;
}

namespace {

// Reads the MTL files an OBJ file names from its folder, bounded as every
// input is; a file that is missing is skipped (the faces keep the default
// ramp), one that cannot be taken (not a regular file, too large) is an error.
class BoundedMaterialReader : public tinyobj::MaterialReader {
  public:
    explicit BoundedMaterialReader(std::string dir) : dir_(std::move(dir)) {}
    bool operator()(const std::string &name, std::vector<tinyobj::material_t> *materials,
                    std::map<std::string, int> *map, std::string *warn, std::string *) override {
        const std::string path = dir_ + name;
        if (access(path.c_str(), F_OK) != 0) return false;
        std::vector<uint8_t> bytes;
        std::string why;
        if (!toolio_read(path, LEVEL_SOURCE_MAX, &bytes, &why)) {
            if (error.empty()) error = why;
            return false;
        }
        std::istringstream in(std::string(bytes.begin(), bytes.end()));
        tinyobj::LoadMtl(map, materials, &in, warn, &why);
        return true;
    }
    std::string error;

  private:
    std::string dir_;
};

// Faces of up to this many corners go to the OBJ reader's own ear clipping
// (its time grows as the cube of the corners); larger ones are cut here.
constexpr size_t OBJ_FACE_EAR_MAX = 8;

bool is_digit(char c) { return c >= '0' && c <= '9'; }

// A decimal number: sign, digits with at most one point, an exponent; no
// hexadecimal, no inf or nan, and finite as a double.
bool finite_decimal(const std::string &w) {
    size_t i = (w[0] == '+' || w[0] == '-') ? 1 : 0;
    size_t digits = 0;
    while (i < w.size() && is_digit(w[i])) i++, digits++;
    if (i < w.size() && w[i] == '.') {
        i++;
        while (i < w.size() && is_digit(w[i])) i++, digits++;
    }
    if (digits == 0) return false;
    if (i < w.size() && (w[i] == 'e' || w[i] == 'E')) {
        i++;
        if (i < w.size() && (w[i] == '+' || w[i] == '-')) i++;
        const size_t start = i;
        while (i < w.size() && is_digit(w[i])) i++;
        if (i == start) return false;
    }
    return i == w.size() && std::isfinite(std::strtod(w.c_str(), nullptr));
}

// At most 40 bytes of a word, anything not printable as '?'.
std::string shown_word(const std::string &word) {
    std::string shown = word.substr(0, 40);
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f) c = '?';
    return shown;
}

// What a first pass over an OBJ text finds: its vertices, the triangles its
// faces will give, and the text tinyobj is to read (the source itself, or a
// copy in which each large face is cut into a fan of triangles).
struct ObjScan {
    std::vector<double> xyz;   // 3 a vertex, as written
    int64_t triangles = 0;
    bool rewritten = false;
    std::string text;
};

// The vertex a face corner names ("7", "-2", "7/1/3"), counted from 0: a
// positive number counts from the file's first vertex (it may come later), a
// negative one back from the vertices so far. Sets *number to the number as
// written; false when there is none or it is 0.
bool corner_number(const std::string &word, int64_t vertices, int64_t *number, int64_t *vertex) {
    char *end = nullptr;
    errno = 0;
    const long long v = std::strtoll(word.c_str(), &end, 10);
    if (end == word.c_str() || (*end != '\0' && *end != '/') || errno == ERANGE || v == 0)
        return false;
    *number = v;
    *vertex = v > 0 ? v - 1 : vertices + v;
    return true;
}

// Whether the polygon through the corners is convex and winds round once, in
// the plane its Newell normal is most nearly perpendicular to. Kinks inward
// of less than a milliradian (coordinates rounded as they were written) pass:
// the fan's triangles then overlap by slivers no pixel shows.
bool convex_polygon(const std::vector<double> &xyz, const std::vector<int64_t> &corner) {
    const size_t n = corner.size();
    double normal[3] = {0, 0, 0};
    for (size_t k = 0; k < n; k++) {
        const double *p = &xyz[3 * corner[k]], *q = &xyz[3 * corner[(k + 1) % n]];
        normal[0] += (p[1] - q[1]) * (p[2] + q[2]);
        normal[1] += (p[2] - q[2]) * (p[0] + q[0]);
        normal[2] += (p[0] - q[0]) * (p[1] + q[1]);
    }
    int drop = 0;
    for (int c = 1; c < 3; c++)
        if (std::fabs(normal[c]) > std::fabs(normal[drop])) drop = c;
    if (!(std::fabs(normal[drop]) > 0)) return false;   // no area
    const int u = (drop + 1) % 3, w = (drop + 2) % 3;
    const double sign = normal[drop] > 0 ? 1 : -1;
    double turned = 0;
    for (size_t k = 0; k < n; k++) {
        const double *a = &xyz[3 * corner[k]], *b = &xyz[3 * corner[(k + 1) % n]],
                     *c = &xyz[3 * corner[(k + 2) % n]];
        const double e0u = b[u] - a[u], e0w = b[w] - a[w], e1u = c[u] - b[u], e1w = c[w] - b[w];
        const double cross = (e0u * e1w - e0w * e1u) * sign;
        const double dot = e0u * e1u + e0w * e1w;
        const double turn = std::atan2(cross, dot);
        if (turn < -1e-3) return false;
        turned += turn;
    }
    return std::fabs(turned - 2 * std::numbers::pi) < 1e-3;   // once round, not a star
}

// One pass over the lines, as the OBJ reader ends them ("\n", "\r\n" or a
// lone "\r"). Every vertex line holds three to seven finite decimal numbers
// (x y z, and w or r g b): the OBJ reader would take anything else as 0. A
// face of more than OBJ_FACE_EAR_MAX corners is cut into a fan here (in time
// linear in its corners), and must then be convex. The pass stops once the
// vertices and triangles take more than room bytes of the file.
bool scan_obj(const std::string &text, const std::string &name, int64_t room, ObjScan *scan,
              std::string *error) {
    size_t start = 0;
    int line = 0;
    std::vector<std::string> words;
    std::vector<int64_t> corners;
    int64_t highest = 0;   // the highest positive corner number, on highest_line
    int highest_line = 0;
    auto fail = [&](const std::string &why) {
        *error = name + ":" + std::to_string(line) + ": " + why;
        return false;
    };
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        line++;
        const size_t line_start = start;
        std::istringstream in(text.substr(start, end - start));
        start = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        std::string word;
        if (!(in >> word) || (word != "v" && word != "f")) {
            if (scan->rewritten) scan->text.append(text, line_start, start - line_start);
            continue;
        }
        const bool vertex = word == "v";
        words.clear();
        while (in >> word && word[0] != '#') words.push_back(word);
        if (vertex) {
            for (const std::string &w : words)
                if (!finite_decimal(w))
                    return fail("coordinate '" + shown_word(w) +
                                "' is not a finite decimal number");
            if (words.size() < 3 || words.size() > 7)
                return fail("a vertex needs x y z (and at most w or r g b)");
            for (int c = 0; c < 3; c++) scan->xyz.push_back(std::strtod(words[c].c_str(), nullptr));
        } else if (words.size() >= 3) {
            scan->triangles += static_cast<int64_t>(words.size()) - 2;
        }
        const int64_t vertices = static_cast<int64_t>(scan->xyz.size() / 3);
        // Every corner names a vertex: the OBJ reader would drop a face of
        // four or more corners that names none, and the file's data with it.
        corners.clear();
        for (size_t k = 0; !vertex && k < words.size(); k++) {
            int64_t number = 0, at = 0;
            if (!corner_number(words[k], vertices, &number, &at) || at < 0)
                return fail("a face uses a vertex that does not exist ('" + shown_word(words[k]) +
                            "')");
            if (number > 0 && number > highest) highest = number, highest_line = line;
            corners.push_back(at);
        }
        if (12 * vertices + 16 * scan->triangles > room)
            return fail("its vertices and faces take more than the " + std::to_string(room) +
                        " bytes the game's " + std::to_string(limits_current().pool_size) +
                        "-byte resource pool has left for them (" + limits_current().name +
                        " limits; 12 bytes a vertex, 16 a triangle)");
        if (vertex || words.size() <= OBJ_FACE_EAR_MAX) {
            if (scan->rewritten) scan->text.append(text, line_start, start - line_start);
            continue;
        }
        for (int64_t c : corners)
            if (c >= vertices)
                return fail("a face of " + std::to_string(words.size()) +
                            " corners names a vertex written after it");
        if (!convex_polygon(scan->xyz, corners))
            return fail("a face of " + std::to_string(words.size()) +
                        " corners that is not convex: split it (at most " +
                        std::to_string(OBJ_FACE_EAR_MAX) + " corners for one that is not)");
        if (!scan->rewritten) {
            scan->rewritten = true;
            scan->text.assign(text, 0, line_start);
        }
        for (size_t k = 1; k + 1 < words.size(); k++)
            scan->text += "f " + words[0] + " " + words[k] + " " + words[k + 1] + "\n";
    }
    if (highest > static_cast<int64_t>(scan->xyz.size() / 3)) {
        line = highest_line;
        return fail("a face uses vertex " + std::to_string(highest) + " of " +
                    std::to_string(scan->xyz.size() / 3));
    }
    return true;
}

}   // namespace

bool level_add_obj(const std::string &obj_path, const ObjImport &options, bool smooth_group,
                   LevelObject *object, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!toolio_read(obj_path, LEVEL_SOURCE_MAX, &bytes, error)) return false;
    const size_t slash = obj_path.find_last_of('/');
    const std::string dir =
        slash == std::string::npos ? std::string("./") : obj_path.substr(0, slash + 1);
    return level_add_obj_text(std::string(bytes.begin(), bytes.end()), obj_path, dir, options,
                              smooth_group, object, error);
}

bool level_add_obj_text(const std::string &text, const std::string &obj_path,
                        const std::string &mtl_dir, const ObjImport &options, bool smooth_group,
                        LevelObject *object, std::string *error) {
    if (text.find('\0') != std::string::npos) {
        *error = obj_path + ": not a text file (it holds a NUL byte)";
        return false;
    }
    ObjScan scan;
    if (!scan_obj(text, obj_path, options.room_bytes, &scan, error)) return false;
    tinyobj::attrib_t attrib;
    std::vector<tinyobj::shape_t> shapes;
    std::vector<tinyobj::material_t> materials;
    std::string warn, err;
    std::istringstream in(scan.rewritten ? scan.text : text);
    BoundedMaterialReader mtl(mtl_dir);
    if (!tinyobj::LoadObj(&attrib, &shapes, &materials, &warn, &err, &in,
                          mtl_dir.empty() ? nullptr : &mtl, true)) {
        while (!err.empty() && err.back() == '\n') err.pop_back();
        *error = obj_path + ": " + (err.empty() ? std::string("cannot read") : err);
        return false;
    }
    if (!mtl.error.empty()) {
        *error = mtl.error;
        return false;
    }
    const int32_t first = object->vertex_count();
    const size_t count = attrib.vertices.size() / 3;
    for (size_t i = 0; i < count; i++) {
        for (int c = 0; c < 3; c++) {
            const double v = double{attrib.vertices[3 * i + c]} * options.scale * (c == 2 ? -1 : 1);
            if (!(std::fabs(v) < 1073741824.0)) {
                *error = obj_path + ": vertex " + std::to_string(i + 1) + " is out of range";
                return false;
            }
            object->vertices.push_back(static_cast<int32_t>(std::lround(v)));
        }
    }
    size_t faces_added = 0;
    for (const tinyobj::shape_t &shape : shapes) {
        const tinyobj::mesh_t &mesh = shape.mesh;
        size_t at = 0;
        for (size_t f = 0; f < mesh.num_face_vertices.size(); f++) {
            const size_t n = mesh.num_face_vertices[f];
            if (n != 3) {
                at += n;   // points and lines have no surface
                continue;
            }
            uint32_t ramp = options.ramp;
            const int m = f < mesh.material_ids.size() ? mesh.material_ids[f] : -1;
            if (m >= 0 && static_cast<size_t>(m) < materials.size())
                for (uint32_t r = 0; r < 10; r++)
                    if (materials[static_cast<size_t>(m)].name == LEVEL_RAMP_NAMES[r]) ramp = r;
            const bool smooth = smooth_group || (f < mesh.smoothing_group_ids.size() &&
                                                 mesh.smoothing_group_ids[f] != 0);
            // Negating z mirrors the model, which turns an OBJ front (counter-
            // clockwise seen from outside) into a back: the corners are taken
            // in reverse to keep the front outside.
            LevelFace face{(ramp << 8) | options.refl, {0, 0, 0}};
            for (int c = 0; c < 3; c++) {
                const int vi = mesh.indices[at + static_cast<size_t>(c)].vertex_index;
                if (vi < 0 || static_cast<size_t>(vi) >= count) {
                    *error = obj_path + ": a face uses a vertex that does not exist";
                    return false;
                }
                face.index[(3 - c) % 3] = first + vi;
            }
            (smooth ? object->smooth : object->flat).push_back(face);
            faces_added++;
            at += n;
        }
    }
    if (faces_added == 0) {
        *error = obj_path + ": holds no triangle face";
        return false;
    }
    return true;
}
