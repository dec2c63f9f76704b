// The misc extension in a real window, from a script: a sheet cut into named images and drawn, the real X
// clipboard, the keyboard focus, the tick count, a window resize, and screenshots decoded by an outside reader.
#include <gtest/gtest.h>

#include <GL/gl.h>
#include <SDL.h>
#include <lauxlib.h>
#include <lua.h>

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

#include "ext_misc.h"
#include "game.h"
#include "kiv_driver.h"
#include "kiv_gfx.h"
#include "mods.h"

namespace {

const int W = 320, H = 240;

std::string lua(const std::string &code) {
    lua_State *L = static_cast<ModsLua *>(game_self()->data.mods.mod)->L;
    int top = lua_gettop(L);
    std::string v = luaL_dostring(L, code.c_str()) ? "ERROR " : "";
    v += lua_gettop(L) > top && lua_tostring(L, -1) ? lua_tostring(L, -1) : "nil";
    lua_settop(L, top);
    return v;
}

std::string call(const std::string &verb, const std::string &arg) {
    return lua("return kiv_ext_call('" + verb + "', [[" + arg + "]])");
}

// Colour at (x, y from the top), each channel within 1 of the one drawn (texture modulation may round down).
bool near(int x, int y, unsigned rgb) {
    unsigned char px[4] = {0, 0, 0, 0};
    glReadPixels(x, H - 1 - y, 1, 1, GL_RGBA, GL_UNSIGNED_BYTE, px);
    for (int i = 0; i < 3; i++)
        if (std::abs((int)px[i] - (int)((rgb >> (16 - 8 * i)) & 255)) > 1)
            return false;
    return true;
}

// Output of a command, pumping SDL meanwhile: while the game owns the selection only its event loop answers.
std::string run_pumping(const std::string &cmd) {
    FILE *p = popen(cmd.c_str(), "r");
    fcntl(fileno(p), F_SETFL, O_NONBLOCK);
    std::string out;
    char buf[256];
    for (int i = 0; i < 1000; i++) {
        SDL_PumpEvents();
        ssize_t n = read(fileno(p), buf, sizeof(buf));
        if (n == 0)
            break;
        if (n > 0)
            out.append(buf, (size_t)n);
        else
            SDL_Delay(5);
    }
    pclose(p);
    return out;
}

class MiscTest : public ::testing::Test {
protected:
    std::string tmp;
    void SetUp() override {
        char tmpl[] = "/tmp/kiv_misc_XXXXXX";
        tmp = mkdtemp(tmpl);
        setenv("TMPDIR", tmp.c_str(), 1);
        std::string mod = std::string(getenv("KIV_SOURCE_DIR")) + "/tests/mods/misc.lua";
        const char *argv[] = {"kivgame", "-mod", mod.c_str(), "-width", "320", "-height", "240"};
        game_init(7, const_cast<char **>(argv));
        ASSERT_EQ(game_get_sw(), W);
    }
    void TearDown() override {
        game_deinit();
        std::system(("rm -rf " + tmp).c_str());
    }
};

TEST_F(MiscTest, SheetCutDrawnAndScreenshots) {
    EXPECT_EQ("null", call("image:load", R"({"name":"quad","filter":"nearest"})"));
    EXPECT_EQ("", lua("return tostring(kiv_params_get('filter'))")) << "the filter is restored as text";
    EXPECT_EQ("null", call("image:sub", R"({"name":"q_g","source":"quad","x":0.5,"y":0,"width":0.5,"height":0.5})"));
    EXPECT_EQ("null", call("image:sub", R"({"name":"q_w","source":"quad","x":0.5,"y":0.5,"width":0.5,"height":0.5})"));
    EXPECT_EQ("null", call("image:sub", R"({"name":"bad","source":"nope","x":1e999,"y":-1e999,"width":0})"));
    lua("draws = {{'q_g', 0, 0, 160, 120}, {'q_w', 160, 120, 160, 120}}");
    gfx_clear();
    mods_paint(*game_self());
    EXPECT_TRUE(near(80, 60, 0x00FF00) && near(240, 180, 0xFFFFFF) && near(240, 60, 0) && near(80, 180, 0));

    // The screenshot replays the queue itself; the reader's pixels equal the frame read back, top row first.
    gfx_clear();
    std::string shot = tmp + "/shot.png";
    EXPECT_EQ("\"" + shot + "\"", call("screenshot", "{\"filename\":\"" + shot + "\"}"));
    std::vector<unsigned char> frame((size_t)W * H * 4);
    for (int y = 0; y < H; y++)
        glReadPixels(0, H - 1 - y, W, 1, GL_RGBA, GL_UNSIGNED_BYTE, &frame[(size_t)y * W * 4]);
    FILE *f = fopen((tmp + "/frame.rgba").c_str(), "wb");
    fwrite(frame.data(), 1, frame.size(), f);
    fclose(f);
    EXPECT_EQ("(320, 240) True (0, 254, 0, 255)\n",
              run_pumping("/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + shot +
                          "').convert('RGBA'); print(im.size, im.tobytes() == open('" + tmp +
                          "/frame.rgba', 'rb').read(), im.getpixel((80, 60)))\""));
    // The default: a JPEG in the temporary directory that djpeg reads without a word, close to the frame.
    std::string jpg = tmp + "/misc_screenshot.jpg";
    EXPECT_EQ("\"" + jpg + "\"", call("screenshot", ""));
    EXPECT_EQ("rc=0\n", run_pumping("djpeg -outfile " + tmp + "/shot.ppm " + jpg + " 2>&1; echo rc=$?"));
    EXPECT_EQ(
        "(320, 240) True\n",
        run_pumping(
            "/usr/bin/python3 -c \"from PIL import Image; im = Image.open('" + tmp +
            "/shot.ppm'); want = {(80, 60): (0, 255, 0), (240, 180): (255, 255, 255), (240, 60): (0, 0, 0)}; "
            "print(im.size, all(abs(a - b) <= 8 for p, e in want.items() for a, b in zip(im.getpixel(p), e)))\""));
    EXPECT_EQ("\"" + tmp + "/rel.png\"", call("screenshot", R"({"filename":"rel.png"})"));
    EXPECT_EQ("\"\"", call("screenshot", R"({"filename":"x.bmp"})"));
    EXPECT_EQ("\"\"", call("screenshot", R"({"filename":"/nonexistent-dir/x.png"})"));
    EXPECT_EQ("\"\"", call("screenshot", "{\"filename\":\"" + std::string(1100, 'a') + ".png\"}"));
    glViewport(0, 0, 0, 0);
    EXPECT_EQ("\"\"", call("screenshot", R"({"filename":"empty.png"})"));
    glViewport(0, 0, W, H);
    EXPECT_EQ("", run_pumping("ls " + tmp +
                              " | grep -v -x -e shot.png -e rel.png -e frame.rgba -e misc_screenshot.jpg -e shot.ppm"))
        << "stray files";
}

TEST_F(MiscTest, ClipboardKeyboardTicksResize) {
    EXPECT_EQ("true", call("clipboard:set", "\"from the game\""));
    EXPECT_EQ("from the game", run_pumping("xclip -o -selection clipboard"));
    EXPECT_EQ("true", call("clipboard:set", "12.5"));
    EXPECT_EQ("\"12.5\"", call("clipboard:get", ""));
    run_pumping("printf 'from xclip' | xclip -i -selection clipboard >/dev/null 2>&1");
    // xclip takes the selection from its background process: wait until the server says it has.
    for (int i = 0; i < 100 && run_pumping("xclip -o -selection clipboard") != "from xclip"; i++)
        SDL_Delay(10);
    EXPECT_EQ("\"from xclip\"", call("clipboard:get", ""));

    call("keyboard:show", R"({"x":1,"y":2,"height":4})");
    EXPECT_EQ(0.0f, _gfx_get_focus_fixed().w) << "no width: focus unchanged";
    call("keyboard:show", R"({"x":1,"y":2,"width":3,"height":4})");
    EXPECT_NE(0.0f, _gfx_get_focus_fixed().w);
    call("keyboard:hide", "");
    EXPECT_EQ(0.0f, _gfx_get_focus_fixed().w);
    int t0 = std::stoi(call("timer:get_ticks", "")), t1 = std::stoi(call("timer:get_ticks", ""));
    EXPECT_LE(0, t0);
    EXPECT_LE(t0, t1);

    EXPECT_EQ("null", call("video:resize", R"({"width":400.5,"height":300,"full":0})"));
    EXPECT_EQ(400, game_get_sw());
    EXPECT_EQ(300, game_get_sh());
    EXPECT_EQ("400.5x300;", lua("return resizes"));
}

} // namespace
