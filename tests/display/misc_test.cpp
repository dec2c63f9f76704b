// The misc extension in a real window, from a script: a sheet cut into named images and drawn, the real X
// clipboard, the keyboard focus, the tick count, a window resize, and screenshots decoded by an outside reader.
#include "window_helpers.h"

#include <GL/gl.h>
#include <SDL.h>
#include <lauxlib.h>
#include <lua.h>

#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "game.h"
#include "kiv_gfx.h"
#include "kiv_gfx_int.h"
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

// Output of a command, pumping SDL meanwhile: while the game owns the selection only its event loop answers.
std::string run_pumping(const std::string &cmd) {
    FILE *p = popen(cmd.c_str(), "r");
    fcntl(fileno(p), F_SETFL, O_NONBLOCK);
    std::string out;
    char buf[256];
    for (ssize_t n = -1, i = 0; n != 0 && i < 1000; i++, SDL_Delay(n < 0 ? 5 : 0)) {
        SDL_PumpEvents();
        if ((n = read(fileno(p), buf, sizeof(buf))) > 0)
            out.append(buf, (size_t)n);
    }
    pclose(p);
    return out;
}

TEST(Misc, VerbsFromAScript) {
    char tmpl[] = "/tmp/kiv_misc_XXXXXX";
    std::string tmp = mkdtemp(tmpl);
    setenv("TMPDIR", tmp.c_str(), 1);
    std::string mod = std::string(getenv("KIV_SOURCE_DIR")) + "/tests/mods/misc.lua";
    const char *argv[] = {"kivgame", "-mod", mod.c_str(), "-width", "320", "-height", "240"};
    game_init_x11(7, argv);
    ASSERT_EQ(game_get_sw(), W);

    EXPECT_EQ("null", call("image:load", R"({"name":"quad","filter":"nearest"})"));
    EXPECT_EQ("", lua("return tostring(kiv_params_get('filter'))")) << "the filter is restored as text";
    EXPECT_EQ("null", call("image:sub", R"({"name":"q_g","source":"quad","x":0.5,"y":0,"width":0.5,"height":0.5})"));
    EXPECT_EQ("null", call("image:sub", R"({"name":"q_w","source":"quad","x":0.5,"y":0.5,"width":0.5,"height":0.5})"));
    EXPECT_EQ("null", call("image:sub", R"({"name":"bad","source":"nope","x":1e999,"y":-1e999,"width":0})"));
    EXPECT_EQ("null",
              call("image:sub", R"({"name":"huge","source":"quad","x":1e30,"y":-1e300,"width":1e300,"height":0})"));
    lua("draws = {{'huge', 0, 0, 10, 10}, {'huge', -1e30, 1e30, 1e38, 1e38}, {'q_g', 0, 0, 160, 120}, {'q_w', 160, "
        "120, 160, 120}}");

    // The screenshot replays the queue itself. The PNG holds exactly the frame read back, top row first; the
    // default, a JPEG in the temporary directory, is read by djpeg without a word. Both show the cut images.
    mods_paint(*game_self());
    gfx_clear();
    std::string shot = tmp + "/shot.png", jpg = tmp + "/misc_screenshot.jpg";
    EXPECT_EQ("\"" + shot + "\"", call("screenshot", "{\"filename\":\"" + shot + "\"}"));
    std::vector<unsigned char> frame((size_t)W * H * 4);
    for (int y = 0; y < H; y++)
        glReadPixels(0, H - 1 - y, W, 1, GL_RGBA, GL_UNSIGNED_BYTE, &frame[(size_t)y * W * 4]);
    std::ofstream(tmp + "/frame.rgba", std::ios::binary).write((const char *)frame.data(), (long)frame.size());
    EXPECT_EQ("\"" + jpg + "\"", call("screenshot", ""));
    EXPECT_EQ("rc=0\n", run_pumping("djpeg -outfile " + tmp + "/shot.ppm " + jpg + " 2>&1; echo rc=$?"));
    EXPECT_EQ("(320, 240) True True True\n",
              run_pumping("cd " + tmp +
                          " && /usr/bin/python3 -c \"from PIL import Image; "
                          "png = Image.open('shot.png').convert('RGBA'); jpg = Image.open('shot.ppm'); "
                          "want = {(80, 60): (0, 255, 0), (240, 180): (255, 255, 255), (240, 60): (0, 0, 0)}; "
                          "near = lambda im, d: all(abs(a - b) <= d for p, e in want.items() "
                          "for a, b in zip(im.getpixel(p), e)); print(png.size, png.tobytes() == "
                          "open('frame.rgba', 'rb').read(), near(png, 1), near(jpg, 8))\""));
    EXPECT_EQ("\"" + tmp + "/rel.png\"", call("screenshot", R"({"filename":"rel.png"})"));
    // Names up to the file system's limit are written (the temporary file's name stays short) and decode; every
    // refusal says why in the log.
    const std::string long_png = std::string(246, 'p') + ".png", long_jpg = std::string(246, 'j') + ".jpg";
    ASSERT_EQ(250u, long_png.size());
    struct Shot {
        const char *name;
        std::string filename, answer, log;
    } shots[] = {
        {"250-byte PNG name", long_png, tmp + "/" + long_png, ""},
        {"250-byte JPEG name", long_jpg, tmp + "/" + long_jpg, ""},
        {"neither extension", "x.bmp", "", "screenshot: neither .jpg nor .png, nothing written: " + tmp + "/x.bmp\n"},
        {"PNG into a missing folder", "/nonexistent-dir/x.png", "",
         "file not writable: /nonexistent-dir/x.png - No such file or directory\n"},
        {"JPEG into a missing folder", "/nonexistent-dir/x.jpg", "",
         "file not writable: /nonexistent-dir/x.jpg - No such file or directory\n"},
        {"name past the limit", std::string(256, 'n') + ".jpg", "", "- File name too long\n"},
        {"path past the buffer", std::string(1100, 'a') + ".png", "",
         "screenshot: path longer than 1023 bytes refused\n"},
    };
    for (const Shot &r : shots) {
        testing::internal::CaptureStdout();
        std::string got = call("screenshot", "{\"filename\":\"" + r.filename + "\"}");
        std::string log = testing::internal::GetCapturedStdout();
        EXPECT_EQ("\"" + r.answer + "\"", got) << r.name;
        EXPECT_NE(std::string::npos, log.find(r.log)) << r.name << ": expected '" << r.log << "' in '" << log << "'";
    }
    EXPECT_EQ("rc=0\n", run_pumping("djpeg -outfile /dev/null " + tmp + "/" + long_jpg + " 2>&1; echo rc=$?"));
    EXPECT_EQ("(320, 240)\n",
              run_pumping("cd " + tmp + " && /usr/bin/python3 -c \"from PIL import Image; print(Image.open('" +
                          long_png + "').size)\""));
    glViewport(0, 0, 0, 0);
    EXPECT_EQ("\"\"", call("screenshot", R"({"filename":"empty.png"})"));
    glViewport(0, 0, W, H);
    EXPECT_EQ("",
              run_pumping("ls -A " + tmp +
                          " | grep -v -x -e shot.png -e rel.png -e frame.rgba -e misc_screenshot.jpg -e shot.ppm -e " +
                          long_png + " -e " + long_jpg))
        << "stray files";

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
    EXPECT_TRUE(0 <= t0 && t0 <= t1) << t0 << " then " << t1;

    EXPECT_EQ("null", call("video:resize", R"({"width":400.5,"height":300,"full":0})"));
    EXPECT_EQ(400, game_get_sw());
    EXPECT_EQ(300, game_get_sh());
    EXPECT_EQ("400.5x300;", lua("return resizes"));
    game_deinit();
    std::system(("rm -rf " + tmp).c_str());
}

} // namespace
