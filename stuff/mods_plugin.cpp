// Particle plug-in: the particle list, its ageing and its draw commands, then the parts_* Lua bindings.
#include "mods_plugin.h"

#include <lua.h>
#include <lauxlib.h>

#include <cfloat>
#include <chrono>
#include <cmath>

#include "kiv_printf.h"
#include "kiv_util.h"
#include "mods.h"
#include "mods_luaargs.h"

MyParts *my_parts = nullptr;

// --- particles

static double _parts_now() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

static void _parts_drop(MyParts &g) {
    double now = _parts_now();
    if (!g.dropped.note(now))
        return;
    int n = (int)g.dropped.take(now);
    kiv_printf("particles: %d refused at the cap of %d live and %d a frame", n, PARTS_MAX_LIVE, PARTS_MAX_FRAME);
}

Part *part_init(MyParts &g) {
    Part *p = new Part();
    p->next = g.first;
    if (g.first)
        g.first->prev = p;
    g.first = p;
    g.live++;
    return p;
}

Part *parts_add(MyParts &g, const std::string &name, float x, float y, float r, float vx, float vy, float d,
                unsigned color) {
    if (!(x >= g.clip.x && x < g.clip.x + g.clip.w && y >= g.clip.y && y < g.clip.y + g.clip.h))
        return nullptr;
    if (g.live >= PARTS_MAX_LIVE || g.added >= PARTS_MAX_FRAME) {
        _parts_drop(g);
        return nullptr;
    }
    g.added++;
    Part *p = part_init(g);
    p->name = name;
    p->x = x;
    p->y = y;
    p->r = r;
    p->vx = vx;
    p->vy = vy;
    p->d = d;
    p->color = color;
    p->a = 1.0f;
    // A lifetime of 0 or less would make the fade rate infinite (and 0 * infinity a NaN alpha); such a particle
    // is removed by the next parts_loop and draws nothing until then.
    p->va = d > 0 ? -1.0f / d : 0.0f;
    return p;
}

void parts_loop(MyParts &g, float t) {
    g.added = 0;
    Part *p = g.first;
    while (p) {
        Part *next = p->next;
        p->t += t;
        // Written as "not younger than its lifetime" so a NaN age or lifetime also ends the particle.
        if (!(p->t < p->d)) {
            if (p->prev)
                p->prev->next = p->next;
            else
                g.first = p->next;
            if (p->next)
                p->next->prev = p->prev;
            delete p;
            g.live--;
        }
        p = next;
    }
}

void parts_paint(MyParts &g, CBatch &out) {
    for (Part *p = g.first; p; p = p->next) {
        float t = p->t;
        float x = p->x + p->vx * t, y = p->y + p->vy * t, r = p->r + p->vr * t, q = p->q + p->vq * t;
        float a = p->d > 0 ? p->a + p->va * t : 0.0f;
        a = a > 1 ? 1 : a >= 0 ? a : 0; // NaN gives 0
        // Velocities and radii come from scripts: a sprite with no finite place is not queued at all.
        if (!std::isfinite(x - r) || !std::isfinite(y - r) || !std::isfinite(2 * r) || !std::isfinite(q))
            continue;
        GCommand c;
        c.type = GCOMMAND_IMAGE;
        c.name = p->name;
        c.x = x - r;
        c.y = y - r;
        c.w = c.h = 2 * r;
        c.rotate = q;
        c.color = (int)p->color;
        c.alpha = -(int)(a * 255);
        out.queue.push_back(c);
    }
}

void parts_paint(MyParts &g) {
    if (CBatch *b = mods_get_cbatch())
        parts_paint(g, *b);
}

// --- bindings

// A script number as a float: NaN and infinities stay, finite values beyond the float range saturate.
static float _parts_float(lua_State *L, int i) {
    double d = lua_tonumber(L, i);
    if (d > FLT_MAX)
        return d == HUGE_VAL ? HUGE_VALF : FLT_MAX;
    if (d < -FLT_MAX)
        return d == -HUGE_VAL ? -HUGE_VALF : -FLT_MAX;
    return (float)d;
}

static int _l_parts_clip(lua_State *L) {
    mods_lua_argc(L, 4, 4);
    my_parts->clip = GfxRect(_parts_float(L, 1), _parts_float(L, 2), _parts_float(L, 3), _parts_float(L, 4));
    return 0;
}

static int _l_parts_add(lua_State *L) {
    mods_lua_argc(L, 8, 8);
    std::string name = my_lua_tostring(L, 1);
    parts_add(*my_parts, name, _parts_float(L, 2), _parts_float(L, 3), _parts_float(L, 4), _parts_float(L, 5),
              _parts_float(L, 6), _parts_float(L, 7), kiv_d2color(lua_tonumber(L, 8)));
    return 0;
}

static int _l_parts_loop(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    parts_loop(*my_parts, _parts_float(L, 1));
    return 0;
}

static int _l_parts_draw(lua_State *L) {
    mods_lua_argc(L, 0, 0);
    parts_paint(*my_parts);
    return 0;
}

static const luaL_Reg _parts_bindings[] = {
    {"parts_clip", _l_parts_clip}, {"parts_add", _l_parts_add}, {"parts_loop", _l_parts_loop},
    {"parts_draw", _l_parts_draw}, {nullptr, nullptr},
};

void lua_mods_plugin_init(lua_State *L) {
    if (!my_parts)
        my_parts = new MyParts();
    for (const luaL_Reg *r = _parts_bindings; r->name; r++)
        lua_register(L, r->name, r->func);
}
