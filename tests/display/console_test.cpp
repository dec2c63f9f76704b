// The console of the real binary driven by real keys (xdotool): a typed line runs and is logged, Up recalls it,
// F1 hides the overlay and leaves the status strip, F2 empties the log, F5 restarts the mod, Esc hides, and a
// resize rebuilds the widgets.
#include "window_helpers.h"

#include <fcntl.h>
#include <memory>
#include <poll.h>
#include <signal.h>

namespace {

// The real binary with its output read as it comes; the shell prints its pid before becoming the game.
struct Binary {
    FILE *f = nullptr;
    pid_t pid = -1;
    std::string out;
    explicit Binary(const std::string &cmd) {
        f = popen(("echo $$; exec " + cmd + " 2>&1").c_str(), "r");
        char line[32];
        if (f && fgets(line, sizeof(line), f))
            pid = atoi(line);
        if (f)
            fcntl(fileno(f), F_SETFL, O_NONBLOCK);
    }
    ~Binary() {
        if (pid > 0)
            kill(pid, SIGKILL);
        if (f)
            pclose(f);
    }
    int count(const std::string &text) const {
        int n = 0;
        for (size_t p = out.find(text); p != std::string::npos; p = out.find(text, p + 1))
            n++;
        return n;
    }
    // Reads output until `text` occurs `times` times; bounded by rounds, not by a duration.
    bool wait_for(const std::string &text, int times = 1) {
        char buf[4096];
        for (int i = 0; i < 400 && count(text) < times; i++) {
            pollfd p = {fileno(f), POLLIN, 0};
            ssize_t n = poll(&p, 1, 50) > 0 ? read(fileno(f), buf, sizeof(buf)) : 0;
            if (n > 0)
                out.append(buf, (size_t)n);
        }
        return count(text) >= times;
    }
};

std::string env(const char *k, const char *def) {
    const char *v = getenv(k);
    return v ? v : def;
}

// One pixel of another client's window, 0xRRGGBB.
unsigned pixel(Display *dpy, unsigned long xid, int x, int y) {
    XImage *img = XGetImage(dpy, xid, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!img)
        return 0xDEAD;
    unsigned v = (unsigned)img->f.get_pixel(img, 0, 0) & 0xFFFFFF; // XGetPixel, whose header needs Bool
    img->f.destroy_image(img);
    return v;
}

// Waits, by rounds, until the pixel is white, or with white false, darkened by the console's backdrop.
bool pixel_is(Display *dpy, unsigned long xid, int x, int y, bool white, unsigned *seen) {
    for (int i = 0; i < 200; i++) {
        *seen = pixel(dpy, xid, x, y);
        if (white ? *seen == 0xFFFFFF : (*seen != 0xDEAD && (*seen & 0xFF) < 128))
            return true;
        SDL_Delay(25);
    }
    return false;
}

TEST(Console, RunsLinesAndAnswersItsKeysInTheRealBinary) {
    std::string build = env("KIV_BUILD_DIR", "."), src = env("KIV_SOURCE_DIR", "..");
    // Kept on X11 and started again after a refused connection (see game_init_x11).
    std::unique_ptr<Binary> started;
    for (int i = 0; i < 20; i++) {
        started = std::make_unique<Binary>("env SDL_VIDEODRIVER=x11 " + build + "/kivgame -mod " + src +
                                           "/tests/mods/console.lua -width 640 -height 480");
        started->wait_for("$ console mod init");
        if (!started->count("SDL_InitSubSystem(VIDEO) failed"))
            break;
    }
    Binary &game = *started;
    ASSERT_TRUE(game.wait_for("$ console mod init")) << game.out;
    ASSERT_EQ(game.count("SDL_InitSubSystem(VIDEO) failed"), 0) << game.out;

    std::string ids;
    FILE *p = popen(("xdotool search --sync --pid " + std::to_string(game.pid) + " 2>/dev/null").c_str(), "r");
    char line[64];
    while (p && fgets(line, sizeof(line), p))
        ids = line;
    if (p)
        pclose(p);
    unsigned long xid = strtoul(ids.c_str(), nullptr, 10);
    ASSERT_NE(xid, 0ul) << "the game's window";
    ASSERT_TRUE(xdotool("windowfocus --sync " + std::to_string(xid)));
    Display *dpy = XOpenDisplay(nullptr);
    ASSERT_NE(dpy, nullptr);
    unsigned seen = 0;

    ASSERT_TRUE(xdotool("type --delay 20 'print(1+1)'"));
    ASSERT_TRUE(xdotool("key Return"));
    ASSERT_TRUE(game.wait_for("$ 2")) << game.out;
    EXPECT_LT(game.out.find("$ > print(1+1)"), game.out.find("$ 2")) << "the line is logged before its output";
    ASSERT_TRUE(xdotool("key Up Return"));
    EXPECT_TRUE(game.wait_for("$ 2", 2)) << "Up recalls the last line\n" << game.out;

    ASSERT_TRUE(xdotool("key F1"));
    EXPECT_TRUE(pixel_is(dpy, xid, 320, 240, true, &seen)) << "F1 hides the overlay: " << std::hex << seen;
    EXPECT_TRUE(pixel_is(dpy, xid, 636, 478, false, &seen)) << "the strip stays: " << std::hex << seen;
    ASSERT_TRUE(xdotool("key F2"));
    EXPECT_TRUE(pixel_is(dpy, xid, 636, 478, true, &seen)) << "F2 empties the log, so no strip: " << std::hex << seen;

    ASSERT_TRUE(xdotool("key F5"));
    EXPECT_TRUE(game.wait_for("$ console mod init", 2)) << "F5 runs _init again\n" << game.out;
    EXPECT_TRUE(pixel_is(dpy, xid, 320, 240, false, &seen)) << "the first line opens the console";
    ASSERT_TRUE(xdotool("key Escape"));
    EXPECT_TRUE(pixel_is(dpy, xid, 320, 240, true, &seen)) << "Esc hides it: " << std::hex << seen;
    ASSERT_TRUE(xdotool("windowsize " + std::to_string(xid) + " 800 600"));
    EXPECT_TRUE(game.wait_for("GAME_SW: 800 GAME_SH: 600")) << "a resize rebuilds the console\n" << game.out;
    XCloseDisplay(dpy);
}

} // namespace
