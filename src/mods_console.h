// The console: its widget tree over the mod's log, its key handling in front of the script, and its font.
// Defined in mods_console.cpp; the shell passes it every event and paints it over the frame.
#pragma once

#include "kiv_gui.h"

class Game;
class ModsAPI;
struct Event;

// --- public functions

void modsapi_console_gui_rebuild(ModsAPI *api);
int mods_event_console(Game &game, Event e);
void modsapi_log_paint(ModsAPI *api);
KivGuiFont w_font_console();
