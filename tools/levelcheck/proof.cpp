// tools/levelcheck/proof.cpp: bounds over cells of positions and headings.
//
// Camera coordinates of a world point w seen from position p at heading h
// are M(h)·(w − p), where M(h) is the view rotation the camera builds; the
// renderer forms them with 2.29 products truncated one by one and sums that
// wrap at 32 bits. Over a cell centred on (pc, hc) with half sizes hx, hz
// and a heading half range δ (radians), every component lies within
//   M(hc)·(w − pc)  ±  (|M_i0|·hx + |M_i2|·hz + |w − p|max·δ + margin),
// because M(h) differs from M(hc) by a turn about the vertical of at most δ.
// The margin covers the truncations (a few units each) and the rounding of
// the tables; it is generous on purpose. Each interval is then brought into
// the 32-bit range modulo 2^32, as the renderer's sums wrap: an interval
// that straddles the wrap is handled as "anything" unless the test it feeds
// is false for every value near ±2^31.
#include "proof.h"

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <unordered_set>

#include "base/transform.h"
#include "scene/mesh.h"

namespace {

constexpr int TURN = 1440;
constexpr double TWO32 = 4294967296.0;
constexpr double LIM = 2147483648.0;   // 2^31
constexpr int32_t NEAR_Z = 256;

// Whether near-plane clipping of an edge whose corners' camera coordinates
// are at most these magnitudes keeps every intermediate within 32 bits
// (the products and sums of near_plane_intersect, in either order).
bool clip_magnitudes_fit(const double *a, const double *b) {
    const double top = 2147483647.0;
    const double d = a[0] + b[0];
    const double u = b[0] * a[2] / 256, v = a[0] * b[2] / 256;
    if (d > top || u > top || v > top || u + v + d > top || a[2] + b[2] > top) return false;
    const double x = std::max(a[0], b[0]) + 1024;
    const double p = (a[1] + b[1]) * x / 256, q = a[1] * b[0] / 256, r = a[0] * b[1] / 256;
    if (x > top || a[1] + b[1] > top || p > top || q > top || r > top || p + q + r > top)
        return false;
    return std::max(a[1], b[1]) + 1024 <= top;
}

double margin(double dist) { return 24 + dist * 1e-8; }

struct Range {
    double lo, hi;
    bool ok;   // false: straddles the 32-bit wrap or wider than 2^32
};

// The interval [c − r, c + r] of true values, as the renderer's wrapped
// 32-bit value sees it.
Range reduce(double c, double r) {
    double lo = c - r, hi = c + r;
    if (hi - lo >= TWO32) return {lo, hi, false};
    const double k = std::floor((lo + LIM) / TWO32);
    lo -= k * TWO32;
    hi -= k * TWO32;
    return {lo, hi, hi < LIM};
}

struct FaceData {
    int v[3];
    double p0[3];   // first corner, world
    double n[3];    // normal, world, unit length ×1 (from the ×256 normal)
};

struct MeshData {
    const Mesh *mesh;
    bool sprite;
    double centre[3];
    double radius;
    int spare;
    std::vector<double> verts;   // world x, y, z per vertex
    std::vector<FaceData> faces;
};

struct Cell {
    int64_t x0, x1, z0, z1;
    int h0, hn;
    int depth;
};

// A possible projection wrap is refined down to cells this small (half
// sizes in units, headings); below that the cell counts as one where a wrap
// is not excluded, and the probes made on the way found none.
constexpr int64_t WRAP_CELL_MIN = 65536;
constexpr int WRAP_HEADINGS_MIN = 16;

struct Verdict {
    int faces = 0;
    double reach = 1;         // farthest corner of an object that may be seen
    bool fits = true;         // every bound within its limit (for what is not yet known broken)
    bool wrap_only = false;   // fits but for a projection wrap the bound cannot exclude
};

struct Prover {
    const ProofSetup &s;
    ProofResult r;
    std::vector<MeshData> meshes;
    double m[TURN][9];
    double level_lo[2], level_hi[2];
    std::unordered_set<const Mesh *> wrapped, overflowed;
    std::vector<double> vlo, vhi;   // per vertex of the mesh in hand: 3 components each
    std::vector<uint8_t> vbad;

    explicit Prover(const ProofSetup &setup) : s(setup) {}

    void prepare() {
        for (int h = 0; h < TURN; h++) {
            Transform t{};
            transform_set_rotation(&t, 1439, 1439 - h, 1439);
            for (int i = 0; i < 9; i++) m[h][i] = t.m[i] / 536870912.0;
        }
        level_lo[0] = level_lo[1] = 1e300;
        level_hi[0] = level_hi[1] = -1e300;
        for (const Mesh *mesh = s.meshes; mesh != nullptr; mesh = mesh->next) {
            if (mesh == s.car || mesh->faces == nullptr) continue;
            MeshData d;
            d.mesh = mesh;
            d.sprite = (mesh->faces->flags & FACE_SPRITE) != 0;
            d.centre[0] = wrap_add(mesh->x, mesh->centre[0]);
            d.centre[1] = wrap_add(mesh->y, mesh->centre[1]);
            d.centre[2] = wrap_add(mesh->z, mesh->centre[2]);
            d.radius = mesh->radius;
            d.spare = mesh->vertex_capacity - mesh->vertex_count;
            level_lo[0] = std::min(level_lo[0], d.centre[0] - d.radius);
            level_hi[0] = std::max(level_hi[0], d.centre[0] + d.radius);
            level_lo[1] = std::min(level_lo[1], d.centre[2] - d.radius);
            level_hi[1] = std::max(level_hi[1], d.centre[2] + d.radius);
            if (!d.sprite) {
                for (int i = 0; i < mesh->vertex_count; i++) {
                    int32_t x = mesh->vertices[i].x, y = mesh->vertices[i].y,
                            z = mesh->vertices[i].z;
                    transform_point(&mesh->transform, &x, &y, &z);
                    d.verts.insert(d.verts.end(), {double(x), double(y), double(z)});
                }
                const Transform &t = mesh->transform;
                for (const Face *f = mesh->faces; f != nullptr; f = f->next) {
                    FaceData fd;
                    for (int k = 0; k < 3; k++) fd.v[k] = f->index[k];
                    for (int k = 0; k < 3; k++) fd.p0[k] = d.verts[size_t(fd.v[0]) * 3 + k];
                    const double n[3] = {f->nx / 256.0, f->ny / 256.0, f->nz / 256.0};
                    for (int k = 0; k < 3; k++)
                        fd.n[k] =
                            (t.m[3 * k] * n[0] + t.m[3 * k + 1] * n[1] + t.m[3 * k + 2] * n[2]) /
                            536870912.0;
                    d.faces.push_back(fd);
                }
            }
            meshes.push_back(std::move(d));
        }
        if (meshes.empty()) level_lo[0] = level_lo[1] = level_hi[0] = level_hi[1] = 0;
    }

    // The car's own faces: the camera sits at the car's origin with the
    // car's heading, so its faces stand almost still in camera space (the
    // view and the car turn by angles a quarter degree apart about each
    // axis, and the products truncate).
    void car_bound() {
        if (s.car == nullptr || s.car->faces == nullptr) return;
        const Mesh *c = s.car;
        int crossing = 0;
        for (const Face *f = c->faces; f != nullptr; f = f->next) {
            if (f->flags & FACE_SPRITE) continue;
            const Vertex &p0 = c->vertices[f->index[0]];
            const double len =
                std::sqrt(double(p0.x) * p0.x + double(p0.y) * p0.y + double(p0.z) * p0.z);
            const double dot =
                (double(p0.x) * f->nx + double(p0.y) * f->ny + double(p0.z) * f->nz) / 256.0;
            if (dot > 32 + len * 0.02) continue;
            double zmax = -1e300;
            for (int k = 0; k < f->corner_count && k < 3; k++) {
                const Vertex &v = c->vertices[f->index[k]];
                const double l =
                    std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
                zmax = std::max(zmax, v.z + l * 0.02 + 32);
            }
            if (zmax < NEAR_Z) continue;
            r.car_faces++;
            // Clipping of the car's own faces: corners within the same slack.
            double zmin = 1e300, mag[3][3];
            for (int k = 0; k < 3; k++) {
                const Vertex &v = c->vertices[f->index[k]];
                const double l =
                    std::sqrt(double(v.x) * v.x + double(v.y) * v.y + double(v.z) * v.z);
                const double slack = l * 0.02 + 32;
                zmin = std::min(zmin, v.z - slack);
                mag[k][0] = std::abs(double(v.x)) + slack;
                mag[k][1] = std::abs(double(v.y)) + slack;
                mag[k][2] = std::abs(double(v.z)) + slack;
                const double zz = std::max(double(NEAR_Z), v.z - slack);
                if (mag[k][0] * s.focal_length / zz >= 32767.0 - std::abs(s.half_width) - 1 ||
                    mag[k][1] * s.focal_length / zz >= 32767.0 - std::abs(s.half_height) - 1)
                    r.car_open = true;
            }
            if (zmin < NEAR_Z) {
                crossing++;
                for (int k = 0; k < 3; k++)
                    if (!clip_magnitudes_fit(mag[k], mag[(k + 1) % 3])) r.car_open = true;
                const double x_room = (32767.0 - std::abs(s.half_width) - 1) * NEAR_Z,
                             y_room = (32767.0 - std::abs(s.half_height) - 1) * NEAR_Z;
                for (int k = 0; k < 3; k++)
                    if ((mag[k][0] + 1024) * s.focal_length >= x_room ||
                        (mag[k][1] + 1024) * s.focal_length >= y_room)
                        r.car_open = true;
            }
        }
        if (2 * crossing > c->vertex_capacity - c->vertex_count) r.car_open = true;
    }

    // Bounds of one cell; the objects that may wrap, overflow or run short
    // are only counted while not already found doing so.
    Verdict bound(const Cell &c) {
        Verdict v;
        v.faces = r.car_faces;
        const int64_t px = c.x0 + (c.x1 - c.x0) / 2, pz = c.z0 + (c.z1 - c.z0) / 2;
        const double hx = double(std::max(px - c.x0, c.x1 - px));
        const double hz = double(std::max(pz - c.z0, c.z1 - pz));
        const double hxy = std::sqrt(hx * hx + hz * hz);
        const int hc = c.h0 + (c.hn - 1) / 2;
        const double delta =
            double(std::max(hc - c.h0, c.h0 + c.hn - 1 - hc)) * std::numbers::pi / 720.0;
        const double *M = m[hc];
        const double pos[3] = {double(px), double(s.eye_y), double(pz)};
        const double fl = s.focal_length;
        const double x_room = 32767.0 - std::abs(double(s.half_width)) - 1;
        const double y_room = 32767.0 - std::abs(double(s.half_height)) - 1;
        auto spread = [&](int i, double dist) {
            return std::abs(M[3 * i]) * hx + std::abs(M[3 * i + 2]) * hz + dist * delta +
                   margin(dist);
        };
        for (const MeshData &d : meshes) {
            double dc[3], cc[3];
            for (int k = 0; k < 3; k++) dc[k] = d.centre[k] - pos[k];
            const double dist = std::sqrt(dc[0] * dc[0] + dc[1] * dc[1] + dc[2] * dc[2]) + hxy;
            for (int i = 0; i < 3; i++)
                cc[i] = M[3 * i] * dc[0] + M[3 * i + 1] * dc[1] + M[3 * i + 2] * dc[2];
            const Range rx = reduce(cc[0], spread(0, dist)), ry = reduce(cc[1], spread(1, dist)),
                        rz = reduce(cc[2], spread(2, dist));
            const double rad = d.radius;
            const bool small = rad < 1048576;
            bool unknown = false;
            if (!rz.ok) {
                // Wrapped depths near ±2^31 fail the near or the far test.
                if (small && rz.hi - rz.lo < LIM) continue;
                unknown = true;
            } else {
                if (rz.hi + rad < NEAR_Z) continue;
                if (d.sprite) {
                    if (rz.hi >= NEAR_Z) v.faces++;
                    continue;
                }
                if (rz.lo - rad >= -LIM && std::floor((rz.lo - rad) / 512) > rad) continue;
                if (!rx.ok || !ry.ok) {
                    // A wrapped side offset near ±2^31 is outside every side.
                    if (small && rz.hi < 536870912.0) continue;
                    unknown = true;
                } else {
                    const double z_hi = rz.hi, r2 = 2 * rad;
                    auto cm = [](double slope, double z) { return std::floor(slope * z / 256); };
                    if (rx.hi + r2 < LIM && rx.hi + r2 < cm(s.slope_x_min, z_hi) - 1) continue;
                    if (rx.lo - r2 >= -LIM && rx.lo - r2 > cm(s.slope_x_max, z_hi) + 1) continue;
                    if (ry.hi + r2 < LIM && ry.hi + r2 < cm(s.slope_y_min, z_hi) - 1) continue;
                    if (ry.lo - r2 >= -LIM && ry.lo - r2 > cm(s.slope_y_max, z_hi) + 1) continue;
                }
            }
            if (d.sprite) {
                v.faces++;
                continue;
            }
            v.reach = std::max(v.reach, dist + rad);
            // Per vertex intervals.
            const size_t nv = d.verts.size() / 3;
            vlo.resize(nv * 3);
            vhi.resize(nv * 3);
            vbad.assign(nv, unknown ? 1 : 0);
            if (!unknown) {
                for (size_t i = 0; i < nv; i++) {
                    double dv[3];
                    for (int k = 0; k < 3; k++) dv[k] = d.verts[i * 3 + k] - pos[k];
                    const double dd =
                        std::sqrt(dv[0] * dv[0] + dv[1] * dv[1] + dv[2] * dv[2]) + hxy;
                    for (int j = 0; j < 3; j++) {
                        const double cj =
                            M[3 * j] * dv[0] + M[3 * j + 1] * dv[1] + M[3 * j + 2] * dv[2];
                        const Range rj = reduce(cj, spread(j, dd));
                        if (!rj.ok) vbad[i] = 1;
                        vlo[i * 3 + j] = rj.lo;
                        vhi[i * 3 + j] = rj.hi;
                    }
                }
            }
            const bool check_wrap = wrapped.count(d.mesh) == 0;
            const bool check_overflow = overflowed.count(d.mesh) == 0;
            int crossing = 0;
            bool may_wrap = false, may_overflow = false;
            for (const FaceData &f : d.faces) {
                // Back-face test: the eye may be on the face's front side.
                const double ex = std::abs(f.p0[0] - pos[0]) + hx, ey = std::abs(f.p0[1] - pos[1]),
                             ez = std::abs(f.p0[2] - pos[2]) + hz;
                if (std::max({ex, ey, ez}) < 536870912.0) {
                    const double dot = (f.p0[0] - pos[0]) * f.n[0] + (f.p0[1] - pos[1]) * f.n[1] +
                                       (f.p0[2] - pos[2]) * f.n[2] - hx * std::abs(f.n[0]) -
                                       hz * std::abs(f.n[2]);
                    if (dot > 8 + (ex + ey + ez) * 1e-7) continue;
                }
                if (vbad[size_t(f.v[0])] || vbad[size_t(f.v[1])] || vbad[size_t(f.v[2])]) {
                    v.faces++;
                    crossing++;
                    may_wrap = may_overflow = true;
                    continue;
                }
                double zmax = -1e300, zmin = 1e300, axmax = 0, aymax = 0;
                double mag[3][3];
                bool corner_wrap = false;
                for (int k = 0; k < 3; k++) {
                    const double *lo = &vlo[size_t(f.v[k]) * 3], *hi = &vhi[size_t(f.v[k]) * 3];
                    zmax = std::max(zmax, hi[2]);
                    zmin = std::min(zmin, lo[2]);
                    const double ax = std::max(std::abs(lo[0]), std::abs(hi[0]));
                    const double ay = std::max(std::abs(lo[1]), std::abs(hi[1]));
                    const double az = std::max(std::abs(lo[2]), std::abs(hi[2]));
                    axmax = std::max(axmax, ax);
                    aymax = std::max(aymax, ay);
                    mag[k][0] = ax;
                    mag[k][1] = ay;
                    mag[k][2] = az;
                    const double zz = std::max(double(NEAR_Z), lo[2]);
                    if (hi[2] >= NEAR_Z && (ax * fl / zz >= x_room || ay * fl / zz >= y_room))
                        corner_wrap = true;
                }
                if (zmax < NEAR_Z) continue;
                v.faces++;
                const bool crosses = zmin < NEAR_Z;
                if (crosses) {
                    crossing++;
                    for (int k = 0; k < 3 && !may_overflow; k++) {
                        const int j = (k + 1) % 3;
                        const double alo = vlo[size_t(f.v[k]) * 3 + 2],
                                     ahi = vhi[size_t(f.v[k]) * 3 + 2];
                        const double blo = vlo[size_t(f.v[j]) * 3 + 2],
                                     bhi = vhi[size_t(f.v[j]) * 3 + 2];
                        const bool edge_crosses =
                            (alo < NEAR_Z && bhi >= NEAR_Z) || (blo < NEAR_Z && ahi >= NEAR_Z);
                        if (edge_crosses && !clip_magnitudes_fit(mag[k], mag[j]))
                            may_overflow = true;
                    }
                    if ((axmax + 1024) * fl / NEAR_Z >= x_room ||
                        (aymax + 1024) * fl / NEAR_Z >= y_room)
                        corner_wrap = true;
                }
                if (corner_wrap) may_wrap = true;
            }
            if (may_wrap && check_wrap) v.wrap_only = true;
            if (may_overflow && check_overflow) v.fits = false;
            if (2 * crossing > d.spare) v.fits = false;
        }
        if (v.faces > s.capacity) v.fits = false;
        return v;
    }

    void note(std::vector<ProofResult::Found> &list, std::unordered_set<const Mesh *> &known,
              const std::vector<const Mesh *> &found, int32_t x, int32_t z, int32_t h) {
        for (const Mesh *mesh : found)
            if (known.insert(mesh).second) list.push_back({mesh, x, z, h});
    }

    void probe(const Cell &c) {
        const int32_t x = static_cast<int32_t>(c.x0 + (c.x1 - c.x0) / 2);
        const int32_t z = static_cast<int32_t>(c.z0 + (c.z1 - c.z0) / 2);
        const int32_t h = c.h0 + (c.hn - 1) / 2;
        const ProbeResult p = s.probe(x, z, h);
        r.probes++;
        r.last_listed = p.listed;
        if (p.fatal) r.fatal = true;
        if (p.listed > r.faces_seen) {
            r.faces_seen = p.listed;
            if (!r.faces_broken) r.faces_view = {nullptr, x, z, h};
        }
        if (p.listed > s.capacity && !r.faces_broken) {
            r.faces_broken = true;
            r.faces_view = {nullptr, x, z, h};
        }
        note(r.wrapped, wrapped, p.wrapped, x, z, h);
        note(r.overflowed, overflowed, p.overflowed, x, z, h);
    }

    void run() {
        const auto start = std::chrono::steady_clock::now();
        prepare();
        car_bound();
        std::vector<Cell> stack;
        stack.push_back({INT32_MIN, INT32_MAX, INT32_MIN, INT32_MAX, 0, TURN, 0});
        auto elapsed = [&] {
            return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        };
        bool out_of_time = false;
        while (!stack.empty()) {
            if ((r.cells & 255) == 0 && elapsed() > s.budget_seconds) {
                out_of_time = true;
                break;
            }
            const Cell c = stack.back();
            stack.pop_back();
            r.cells++;
            Verdict v = bound(c);
            const int64_t wx = c.x1 - c.x0, wz = c.z1 - c.z0;
            const bool single = wx == 0 && wz == 0 && c.hn == 1;
            const bool wrap_small =
                std::max(wx, wz) / 2 <= WRAP_CELL_MIN && c.hn <= WRAP_HEADINGS_MIN;
            if (v.fits && (!v.wrap_only || wrap_small)) {
                r.bound_max = std::max(r.bound_max, v.faces);
                if (v.wrap_only) r.wrap_cells++;
                continue;
            }
            // The exact view at the centre: always for a single view, else at
            // every fourth level of refinement.
            if (single || c.depth % 4 == 0) {
                const size_t known = wrapped.size() + overflowed.size();
                probe(c);
                if (r.faces_broken || r.fatal) break;
                if (single) {
                    r.bound_max = std::max(r.bound_max, r.last_listed);
                    continue;
                }
                // What the probe found broken no longer needs a bound.
                if (wrapped.size() + overflowed.size() != known) {
                    v = bound(c);
                    if (v.fits && (!v.wrap_only || wrap_small)) {
                        r.bound_max = std::max(r.bound_max, v.faces);
                        if (v.wrap_only) r.wrap_cells++;
                        continue;
                    }
                }
            }
            const int d = c.depth + 1;
            const double pos_half = double(std::max(wx, wz)) / 2;
            const double turn_err = v.reach * (c.hn / 2.0) * std::numbers::pi / 720;
            if (c.hn > 1 && (turn_err >= pos_half || (wx == 0 && wz == 0))) {
                const int a = c.hn / 2;
                stack.push_back({c.x0, c.x1, c.z0, c.z1, c.h0, a, d});
                stack.push_back({c.x0, c.x1, c.z0, c.z1, c.h0 + a, c.hn - a, d});
            } else {
                const int64_t mx = c.x0 + wx / 2, mz = c.z0 + wz / 2;
                const bool split_x = wx > 0 && wx >= wz / 2, split_z = wz > 0 && wz >= wx / 2;
                if (split_x && split_z) {
                    stack.push_back({c.x0, mx, c.z0, mz, c.h0, c.hn, d});
                    stack.push_back({mx + 1, c.x1, c.z0, mz, c.h0, c.hn, d});
                    stack.push_back({c.x0, mx, mz + 1, c.z1, c.h0, c.hn, d});
                    stack.push_back({mx + 1, c.x1, mz + 1, c.z1, c.h0, c.hn, d});
                } else if (split_x) {
                    stack.push_back({c.x0, mx, c.z0, c.z1, c.h0, c.hn, d});
                    stack.push_back({mx + 1, c.x1, c.z0, c.z1, c.h0, c.hn, d});
                } else {
                    stack.push_back({c.x0, c.x1, c.z0, mz, c.h0, c.hn, d});
                    stack.push_back({c.x0, c.x1, mz + 1, c.z1, c.h0, c.hn, d});
                }
            }
        }
        if (out_of_time) r.cells_left += static_cast<long>(stack.size());
        r.decided = r.faces_broken || r.fatal || (r.cells_left == 0 && !r.car_open);
        r.seconds = elapsed();
    }
};

}   // namespace

ProofResult proof_run(const ProofSetup &setup) {
    Prover p(setup);
    p.run();
    return p.r;
}
