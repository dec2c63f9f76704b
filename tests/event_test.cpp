// The Event record and its code tables.
#include <gtest/gtest.h>

#include <cstring>

#include "kiv_event.h"

namespace {

TEST(EventTest, ConstructorZeroesAllButType) {
    for (int type : {EVT_NONE, EVT_QUIT, EVT_RESET, EVT_CUSTOM}) {
        // Fill the storage first so a field the constructor forgets shows up.
        alignas(Event) unsigned char raw[sizeof(Event)];
        memset(raw, 0xAB, sizeof(raw));
        Event *e = new (raw) Event(type);
        EXPECT_EQ(e->type, type);
        const float fields[] = {e->x, e->y,  e->z,  e->dx, e->dy,  e->dz,  e->w,
                                e->h, e->_x, e->_y, e->_z, e->_dx, e->_dy, e->_dz};
        for (size_t i = 0; i < sizeof(fields) / sizeof(fields[0]); i++)
            EXPECT_EQ(fields[i], 0.0f) << "float field " << i << " of type " << type;
        const int ints[] = {e->b, e->v, e->c, e->t, e->_v, e->stype, e->device};
        for (size_t i = 0; i < sizeof(ints) / sizeof(ints[0]); i++)
            EXPECT_EQ(ints[i], 0) << "int field " << i << " of type " << type;
        e->~Event();
    }
    Event d;
    EXPECT_EQ(d.type, EVT_NONE);
}

TEST(EventTest, CodeValues) {
    struct Row {
        const char *name;
        int got, want;
    } rows[] = {
        {"EVT_QUIT", EVT_QUIT, 1},
        {"EVT_RESIZE", EVT_RESIZE, 4},
        {"EVT_RESET", EVT_RESET, 5},
        {"EVT_KEYDOWN", EVT_KEYDOWN, 6},
        {"EVT_UP", EVT_UP, 10},
        {"EVT_MOUSEDOWN", EVT_MOUSEDOWN, 11},
        {"EVT_WHEEL", EVT_WHEEL, 14},
        {"EVT_TOUCHUP", EVT_TOUCHUP, 17},
        {"EVT_JOYMOTION", EVT_JOYMOTION, 20},
        {"EVT_JOYHAT", EVT_JOYHAT, 23},
        {"EVT_CLICK", EVT_CLICK, 28},
        {"EVT_LOGIN", EVT_LOGIN, 30},
        {"EVT_LOGOUT", EVT_LOGOUT, 31},
        {"EVT_CUSTOM", EVT_CUSTOM, 33},
        {"EVT_MAX", EVT_MAX, 34},
        {"KEY_ESCAPE", KEY_ESCAPE, 5},
        {"KEY_RETURN", KEY_RETURN, 8},
        {"KEY_SEARCH", KEY_SEARCH, 13},
        {"KEY_F1", KEY_F1, 14},
        {"KEY_F12", KEY_F12, 25},
        {"KEY_TAB", KEY_TAB, 26},
        {"KEY_SPACE", KEY_SPACE, 27},
        {"KEY_P0", KEY_P0, 28},
        {"KEY_P9", KEY_P9, 37},
        {"KEY_a", KEY_a, 38},
        {"KEY_z", KEY_z, 63},
        {"KEY_0", KEY_0, 64},
        {"KEY_9", KEY_9, 73},
        {"KEY_PLUS", KEY_PLUS, 74},
        {"KEY_TILDE", KEY_TILDE, 76},
        {"KEY_PAGEDOWN", KEY_PAGEDOWN, 78},
        {"KEY_MAX", KEY_MAX, 79},
        {"shift bit", KIV_MOD_SHIFT, 1},
        {"ctrl bit", KIV_MOD_CTRL, 2},
        {"alt bit", KIV_MOD_ALT, 4},
        {"gui bit", KIV_MOD_GUI, 8},
    };
    for (auto &r : rows)
        EXPECT_EQ(r.got, r.want) << r.name;
}

} // namespace
