// tools/assetfmt/level.cpp: binary encoding and decoding of world and model
// files, the plain text printer and the loader's semantic checks.
#include "tools/assetfmt/level.h"

#include "scene/world.h"

#include <cctype>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>

const char *const LEVEL_RAMP_NAMES[10] = {"red",  "green",  "blue",   "cyan",    "yellow",
                                          "grey", "orange", "purple", "magenta", "sky"};

namespace {

void put_int(std::vector<uint8_t> *out, int32_t v) {
    const auto u = static_cast<uint32_t>(v);
    for (int i = 0; i < 4; i++) out->push_back(static_cast<uint8_t>(u >> (8 * i)));
}

void put_string(std::vector<uint8_t> *out, const std::string &s) {
    out->insert(out->end(), s.begin(), s.end());
    out->push_back(0);
}

void put_faces(std::vector<uint8_t> *out, const std::vector<LevelFace> &faces) {
    put_int(out, static_cast<int32_t>(faces.size()));
    for (const LevelFace &f : faces) {
        put_int(out, static_cast<int32_t>(f.flags));
        for (int32_t i : f.index) put_int(out, i);
    }
}

// The mesh part every object and model shares: V, E, vertices, both groups.
void put_mesh(std::vector<uint8_t> *out, const LevelObject &o) {
    put_int(out, o.vertex_count());
    put_int(out, o.spare);
    for (int32_t c : o.vertices) put_int(out, c);
    put_faces(out, o.flat);
    put_faces(out, o.smooth);
}

struct Reader {
    const std::vector<uint8_t> &bytes;
    size_t pos = 0;
    std::string error;

    size_t left() const { return bytes.size() - pos; }

    bool fail(const std::string &what) {
        error = "offset " + std::to_string(pos) + ": " + what;
        return false;
    }

    bool read_int(int32_t *v, const char *what) {
        if (left() < 4) return fail(std::string("file ends inside ") + what);
        uint32_t u = 0;
        for (int i = 0; i < 4; i++) u |= uint32_t{bytes[pos + i]} << (8 * i);
        pos += 4;
        *v = static_cast<int32_t>(u);
        return true;
    }

    bool read_string(std::string *s, const char *what) {
        s->clear();
        while (pos < bytes.size()) {
            const uint8_t b = bytes[pos++];
            if (b == 0) return true;
            if (s->size() == WORLD_NAME_MAX)
                return fail(std::string(what) + " longer than 125 characters");
            s->push_back(static_cast<char>(b));
        }
        return fail(std::string("file ends inside ") + what);
    }

    // A count of n records of `size` bytes each must fit what is left.
    bool read_count(int32_t *n, size_t size, const char *what) {
        if (!read_int(n, what)) return false;
        if (*n < 0 || static_cast<uint64_t>(*n) * size > left())
            return fail(std::string(what) + " " + std::to_string(*n) + " does not fit the file");
        return true;
    }

    bool read_faces(std::vector<LevelFace> *faces, const char *what) {
        int32_t n = 0;
        if (!read_count(&n, 16, what)) return false;
        faces->resize(static_cast<size_t>(n));
        for (LevelFace &f : *faces) {
            int32_t flags = 0;
            read_int(&flags, "a face");
            f.flags = static_cast<uint32_t>(flags);
            for (int32_t &i : f.index) read_int(&i, "a face");
        }
        return true;
    }

    // V has been read already (a world's kind word, or a model's first word).
    bool read_mesh(int32_t v, LevelObject *o) {
        if (v < 1) return fail("vertex count " + std::to_string(v) + " is not positive");
        if (!read_int(&o->spare, "the spare slot count")) return false;
        if (o->spare < 0)
            return fail("spare slot count " + std::to_string(o->spare) + " is negative");
        if (static_cast<uint64_t>(v) * 12 > left())
            return fail("vertex count " + std::to_string(v) + " does not fit the file");
        o->vertices.resize(static_cast<size_t>(v) * 3);
        for (int32_t &c : o->vertices) read_int(&c, "a vertex");
        return read_faces(&o->flat, "flat face count") &&
               read_faces(&o->smooth, "smooth face count");
    }

    bool read_triple(int32_t *t, const char *what) {
        return read_int(&t[0], what) && read_int(&t[1], what) && read_int(&t[2], what);
    }
};

void append(std::string *out, const char *format, ...) __attribute__((format(printf, 2, 3)));
void append(std::string *out, const char *format, ...) {
    // Sized first: a quoted name of escaped bytes runs to some 500 characters.
    va_list args, again;
    va_start(args, format);
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n > 0) {
        const size_t at = out->size();
        out->resize(at + static_cast<size_t>(n) + 1);
        std::vsnprintf(out->data() + at, static_cast<size_t>(n) + 1, format, again);
        out->resize(at + static_cast<size_t>(n));
    }
    va_end(again);
}

bool is_bare(const std::string &s) {
    if (s.empty()) return false;
    for (unsigned char c : s)
        if (!(std::isalnum(c) || c == '_' || c == '.' || c == '-' || c == '+')) return false;
    return true;
}

std::string quote(const std::string &s) {
    if (is_bare(s)) return s;
    std::string q = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            q += '\\';
            q += static_cast<char>(c);
        } else if (c < 0x20 || c >= 0x7f) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02x", c);
            q += buf;
        } else {
            q += static_cast<char>(c);
        }
    }
    return q + "\"";
}

std::string ramp_name(uint32_t ramp) {
    if (ramp < 10) return LEVEL_RAMP_NAMES[ramp];
    return std::to_string(ramp);
}

void print_face(std::string *out, const char *indent, const LevelFace &f) {
    const uint32_t scale = (f.flags & FACE_SCALE_MASK) >> FACE_SCALE_SHIFT;
    if ((f.flags & ~(FACE_RAMP_MASK | FACE_REFLECT_MASK)) == 0) {
        append(out, "%sface %s %u %d %d %d\n", indent,
               ramp_name((f.flags & FACE_RAMP_MASK) >> FACE_RAMP_SHIFT).c_str(),
               f.flags & FACE_REFLECT_MASK, f.index[0], f.index[1], f.index[2]);
    } else if (f.flags == (FACE_SPRITE | (scale << FACE_SCALE_SHIFT)) && scale <= FACE_SCALE_MAX &&
               f.index[1] == 0 && f.index[2] == 0) {
        append(out, "%ssprite %u %d\n", indent, scale, f.index[0]);
    } else {
        append(out, "%sface 0x%08x %d %d %d\n", indent, f.flags, f.index[0], f.index[1],
               f.index[2]);
    }
}

void print_mesh(std::string *out, const char *indent, const LevelObject &o) {
    append(out, "%smass %d\n", indent, o.mass);
    append(out, "%sspare %d\n", indent, o.spare);
    for (int32_t i = 0; i < o.vertex_count(); i++)
        append(out, "%sv %d %d %d  # %d\n", indent, o.vertices[3 * i], o.vertices[3 * i + 1],
               o.vertices[3 * i + 2], i);
    if (!o.flat.empty()) append(out, "%sflat\n", indent);
    for (const LevelFace &f : o.flat) print_face(out, indent, f);
    if (!o.smooth.empty()) append(out, "%ssmooth\n", indent);
    for (const LevelFace &f : o.smooth) print_face(out, indent, f);
}

void print_trailing(std::string *out, const std::vector<uint8_t> &bytes) {
    for (size_t i = 0; i < bytes.size(); i += 32) {
        *out += "trailing ";
        for (size_t j = i; j < bytes.size() && j < i + 32; j++) append(out, "%02x", bytes[j]);
        *out += "\n";
    }
}

void check_mesh(const LevelObject &o, const std::string &who, std::vector<std::string> *problems) {
    if (o.vertex_count() < 1) problems->push_back(who + ": no vertex");
    if (o.flat.empty() && o.smooth.empty()) problems->push_back(who + ": no face");
    if (o.mass <= 0)
        problems->push_back(who + ": mass " + std::to_string(o.mass) + " is not positive");
    const int32_t spare_max = limits_current().spare_max;
    if (o.spare < 0 || o.spare > spare_max)
        problems->push_back(who + ": spare slot count " + std::to_string(o.spare) + " outside 0.." +
                            std::to_string(spare_max));
    int n = 0;
    for (const auto *group : {&o.flat, &o.smooth}) {
        for (const LevelFace &f : *group) {
            const int corners = (f.flags & FACE_SPRITE) ? 1 : 3;
            for (int c = 0; c < corners; c++)
                if (f.index[c] < 0 || f.index[c] >= o.vertex_count())
                    problems->push_back(who + ": face " + std::to_string(n) + " uses vertex " +
                                        std::to_string(f.index[c]) + " of " +
                                        std::to_string(o.vertex_count()));
            n++;
        }
    }
}

// A sprite object's name is registered with the resource cache as its
// bitmap's file name, which the cache refuses when too long or climbing out.
void check_sprite_name(const LevelObject &o, const std::string &who,
                       std::vector<std::string> *problems) {
    const LevelFace *first = !o.flat.empty()     ? &o.flat[0]
                             : !o.smooth.empty() ? &o.smooth[0]
                                                 : nullptr;
    if (first == nullptr || !(first->flags & FACE_SPRITE)) return;
    if (o.name.empty() || o.name == "Statics") return;
    if (o.name.size() > static_cast<size_t>(RES_NAME_MAX))
        problems->push_back(who + ": a sprite's bitmap name longer than " +
                            std::to_string(RES_NAME_MAX) + " characters");
    const std::string framed = "/" + o.name + "/";
    if (framed.find("/../") != std::string::npos)
        problems->push_back(who + ": a sprite's bitmap name climbs out of lib/ with '..'");
}

}   // namespace

int32_t level_auto_spare(const LevelObject &o) {
    const LevelFace *first = !o.flat.empty()     ? &o.flat[0]
                             : !o.smooth.empty() ? &o.smooth[0]
                                                 : nullptr;
    if (first != nullptr && (first->flags & FACE_SPRITE)) return 0;
    int32_t polygons = 0;
    for (const auto *group : {&o.flat, &o.smooth})
        for (const LevelFace &f : *group)
            if (!(f.flags & FACE_SPRITE)) polygons++;
    return 2 * polygons;
}

std::vector<uint8_t> level_encode(const LevelFile &file) {
    std::vector<uint8_t> out;
    if (file.kind == LevelKind::Model) {
        const LevelObject &o = file.records.at(0).object;
        put_mesh(&out, o);
        put_int(&out, o.mass);
    } else {
        for (const LevelRecord &r : file.records) {
            if (r.is_start) {
                put_int(&out, 0);
                for (int32_t v : r.start.position) put_int(&out, v);
                for (int32_t v : r.start.angles) put_int(&out, v);
                put_string(&out, r.start.name);
                continue;
            }
            const LevelObject &o = r.object;
            put_mesh(&out, o);
            for (int32_t v : o.position) put_int(&out, v);
            for (int32_t v : o.angles) put_int(&out, v);
            put_string(&out, o.name);
            put_int(&out, o.mass);
        }
        put_int(&out, -1);
    }
    out.insert(out.end(), file.trailing.begin(), file.trailing.end());
    return out;
}

bool level_decode(const std::vector<uint8_t> &bytes, LevelKind kind, LevelFile *out,
                  std::string *error) {
    Reader r{bytes, 0, {}};
    *out = LevelFile{};
    out->kind = kind;
    bool ok = true;
    if (kind == LevelKind::Model) {
        LevelRecord rec;
        int32_t v = 0;
        ok = r.read_int(&v, "the vertex count") && r.read_mesh(v, &rec.object) &&
             r.read_int(&rec.object.mass, "the mass");
        if (ok) out->records.push_back(std::move(rec));
    } else {
        for (;;) {
            int32_t word = 0;
            if (!r.read_int(&word, "a record's kind word")) {
                r.error += " (a world ends with the word -1)";
                ok = false;
                break;
            }
            if (word == -1) break;
            LevelRecord rec;
            if (word == 0) {
                rec.is_start = true;
                ok = r.read_triple(rec.start.position, "a player start") &&
                     r.read_triple(rec.start.angles, "a player start") &&
                     r.read_string(&rec.start.name, "a player start's name");
            } else {
                LevelObject &o = rec.object;
                ok = r.read_mesh(word, &o) && r.read_triple(o.position, "an object's position") &&
                     r.read_triple(o.angles, "an object's angles") &&
                     r.read_string(&o.name, "an object's name") &&
                     r.read_int(&o.mass, "an object's mass");
            }
            if (!ok) break;
            out->records.push_back(std::move(rec));
        }
    }
    if (!ok) {
        if (error != nullptr) *error = r.error;
        return false;
    }
    out->trailing.assign(bytes.begin() + static_cast<std::ptrdiff_t>(r.pos), bytes.end());
    return true;
}

std::string level_print(const LevelFile &file) {
    std::string out;
    if (file.kind == LevelKind::Model) {
        out += "model\n";
        if (!file.records.empty()) print_mesh(&out, "", file.records[0].object);
        print_trailing(&out, file.trailing);
        return out;
    }
    out += "world\n";
    for (const LevelRecord &r : file.records) {
        out += "\n";
        if (r.is_start) {
            append(&out, "start %s %d %d %d %d %d %d\n", quote(r.start.name).c_str(),
                   r.start.position[0], r.start.position[1], r.start.position[2], r.start.angles[0],
                   r.start.angles[1], r.start.angles[2]);
            continue;
        }
        const LevelObject &o = r.object;
        append(&out, "object %s\n", quote(o.name).c_str());
        append(&out, "  position %d %d %d\n", o.position[0], o.position[1], o.position[2]);
        append(&out, "  angles %d %d %d\n", o.angles[0], o.angles[1], o.angles[2]);
        print_mesh(&out, "  ", o);
        out += "end\n";
    }
    if (!file.trailing.empty()) out += "\n";
    print_trailing(&out, file.trailing);
    return out;
}

std::vector<std::string> level_problems(const LevelFile &file) {
    std::vector<std::string> problems;
    int n = 0;
    for (const LevelRecord &r : file.records) {
        if (!r.is_start) {
            std::string who = file.kind == LevelKind::Model
                                  ? std::string("model")
                                  : "object " + std::to_string(n) + " (" + r.object.name + ")";
            check_mesh(r.object, who, &problems);
            if (file.kind == LevelKind::World) check_sprite_name(r.object, who, &problems);
        }
        n++;
    }
    const size_t size = level_encode(file).size();
    const Limits &limits = limits_current();
    if (size > static_cast<size_t>(limits.pool_size)) {
        std::string problem = std::to_string(size) + " bytes, more than the game's " +
                              std::to_string(limits.pool_size) + "-byte resource pool holds";
        if (size <= static_cast<size_t>(LIMITS_RAISED.pool_size))
            problem += " under the " + std::string(limits.name) +
                       " limits (--limits raised writes it, and the game plays it with "
                       "--limits raised)";
        problems.push_back(problem);
    }
    return problems;
}

bool level_compile_text(const std::string &text, const std::string &path, LevelFile *out,
                        std::string *error) {
    if (text.find('\0') != std::string::npos) {
        *error = path + ": not a text source (it holds a NUL byte)";
        return false;
    }
    return level_parse(text, path, out, error);
}

bool level_loadable(const LevelFile &file, const std::string &path, std::string *error) {
    const std::vector<std::string> problems = level_problems(file);
    if (problems.empty()) return true;
    *error = path + ": the game would refuse it: " + problems[0] +
             (problems.size() > 1 ? " (and " + std::to_string(problems.size() - 1) + " more)" : "");
    return false;
}

std::string level_pool_together(const std::string &what, int64_t bytes, const std::string &other,
                                int64_t other_bytes) {
    const Limits &limits = limits_current();
    const int64_t sum = bytes + other_bytes;
    if (sum <= limits.pool_size) return "";
    std::string line = what + " (" + std::to_string(bytes) + " bytes) and " + other + " (" +
                       std::to_string(other_bytes) + " bytes) do not fit the " + limits.name + " " +
                       std::to_string(limits.pool_size) + "-byte pool together";
    if (sum <= LIMITS_RAISED.pool_size && &limits != &LIMITS_RAISED)
        line += " (--limits raised writes it, and the game plays it with --limits raised)";
    return line;
}

int64_t level_smallest_naming(const std::string &name) {
    LevelFile file;
    file.records.emplace_back();
    LevelObject &o = file.records.back().object;
    o.vertices = {0, 0, 0};
    o.flat.push_back({FACE_SPRITE, {0, 0, 0}});
    o.name = name;
    o.mass = 1;
    return static_cast<int64_t>(level_encode(file).size());
}
