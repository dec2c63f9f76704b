// The free-function wrappers through which the entry, the social session and the extensions reach the one Game.
#include "game.h"

#include "kiv_event.h"

static Game *_game = nullptr;

void game_init(int argc, char **argv) {
    if (_game)
        return;
    _game = new Game();
    _game->args(argc, argv);
    _game->init();
}

void game_loop() {
    if (_game)
        _game->loop();
}

void game_paint() {
    if (_game)
        _game->paint();
}

void game_event(Event e) {
    if (_game)
        _game->event(e);
}

bool game_is_quit(int v) {
    if (!_game)
        return true;
    if (v >= 0)
        _game->quit = v;
    return _game->quit != 0;
}

void game_stop() {
    if (_game)
        _game->stop();
}

int game_status() {
    return _game ? _game->_status : 0;
}

void game_deinit() {
    if (!_game)
        return;
    _game->deinit();
    delete _game;
    _game = nullptr;
}
