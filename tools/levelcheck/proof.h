// tools/levelcheck/proof.h: the limits that depend on where the car is and
// where it looks, proved over every position of the 32-bit plane and every
// heading by conservative bounds over cells.
//
// A cell is a box of positions (x, z at the car's eye height) times a range
// of headings. For each cell the prover bounds, from the level's geometry
// with the bodies where the level places them: the faces listed (a face
// counts when it can pass the sphere test, the back-face test and the near
// plane from some point and heading of the cell), the clip vertices of each
// object, whether a face's near-plane clipping can leave 32 bits, and whether
// a face's projected corners can leave the 16.16 range the fillers step in
// (the projection wrap). A cell whose bounds are within the limits is proved;
// one that is not is probed at its centre with the real renderer and split,
// down to single positions and headings. Coordinates wrap at 32 bits as the
// renderer's sums do, so far positions are handled modulo 2^32.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

struct Mesh;

// What one exact view (the renderer run at x, z, heading) showed.
struct ProbeResult {
    int listed = 0;                         // faces and sprites listed
    std::vector<const Mesh *> wrapped;      // objects whose projection wrapped
    std::vector<const Mesh *> overflowed;   // near-plane clipping left 32 bits
    bool fatal = false;                     // the renderer ended the frame
};

struct ProofSetup {
    int32_t eye_y = 0;
    const Mesh *car = nullptr;      // the player's car: it moves with the camera
    const Mesh *meshes = nullptr;   // the camera's list
    int32_t capacity = 100;         // draw list items
    int32_t focal_length = 300;
    int32_t half_width = 160, half_height = 100;
    int32_t slope_x_min = 0, slope_x_max = 0, slope_y_min = 0, slope_y_max = 0;
    double budget_seconds = 60;
    std::function<ProbeResult(int32_t x, int32_t z, int32_t heading)> probe;
};

struct ProofResult {
    bool decided = false;        // every cell proved, or a limit found broken
    bool faces_broken = false;   // a probe listed more than the capacity
    bool fatal = false;          // a probe ended in one of the engine's fatal errors
    int last_listed = 0;
    long cells = 0;        // cells bounded
    long probes = 0;       // exact views run
    long cells_left = 0;   // undecided when the budget ran out (or unsplittable)
    long wrap_cells = 0;   // small cells where a wrap is not excluded (none seen there)
    int bound_max = 0;     // most faces any proved cell can list
    int car_faces = 0;     // bound on the car's own faces, in every view
    // The bounds cannot exclude that the car's own faces run short of spare
    // slots, overflow in clipping or wrap (then only the exact views speak).
    bool car_open = false;
    double seconds = 0;
    // Objects found wrapping, overflowing or short of slots, each with the
    // first view that showed it.
    struct Found {
        const Mesh *mesh;
        int32_t x, z, heading;
    };
    std::vector<Found> wrapped, overflowed;
    Found faces_view{nullptr, 0, 0, 0};
    int faces_seen = 0;   // most listed in any probe
};

ProofResult proof_run(const ProofSetup &setup);
