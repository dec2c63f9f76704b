// Process entry and frame driver: starts the game, runs one pass of event polling, update and paint per turn
// until the game asks to quit, then shuts it down. Stop requests from outside (kiv_platform_stop_*) end the game
// the orderly way.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <cstdio>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_platform.h"

static int _main_active = 1;

static void _main_event_poll() {
    Event e(EVT_NONE);
    while (driver_event_poll(&e))
        game_event(e);
}

static void _main_tick(void *) {
    if (!_main_active)
        return;
    if (kiv_platform_stop_requested()) {
        // Whatever was logged so far reaches a redirected stdout even if a second signal cuts the shutdown.
        fflush(stdout);
        game_stop();
    }
    _main_event_poll();
    game_loop();
    game_paint();
}

int SDL_main(int argc, char **argv) {
    // One mechanism in both modes: SDL's own handlers would turn a signal into a quit event only while its
    // video subsystem runs, and without the script's "suspend".
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    kiv_platform_stop_init();
    game_init(argc, argv);
    while (!game_is_quit(-1))
        _main_tick(nullptr);
    int status = game_status();
    game_deinit();
    fflush(stdout);
    kiv_platform_stop_done();
    return status;
}

int main(int argc, char **argv) {
    SDL_SetMainReady();
    kiv_platform_main_args(&argc, &argv);
    return SDL_main(argc, argv);
}
