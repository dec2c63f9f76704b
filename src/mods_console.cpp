// In-game console: until the widget toolkit lands it shows nothing and uses no event; its painter already
// resets the view to window pixels, where the console draws.
#include "mods.h"

#include "game.h"
#include "kiv_event.h"
#include "kiv_gfx.h"

void modsapi_console_gui_rebuild(ModsAPI *api) {}

int mods_event_console(Game &game, Event e) {
    return 0;
}

void modsapi_log_paint(ModsAPI *api) {
    // The script's view is not restored here: the next frame starts from it again (mods_paint).
    gfx_set_shift(0, 0);
    gfx_set_size(game_get_sw(), game_get_sh());
    gfx_set_scale(1.0f);
    gfx_ortho();
}
