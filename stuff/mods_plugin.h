// Particle plug-in (parts_* globals): placeholder until the particles land.
#pragma once

struct lua_State;

void lua_mods_plugin_init(lua_State *L);
