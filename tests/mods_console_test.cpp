// The console's event filter without a window: function keys, the top band, typed lines through the real Lua
// host (latch lifted), a line that makes the tree rebuild under the filter, and a headless game with no tree.
#include <gtest/gtest.h>

#include "kiv_event.h"
#include "mods_testutil.h"

namespace {

using modstest::ModsRig;

int send(Game &g, int type, int v = 0, int c = 0, float y = 100) {
    Event e(type);
    e.v = v;
    e.c = c;
    e.y = y;
    return mods_event_console(g, e);
}

void type_line(Game &g, const std::string &s) {
    for (char ch : s)
        send(g, EVT_KEYDOWN, 0, (unsigned char)ch);
    send(g, EVT_KEYDOWN, KEY_RETURN);
}

TEST(Console, KeysBandAndLines) {
    for (int headless : {0, 1}) {
        ModsRig rig([&](Game &g) { g._headless = headless; });
        Game &g = rig.game;
        EXPECT_EQ(rig.api->console_gui.find("input") == nullptr, headless == 1) << "a tree only with a window";
        struct Row {
            const char *name;
            int type, v;
            float y;
            int want_ret, want_toggle;
        } rows[] = {
            {"hidden: a release in the band does nothing", EVT_UP, 0, 10, 0, 0},
            {"F1 shows", EVT_KEYDOWN, KEY_F1, 0, 1, 1},
            {"release at y 44 stays open", EVT_UP, 0, 44, 1, 1},
            {"Up with or without a tree", EVT_KEYDOWN, KEY_UP, 0, 1, 1},
            {"release at y 43 closes", EVT_UP, 0, 43, 1, 0},
            {"F1 again, then Esc closes", EVT_KEYDOWN, KEY_F1, 0, 1, 1},
            {"Esc", EVT_KEYDOWN, KEY_ESCAPE, 0, 1, 0},
        };
        for (const Row &r : rows) {
            EXPECT_EQ(send(g, r.type, r.v, 0, r.y), r.want_ret) << r.name << " headless " << headless;
            EXPECT_EQ(rig.api->console_toggle, r.want_toggle) << r.name << " headless " << headless;
        }
        rig.api->log_entry("first");
        EXPECT_EQ(rig.api->console_toggle, 1) << "the first line opens the console";
        EXPECT_EQ(send(g, EVT_KEYDOWN, KEY_F2), 1);
        EXPECT_TRUE(rig.api->log.empty()) << "F2 clears";
        ModsAPI *api = rig.api;
        EXPECT_EQ(send(g, EVT_KEYDOWN, KEY_F5), 1);
        EXPECT_TRUE(g._restart_pending && g.data.mods.api == api) << "F5 waits for the next frame";
        if (headless)
            continue;

        rig.mod->status = 2; // a failed script: the latch is set
        // The window losing and regaining the focus leaves the input focused.
        EXPECT_EQ(send(g, EVT_BLUR), 0);
        EXPECT_EQ(send(g, EVT_FOCUS), 0);
        type_line(g, "x = 1 + 1 print(x)");
        EXPECT_EQ(rig.log_text(), "> x = 1 + 1 print(x)\n2\n");
        EXPECT_EQ(rig.mod->status, 0) << "a console line lifts the latch";
        Widget *in = api->console_gui.find("input");
        EXPECT_STREQ(in->get_value_s(), "");
        send(g, EVT_KEYDOWN, KEY_F3);
        EXPECT_STREQ(in->get_value_s(), "x = 1 + 1 print(x)") << "F3 recalls the last line";
    }
}

// A host whose every script makes the window resize, as a line that changes the video mode would.
struct ResizingHost : ModsBase {
    Game &game;
    int runs = 0;
    explicit ResizingHost(Game &g) : game(g) {}
    void script(const char *s, const char *name) override {
        runs++;
        mods_event_handle(game, Event(EVT_RESIZE));
    }
};

TEST(Console, RebuildWaitsForTheFilterToReturn) {
    ModsRig rig;
    ResizingHost host(rig.game);
    rig.game.data.mods.mod = &host;
    TextInput *old = static_cast<TextInput *>(rig.api->console_gui.find("input"));
    ASSERT_NE(old, nullptr);
    old->cursor_w = 7; // marks the old tree
    send(rig.game, EVT_KEYDOWN, KEY_F1);
    type_line(rig.game, "go");
    TextInput *now = static_cast<TextInput *>(rig.api->console_gui.find("input"));
    EXPECT_EQ(host.runs, 1);
    ASSERT_NE(now, nullptr);
    EXPECT_EQ(now->cursor_w, 2) << "the tree was rebuilt after the line ran";
    EXPECT_EQ(rig.api->console_history, "go");
    rig.game.data.mods.mod = rig.mod;
}

} // namespace
