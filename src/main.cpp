// Process entry and frame driver: starts the game, runs one pass of event polling, update and paint per turn
// until the game asks to quit, then shuts it down. SIGTERM and SIGINT end the game the orderly way.
#define SDL_MAIN_HANDLED
#include <SDL.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <ctime>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"

static int _main_active = 1;
// Set by the stop signals; read once per frame pass.
static std::atomic<int> _main_signal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal flag must be safe to set in a handler");
// When the first stop signal came (monotonic ms, 0 before any).
static std::atomic<long long> _main_first_signal_ms{0};
static_assert(std::atomic<long long>::is_always_lock_free, "the signal time must be safe to set in a handler");

static const int _main_stop_signals[] = {SIGTERM, SIGINT};
// `timeout` sends its stop to the program and again to the program's process group: what comes within this time of
// the first signal is the same request.
static const long long _MAIN_SIGNAL_REPEAT_MS = 1000;

static long long _main_clock_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts); // safe in a handler
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// Only a flag, so a save or a network step in progress completes. A later signal, while the shutdown is still
// running, ends the program at once with the signal's own status.
static void _main_on_signal(int sig) {
    long long now = _main_clock_ms() | 1; // never 0, the "no signal yet" mark
    long long first = 0;
    if (_main_first_signal_ms.compare_exchange_strong(first, now)) {
        _main_signal.store(sig);
        return;
    }
    if (now - first < _MAIN_SIGNAL_REPEAT_MS)
        return;
    struct sigaction dfl = {};
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(sig, &dfl, nullptr);
    raise(sig); // delivered as soon as this handler returns
}

static void _main_signals_init() {
    // One mechanism in both modes: SDL's own handlers would turn a signal into a quit event only while its
    // video subsystem runs, and without the script's "suspend".
    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // A closed standard output (`| head`) must not end the game before its save: its writes just fail.
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa = {};
    sa.sa_handler = _main_on_signal;
    sigemptyset(&sa.sa_mask);
    for (int s : _main_stop_signals)
        sigaddset(&sa.sa_mask, s);
    sa.sa_flags = SA_RESTART; // a write of a save must not fail with EINTR
    for (int s : _main_stop_signals) {
        struct sigaction old = {};
        // A signal ignored by whoever started us (a background job's SIGINT, nohup) stays ignored.
        if (sigaction(s, nullptr, &old) == 0 && old.sa_handler == SIG_IGN)
            continue;
        sigaction(s, &sa, nullptr);
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
