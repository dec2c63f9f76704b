// The mod runtime, one header per source file: the draw-command queue (mods_gbatch.h), the services of a running
// mod (mods_api.h), the Lua script host (mods_lua.h), the mod lifecycle (mods_misc.h) and the console
// (mods_console.h). The shell, the extensions and the tests include them all through this one.
#pragma once

#include "mods_api.h"
#include "mods_console.h"
#include "mods_gbatch.h"
#include "mods_lua.h"
#include "mods_misc.h"
