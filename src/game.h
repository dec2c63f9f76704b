// The game shell: the one Game object (command line, start-up order, frame update, paint, event filter, shutdown)
// and the free-function wrappers through which the rest of the program reaches it.
#pragma once

#include "mods.h"

struct Event;

struct Mods {
    char fname[512];       // main script path
    ModsAPI *api;          // owned; replaced by every restart
    ModsBase *mod;         // owned; replaced by every restart
    time_t reload_checked; // the wall-clock second of the last script-change check
};

struct GameData {
    int version;
    Mods mods;
};

class Game {
public:
    int version = 0;
    GameData data{};
    int quit = 0;
    int suspendable = 0;

    Game() {}
    void args(int argc, char **argv);
    void init();
    void loop();
    void paint();
    void event(Event e);
    void stop();
    void deinit();

    // --- for the console, the services, the extensions and tests: the command line and the shell's state
    char _mod[512] = {};
    int _mod_arg = 0; // the main script was named by -mod: the file at that path, never an embedded one
    int _argc = 0;
    char **_argv = nullptr;
    int _full = 0;
    int _width = 0, _height = 0;
    int _headless = 0;
    int _crash = 0;           // headless policy on a failed mod: 0 wait, 1 exit, 2 restart
    int _restart_pending = 0; // F5 asked for a restart; done at the start of the next update
    int _status = 0;          // the process's exit status: 1 once the game ends because its script failed
    long _mod_started = 0;    // tick count when the current mod was (re)started

private:
    int _restart_wait = 0;  // milliseconds waited before the last crash-policy restart
    long _restart_due = -1; // tick count of the pending crash-policy restart, -1 when none is pending
    void _crash_restart();
};

// --- public functions (game.cpp)

Game *game_this();
inline Game *game_self() {
    return game_this();
}
int game_get_sw();
int game_get_sh();
const char *game_log_info();
int has_social();
// Milliseconds to wait before restarting a failed mod that ran ran_ms since its last (re)start, given the wait
// before that restart: none after a run of a second or more, else 1 s, doubling up to 30 s.
int game_restart_wait(int prev_wait_ms, long ran_ms);
// Copies a NUL-terminated text into a fixed field; refuses (returns false, leaves dst unchanged) when it does not fit.
bool game_copy_field(char *dst, size_t size, const char *src);

// --- the program's entry to the one Game (gamewrap.cpp)

void game_init(int argc, char **argv);
void game_loop();
void game_paint();
void game_event(Event e);
bool game_is_quit(int v);
void game_stop();  // an orderly quit asked from outside (a stop signal): as a quit key
int game_status(); // the exit status the game ends with
void game_deinit();

// --- the shell's inside (game.cpp)

void _game_paint_tick(Game &game);
