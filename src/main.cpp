// Process entry and frame driver: starts the game, runs one pass of event polling, update and paint per turn
// until the game asks to quit, then shuts it down.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"

static int _main_active = 1;

static void _main_event_poll() {
    Event e(EVT_NONE);
    while (driver_event_poll(&e))
        game_event(e);
}

static void _main_tick(void *) {
    if (!_main_active)
        return;
    _main_event_poll();
    game_loop();
    game_paint();
}

int SDL_main(int argc, char **argv) {
    game_init(argc, argv);
    while (!game_is_quit(-1))
        _main_tick(nullptr);
    game_deinit();
    return 0;
}

int main(int argc, char **argv) {
    SDL_SetMainReady();
    return SDL_main(argc, argv);
}
