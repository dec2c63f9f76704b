// SDL keycodes to the engine's KEY_* codes.
#include <gtest/gtest.h>

#include <SDL.h>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_event.h"

namespace {

TEST(DriverKeymap, SymToKey) {
    struct Row {
        const char *name;
        int sym;
        int key;
    };
    const Row rows[] = {
        {"backspace", SDLK_BACKSPACE, KEY_BACKSPACE},
        {"tab", SDLK_TAB, KEY_TAB},
        {"return", SDLK_RETURN, KEY_RETURN},
        {"keypad enter", SDLK_KP_ENTER, KEY_RETURN},
        {"escape", SDLK_ESCAPE, KEY_ESCAPE},
        {"space", SDLK_SPACE, KEY_SPACE},
        {"plus", '+', KEY_PLUS},
        {"minus", '-', KEY_MINUS},
        {"digit 0", '0', KEY_0},
        {"digit 9", '9', KEY_9},
        {"back quote", '`', KEY_TILDE},
        {"letter a", 'a', KEY_a},
        {"letter q", 'q', KEY_q},
        {"letter z", 'z', KEY_z},
        {"delete", SDLK_DELETE, KEY_DELETE},
        {"F1", SDLK_F1, KEY_F1},
        {"F5", SDLK_F5, KEY_F5},
        {"F12", SDLK_F12, KEY_F12},
        {"home", SDLK_HOME, KEY_HOME},
        {"end", SDLK_END, KEY_END},
        {"page up", SDLK_PAGEUP, KEY_PAGEUP},
        {"page down", SDLK_PAGEDOWN, KEY_PAGEDOWN},
        {"up", SDLK_UP, KEY_UP},
        {"right", SDLK_RIGHT, KEY_RIGHT},
        {"down", SDLK_DOWN, KEY_DOWN},
        {"left", SDLK_LEFT, KEY_LEFT},
        {"keypad 0", SDLK_KP_0, KEY_P0},
        {"keypad 1", SDLK_KP_1, KEY_P1},
        {"keypad 9", SDLK_KP_9, KEY_P9},
        {"keypad plus has no code", SDLK_KP_PLUS, KEY_NONE},
        {"keypad minus has no code", SDLK_KP_MINUS, KEY_NONE},
        {"equals has no code", '=', KEY_NONE},
        {"insert has no code", SDLK_INSERT, KEY_NONE},
        {"F13 has no code", SDLK_F13, KEY_NONE},
        {"upper-case A is not a keycode", 'A', KEY_NONE},
        {"left shift", SDLK_LSHIFT, KEY_NONE},
        {"negative", -1, KEY_NONE},
        {"zero", 0, KEY_NONE},
    };
    for (const auto &row : rows)
        EXPECT_EQ(_driver_sdl_sym2key(row.sym), row.key) << row.name;
}

} // namespace
