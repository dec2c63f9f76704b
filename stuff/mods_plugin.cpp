// Particle plug-in: placeholder; registers no globals yet.
#include "mods_plugin.h"

void lua_mods_plugin_init(lua_State *L) {}
