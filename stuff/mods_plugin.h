// Particle plug-in: short-lived additive sprites that live on the engine side. The script host registers the
// parts_* globals; each frame the script ages the particles (parts_loop) and queues them (parts_draw).
#pragma once

#include <string>

#include "kiv_gfx.h"

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

struct MyParts {
    Part *first = nullptr; // newest first
    GfxRect clip;          // where particles may be born
};

// Outlives every Lua state: particles of a restarted mod go on ageing and drawing in the next one.
extern MyParts *my_parts;

void lua_mods_plugin_init(lua_State *L);
Part *part_init(MyParts &g);
// Adds one particle when (x, y) lies inside the clip rectangle (left/top edges in, right/bottom out).
Part *parts_add(MyParts &g, const std::string &name, float x, float y, float r, float vx, float vy, float d,
                unsigned color);
void parts_loop(MyParts &g, float t);
void parts_paint(MyParts &g);
void parts_paint(MyParts &g, CBatch &out);
