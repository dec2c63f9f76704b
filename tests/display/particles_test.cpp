// Particles in a real window: additive blending at the faded intensity, read back as pixels.
#include "window_helpers.h"

#include <GL/gl.h>

#include <cstdlib>
#include <string>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_gfx.h"
#include "mods.h"

namespace {

unsigned pixel(int x, int y) {
    unsigned char px[4] = {0, 0, 0, 0};
    glReadPixels(x, y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    return (unsigned)px[0] << 16 | (unsigned)px[1] << 8 | px[2];
}

bool near(unsigned a, unsigned b) {
    for (int s = 0; s < 24; s += 8)
        if (abs((int)((a >> s) & 255) - (int)((b >> s) & 255)) > 2)
            return false;
    return true;
}

TEST(ParticlesDisplay, AdditiveFadeOrderAndRemoval) {
    std::string mod =
        std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/tests/mods/particles.lua";
    const char *argv[] = {"kivgame", "-mod", mod.c_str(), "-width", "320", "-height", "240"};
    game_init_x11(7, argv);
    Game *g = game_self();
    ASSERT_NE(g, nullptr);
    ASSERT_EQ(game_get_sw(), 320) << "no window";
    // The field is 0x204060; particles of 40 by 40 centred on (160, 120), over the bench sprite's opaque middle.
    struct Step {
        const char *name, *script;
        unsigned centre;
    } steps[] = {
        {"born: full intensity added", "parts_clip(0, 0, 320, 240) spawn = {{160, 120, 20, 2, 0x808080}}", 0xA0C0E0},
        {"half its lifetime: half intensity", "parts_loop(1)", 0x5F7F9F},
        {"a second one adds up and saturates", "spawn = {{160, 120, 20, 4, 0xFFFFFF}}", 0xFFFFFF},
        {"the first expires, the second fades", "parts_loop(1)", 0xDFFFFF},
        {"all expired: the field again", "parts_loop(3)", 0x204060},
        {"born on the right clip edge: dropped", "spawn = {{320, 120, 200, 1, 0xFFFFFF}}", 0x204060},
    };
    for (const Step &s : steps) {
        g->data.mods.mod->script(s.script, "step");
        gfx_clear();
        mods_paint(*g);
        glFinish();
        unsigned got = pixel(160, 120);
        EXPECT_TRUE(near(got, s.centre)) << s.name << ": want " << std::hex << s.centre << " got " << got;
        EXPECT_EQ(pixel(100, 120), 0x204060u) << s.name << ": drawn outside its 40 by 40 box";
        driver_video_flip();
    }
    EXPECT_TRUE(g->data.mods.mod->is_okay());
    game_deinit();
}

} // namespace
