// Particle plug-in: short-lived additive sprites that live on the engine side. The script host registers the
// parts_* globals; each frame the script ages the particles (parts_loop) and queues them (parts_draw).
#pragma once

#include <string>

#include "kiv_gfx.h"
#include "kiv_printf.h"

struct lua_State;
class CBatch;

struct Part {
    std::string name; // image to draw
    float x = 0, y = 0, r = 0, q = 0, a = 0;
    float t = 0, d = 0; // age and lifetime, seconds
    float vx = 0, vy = 0, vr = 0, vq = 0, va = 0;
    unsigned color = 0;
    Part *prev = nullptr, *next = nullptr;
};

// A server or script that asks for thousands of sparks a frame must not stall painting: past these the new ones are
// dropped. The game's own effects stay well below them (a cleared level adds 64).
enum { PARTS_MAX_LIVE = 1024, PARTS_MAX_FRAME = 256 };

struct MyParts {
    Part *first = nullptr; // newest first
    GfxRect clip;          // where particles may be born
    int live = 0;          // particles in the list
    int added = 0;         // born since the last parts_loop
    // Refused at a cap since the last log line; seconds of a steady clock, a line a second at most.
    KivNoteLimit<double> dropped{1};
};

// Outlives every Lua state: particles of a restarted mod go on ageing and drawing in the next one.
extern MyParts *my_parts;

void lua_mods_plugin_init(lua_State *L);
Part *part_init(MyParts &g);
// Adds one particle when (x, y) lies inside the clip rectangle (left/top edges in, right/bottom out) and neither cap
// is reached.
Part *parts_add(MyParts &g, const std::string &name, float x, float y, float r, float vx, float vy, float d,
                unsigned color);
void parts_loop(MyParts &g, float t);
void parts_paint(MyParts &g);
void parts_paint(MyParts &g, CBatch &out);
