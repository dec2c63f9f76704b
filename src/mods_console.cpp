// In-game console: placeholder until the widget toolkit lands; it shows nothing and uses no event.
#include "mods.h"

#include "game.h"
#include "kiv_event.h"

void modsapi_console_gui_rebuild(ModsAPI *api) {}

int mods_event_console(Game &game, Event e) {
    return 0;
}

void modsapi_log_paint(ModsAPI *api) {}
