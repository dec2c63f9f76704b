// Shared by the window and input display tests: log capture and bounded event waits.
#pragma once

#include <SDL.h>
#include <gtest/gtest.h>
// After gtest: the X11 headers behind it define macros (None, Bool) that gtest uses as names.
#include <SDL_syswm.h>
#undef None
#undef Bool
#undef Status
#undef True
#undef False

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <signal.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "game.h"
#include "kiv_driver.h"
#include "kiv_event.h"

#include "../stdout_testutil.h"

using stdouttest::StdoutCapture;

// Polls the driver until an event satisfies pred; the X server answers asynchronously, so the wait
// is bounded by a number of rounds, never asserted on as a duration.
inline bool poll_until(const std::function<bool(const Event &)> &pred, Event *out, std::vector<Event> *seen = nullptr,
                       int rounds = 400) {
    for (int i = 0; i < rounds; i++) {
        Event e(EVT_NONE);
        while (driver_event_poll(&e)) {
            if (seen)
                seen->push_back(e);
            if (pred(e)) {
                if (out)
                    *out = e;
                return true;
            }
        }
        SDL_Delay(5);
    }
    return false;
}

// Every pending driver event, in order.
inline std::vector<Event> poll_all() {
    std::vector<Event> v;
    Event e(EVT_NONE);
    while (driver_event_poll(&e))
        v.push_back(e);
    return v;
}

// The X11 window behind an SDL window, for xdotool.
inline unsigned long x11_window_id(SDL_Window *win) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!win || !SDL_GetWindowWMInfo(win, &info) || info.subsystem != SDL_SYSWM_X11)
        return 0;
    return (unsigned long)info.info.x11.window;
}

// Xvfb accepts connections slowly: a burst of connects (each test starts SDL afresh, each xdotool
// call is a client) now and then meets a full listen queue. Connecting is therefore retried, and
// SDL is kept on X11 instead of quietly falling back to an off-screen driver.
inline void driver_init_x11(int flags) {
    setenv("SDL_VIDEODRIVER", "x11", 1);
    for (int i = 0; i < 50; i++) {
        driver_init(flags);
        if (SDL_WasInit(SDL_INIT_VIDEO))
            return;
        driver_deinit();
        SDL_Delay(20);
    }
    FAIL() << "no X11 connection: " << SDL_GetError();
}

// The whole game in a real X window. After a refused connection SDL would quietly pick an off-screen driver,
// whose buffer never follows a resize; kept on X11, the start is retried instead.
inline void game_init_x11(int argc, const char **argv) {
    setenv("SDL_VIDEODRIVER", "x11", 1);
    for (int i = 0; i < 50; i++) {
        game_init(argc, const_cast<char **>(argv));
        if (game_get_sw() > 0)
            return;
        game_deinit();
        SDL_Delay(20);
    }
    FAIL() << "no X11 connection for the game";
}

// Runs xdotool against the same DISPLAY; true when it exited with 0 (retried like the above).
inline bool xdotool(const std::string &args) {
    std::string cmd = "xdotool " + args + " >/dev/null 2>&1";
    for (int i = 0; i < 10; i++) {
        if (std::system(cmd.c_str()) == 0)
            return true;
        SDL_Delay(20);
    }
    return false;
}

// openbox on the test's display for as long as the object lives.
class WindowManager {
public:
    // True once it manages windows. Its check window on the root comes before the end of its start-up, and a
    // window mapped in between can wait for ever for its MapNotify inside SDL; the start-up command runs last.
    bool start() {
        std::string ready = "/tmp/kiv_openbox_ready_" + std::to_string(getpid()), touch = "touch " + ready;
        unlink(ready.c_str());
        char *argv[] = {(char *)"openbox", (char *)"--sm-disable", (char *)"--startup", (char *)touch.c_str(), nullptr};
        if (posix_spawnp(&pid_, "openbox", nullptr, nullptr, argv, environ) != 0) {
            pid_ = -1;
            return false;
        }
        for (int i = 0; i < 400; i++, SDL_Delay(25)) {
            if (access(ready.c_str(), F_OK) == 0) {
                unlink(ready.c_str());
                return true;
            }
        }
        return false;
    }
    ~WindowManager() {
        if (pid_ > 0 && kill(pid_, SIGTERM) == 0)
            waitpid(pid_, nullptr, 0);
    }

private:
    pid_t pid_ = -1;
};

// Keeps every shared object mapped to the end: SDL and Mesa unload their GL and X modules on
// shutdown, which leaves the leak checker with anonymous frames it cannot match to system libraries.
extern "C" int dlclose(void *) {
    return 0;
}
