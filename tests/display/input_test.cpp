// Real input: xdotool drives the SDL window on the same X server (XTEST), and the driver's poll
// must hand out the engine events a player's keyboard and mouse would produce.
#include "window_helpers.h"

namespace {

struct Want {
    int type;
    int v, _v, b, c;
    float x, y, dy;
};

class InputTest : public ::testing::Test {
protected:
    void SetUp() override {
        driver_init_x11(DRIVER_VIDEO | DRIVER_TIMER);
        driver_set_caption("KivGame");
        driver_video_init(400, 300, 0, 0, 240, 160, 0);
        xid = x11_window_id(driver_sdl2_window());
        ASSERT_NE(xid, 0ul);
        ASSERT_TRUE(xdotool("windowfocus --sync " + std::to_string(xid)));
        poll_all();
    }
    void TearDown() override { driver_deinit(); }

    // Runs the xdotool command, then collects events of the given types until `count` arrived.
    std::vector<Event> drive(const std::string &args, const std::vector<int> &types, size_t count) {
        EXPECT_TRUE(xdotool(args)) << args;
        std::vector<Event> got;
        poll_until(
            [&](const Event &e) {
                for (int t : types) {
                    if (e.type == t) {
                        got.push_back(e);
                        break;
                    }
                }
                return got.size() >= count;
            },
            nullptr);
        return got;
    }

    unsigned long xid = 0;
};

void expect_seq(const char *name, const std::vector<Event> &got, const std::vector<Want> &want) {
    ASSERT_EQ(got.size(), want.size()) << name << ": number of events";
    for (size_t i = 0; i < want.size(); i++) {
        std::string where = std::string(name) + " #" + std::to_string(i);
        EXPECT_EQ(got[i].type, want[i].type) << where;
        EXPECT_EQ(got[i].v, want[i].v) << where << ": v";
        EXPECT_EQ(got[i]._v, want[i]._v) << where << ": _v";
        EXPECT_EQ(got[i].b, want[i].b) << where << ": b";
        EXPECT_EQ(got[i].c, want[i].c) << where << ": c";
        EXPECT_EQ(got[i].x, want[i].x) << where << ": x";
        EXPECT_EQ(got[i].y, want[i].y) << where << ": y";
        EXPECT_EQ(got[i].dy, want[i].dy) << where << ": dy";
    }
}

TEST_F(InputTest, RealKeyboard) {
    const std::vector<int> keys = {EVT_KEYDOWN, EVT_KEYUP};
    struct Row {
        const char *name;
        std::string args;
        std::vector<Want> out;
    };
    const Row rows[] = {
        {"shift+a",
         "keydown shift keydown a keyup a keyup shift",
         {{EVT_KEYDOWN, KEY_NONE, SDLK_LSHIFT, 1, 0, 0, 0, 0},
          {EVT_KEYDOWN, KEY_a, 'a', 1, 0, 0, 0, 0},
          {EVT_KEYDOWN, 0, 0, 0, 'A', 0, 0, 0},
          {EVT_KEYUP, KEY_a, 'a', 1, 0, 0, 0, 0},
          {EVT_KEYUP, KEY_NONE, SDLK_LSHIFT, 0, 0, 0, 0, 0}}},
        {"ctrl+q",
         "keydown ctrl keydown q keyup q keyup ctrl",
         {{EVT_KEYDOWN, KEY_NONE, SDLK_LCTRL, 2, 0, 0, 0, 0},
          {EVT_KEYDOWN, KEY_q, 'q', 2, 0, 0, 0, 0},
          {EVT_KEYUP, KEY_q, 'q', 2, 0, 0, 0, 0},
          {EVT_KEYUP, KEY_NONE, SDLK_LCTRL, 0, 0, 0, 0, 0}}},
        {"F1", "key F1", {{EVT_KEYDOWN, KEY_F1, SDLK_F1, 0, 0, 0, 0, 0}, {EVT_KEYUP, KEY_F1, SDLK_F1, 0, 0, 0, 0, 0}}},
        {"digit 7",
         "key 7",
         {{EVT_KEYDOWN, KEY_7, '7', 0, 0, 0, 0, 0},
          {EVT_KEYDOWN, 0, 0, 0, '7', 0, 0, 0},
          {EVT_KEYUP, KEY_7, '7', 0, 0, 0, 0, 0}}},
    };
    for (const auto &row : rows)
        expect_seq(row.name, drive(row.args, keys, row.out.size()), row.out);
}

TEST_F(InputTest, RealMouse) {
    const std::vector<int> buttons = {EVT_MOUSEDOWN, EVT_MOUSEUP, EVT_WHEEL};
    struct Row {
        const char *name;
        std::string args;
        std::vector<Want> out;
    };
    const std::string at = "mousemove --sync --window " + std::to_string(xid);
    const Row rows[] = {
        {"left click",
         at + " 30 40 click 1",
         {{EVT_MOUSEDOWN, 0, 0, 1, 0, 30, 40, 0}, {EVT_MOUSEUP, 0, 0, 1, 0, 30, 40, 0}}},
        {"right click",
         at + " 200 100 click 3",
         {{EVT_MOUSEDOWN, 0, 0, 3, 0, 200, 100, 0}, {EVT_MOUSEUP, 0, 0, 3, 0, 200, 100, 0}}},
        {"wheel away from the user", at + " 50 60 click 4", {{EVT_WHEEL, 0, 0, 0, 0, 50, 60, -1}}},
        {"wheel towards the user", at + " 51 61 click 5", {{EVT_WHEEL, 0, 0, 0, 0, 51, 61, 1}}},
    };
    for (const auto &row : rows)
        expect_seq(row.name, drive(row.args, buttons, row.out.size()), row.out);

    // Motion carries the position and the held buttons.
    Event e(EVT_NONE);
    ASSERT_TRUE(xdotool(at + " 10 10 mousedown 1 mousemove --sync --window " + std::to_string(xid) + " 20 25"));
    ASSERT_TRUE(poll_until([](const Event &ev) { return ev.type == EVT_MOUSEMOTION && ev.x == 20 && ev.y == 25; }, &e));
    EXPECT_EQ(e.b, 1) << "left button held";
    EXPECT_EQ(e.device, 0);
    ASSERT_TRUE(xdotool("mouseup 1"));
    poll_all();
}

} // namespace
