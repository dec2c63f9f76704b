// Process entry and frame driver: starts the game, runs one pass of event polling, update and paint per turn
// until the game asks to quit, then shuts it down. SIGTERM and SIGINT end the game the orderly way.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdio>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"

static int _main_active = 1;
// Set by the stop signals; read once per frame pass.
static std::atomic<int> _main_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal flag must be safe to set in a handler");

static const int _main_stop_signals[] = {SIGTERM, SIGINT};
static bool _main_handled[2];

// Only a flag, so a save or a network step in progress completes. The first signal gives the stop signals their
// default action back: a second one, while the shutdown is still running, ends the program at once.
static void _main_on_signal(int sig) {
    _main_signal.store(sig);
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    for (int i = 0; i < 2; i++)
        if (_main_handled[i])
            sigaction(_main_stop_signals[i], &dfl, nullptr);
}

static void _main_signals_init() {
    // One mechanism in both modes: SDL's own handlers would turn a signal into a quit event only while its
    // video subsystem runs, and without the script's "suspend".
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    struct sigaction sa = {};
    sa.sa_handler = _main_on_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART; // a write of a save must not fail with EINTR
    for (int i = 0; i < 2; i++) {
        struct sigaction old = {};
        // A signal ignored by whoever started us (a background job's SIGINT, nohup) stays ignored.
        if (sigaction(_main_stop_signals[i], nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        _main_handled[i] = sigaction(_main_stop_signals[i], &sa, nullptr) == 0;
    }
}

static void _main_event_poll() {
    Event e(EVT_NONE);
    while (driver_event_poll(&e))
        game_event(e);
}

static void _main_tick(void *) {
    if (!_main_active)
        return;
    if (_main_signal.exchange(0)) {
        // Whatever was logged so far reaches a redirected stdout even if a second signal cuts the shutdown.
        fflush(stdout);
        game_stop();
    }
    _main_event_poll();
    game_loop();
    game_paint();
}

int SDL_main(int argc, char **argv) {
    _main_signals_init();
    game_init(argc, argv);
    while (!game_is_quit(-1))
        _main_tick(nullptr);
    int status = game_status();
    game_deinit();
    fflush(stdout);
    return status;
}

int main(int argc, char **argv) {
    SDL_SetMainReady();
    return SDL_main(argc, argv);
}
