// The life of the running mod: building it, reloading changed scripts, the per-frame step and paint, and the
// bridge from engine events to the script's event dicts. Defined in mods_misc.cpp; called by Game and the console.
#pragma once

#include <ctime>

class Game;
class var;
struct Event;

// --- public functions

void mods_restart(Game &game, int chstate);
void mods_reload(Game &game);
void mods_reload_auto(Game &game);
// The frame's step; `now` is the clock of its reload check.
void mods_loop(Game &game, float t, time_t now = time(nullptr));
void mods_paint(Game &game);
void mods_event_handle(Game &game, Event e);
void mods_event(Game &game, var e);
void mods_log_clear(Game &game);
void mods_console_toggle(Game &game);
const char *mods_event_name(int type); // the script's name of an engine event type, "?" for unnamed ones
