// tools/workshop/workshop.h: the level workshop's engine side, shared by the
// web page (compiled to WebAssembly) and its native tests: a world source
// compiled exactly as levelc compiles it, and a level drawn through the
// game's own loaders and renderer, from the player start as the game's first
// frame or from any camera.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/video.h"

// A camera: position in world units, pitch and heading in 0..1439.
struct WorkshopView {
    int32_t x = 0, y = 0, z = 0;
    int32_t pitch = 0, heading = 0;
};

// The .3dw bytes of a world source, or false with levelc's own one-line
// message; *line is the source line that message names (0 when it names
// none). path names the source in messages and anchors relative `obj` paths.
bool workshop_compile(const std::string &text, const std::string &path, std::vector<uint8_t> *bytes,
                      std::string *error, int *line);

// Whether a world compiled under the raised limits compiles under the classic
// ones too, to the same bytes: its objects' spare slots within the classic
// bound and the file within what the classic game loads. The raised limits
// are in force again afterwards.
bool workshop_fits_classic(const std::vector<uint8_t> &bytes);

struct WorkshopFrame {
    uint8_t rgba[SCREEN_SIZE * 4];   // the picture, the palette expanded to 8 bits
    WorkshopView start;              // the player's camera in the first frame
    bool has_start = false;          // false: the level has no human body
    int faces = 0;                   // faces the draw list held in this view
    int world_bytes = 0;             // level1.3dw and car1.3do, as the pool holds them
    int car_bytes = 0;
};

// Loads level1.3dw from folder (with car1.3do and the bitmaps its sprites
// name) as the game does at start-up and draws the first frame, or the same
// frame seen from *view. False with the game's fatal line (without
// "Fatal error: ") when the game would end; nothing is left loaded either way.
bool workshop_render(const char *folder, const WorkshopView *view, WorkshopFrame *out,
                     std::string *error);

// The view with the most faces in the draw list among a grid × grid sample of
// positions over the bodies' extent (at the player's eye height), each with
// `headings` headings, drawn with a draw list large enough to count past the
// game's. False with the fatal line when the level does not load or a view
// ends the game (*busiest is then that view).
bool workshop_busiest(const char *folder, int grid, int headings, WorkshopView *busiest, int *faces,
                      std::string *error);

// A compiled world with its player starts moved to (x, z) of at (the height
// kept); a world without one gets a Human1 start there. False with the
// decoder's message when bytes is not a world file.
bool workshop_move_start(std::vector<uint8_t> *bytes, const WorkshopView &at, std::string *error);
