// The window and its GL context, the on-screen keyboard and the clipboard (SDL2 driver).
// driver_init/driver_deinit call the video start/stop; the shell opens and re-opens the window
// through driver_video_init and presents each frame with driver_video_flip.
#include <SDL.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kiv_driver.h"
#include "kiv_util.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"
#include "kiv_printf.h"

enum { KIV_CAPTION_MAX = 256, KIV_ICON_MAX = 512 };
// X refuses a window property as big as a 2048 x 2048 icon (BadLength, which ends the program); window managers
// show icons far smaller anyway.
enum { KIV_ICON_SIDE_MAX = 256 };
// Above this Mesa's software rasteriser fails to make its buffers, and X keeps sizes in 16 bits.
enum { KIV_WINDOW_SIDE_MAX = 16384 };

// Module state (main thread only). The context is made once and outlives every window.
static SDL_Window *_driver_sdl2_window = nullptr;
static SDL_GLContext _driver_sdl2_context = nullptr;
static SDL_DisplayMode _driver_desktop_mode;
static bool _driver_desktop_read = false;
static bool _driver_video_started = false;
static char _driver_last_caption[KIV_CAPTION_MAX] = "";
static char _driver_last_icon[KIV_ICON_MAX] = "";
// GL_MAX_VIEWPORT_DIMS of the context, 0 until it exists.
static int _driver_gl_max_w = 0, _driver_gl_max_h = 0;
// The window's size before it went full screen: leaving full screen goes back to it. 0 when unknown.
static int _driver_windowed_w = 0, _driver_windowed_h = 0;
// The last request chose the windowed size itself (leaving full screen).
static bool _driver_size_restored = false;
// Window and drawable sizes the metrics were last refreshed from.
static int _driver_seen_w = -1, _driver_seen_h = -1, _driver_seen_dw = -1, _driver_seen_dh = -1;

// Bounded copy that always terminates.
static void _driver_strlcpy(char *dst, const char *src, size_t size) {
    if (!src)
        src = "";
    size_t n = strlen(src);
    if (n >= size)
        n = size - 1;
    memcpy(dst, src, n);
    dst[n] = 0;
}

// Window titles take only printable ASCII: control bytes and every byte from 0x80 up become '?'.
static void _driver_caption_sanitize(char *s) {
    for (; *s; s++) {
        if ((signed char)*s < 32)
            *s = '?';
    }
}

static void _driver_icon_apply(SDL_Window *win) {
    const char *path = driver_get_icon();
    if (!win || !path || !*path || !driver_file_exists(path))
        return;
    int w = 0, h = 0;
    const char *why = "";
    unsigned char *px = _stbi_load(path, &w, &h, &why);
    if (!px) {
        kiv_printf("stbi_load failed %s - %s\n", path, why);
        return;
    }
    std::vector<unsigned char> small;
    int sw = 0, sh = 0;
    if (_driver_icon_fit(px, w, h, KIV_ICON_SIDE_MAX, &small, &sw, &sh)) {
        kiv_printf("icon %s: %d x %d scaled down to %d x %d\n", path, w, h, sw, sh);
        free(px);
        px = (unsigned char *)malloc(small.size());
        if (!px)
            return;
        memcpy(px, small.data(), small.size());
        w = sw;
        h = sh;
    }
    SDL_Surface *wrap = SDL_CreateRGBSurfaceFrom(px, w, h, 32, w * 4, 0x000000FF, 0x0000FF00, 0x00FF0000, 0xFF000000);
    // The wrapper only borrows the pixels: convert into a surface that owns its copy.
    SDL_Surface *icon = wrap ? SDL_ConvertSurface(wrap, wrap->format, 0) : nullptr;
    if (wrap)
        SDL_FreeSurface(wrap);
    free(px);
    if (!icon)
        return;
    SDL_SetWindowIcon(win, icon);
    SDL_FreeSurface(icon);
}

static void _driver_context_create(SDL_Window *win) {
    if (_driver_sdl2_context) {
        kiv_printf("SDL_GL_DeleteContext\n");
        SDL_GL_DeleteContext(_driver_sdl2_context);
        _driver_sdl2_context = nullptr;
    }
    _driver_sdl2_context = SDL_GL_CreateContext(win);
    kiv_printf("SDL_GL_CreateContext\n");
    if (!_driver_sdl2_context) {
        kiv_printf("SDL_GL_CreateContext failed: %s\n", SDL_GetError());
        return;
    }
    static const struct {
        SDL_GLattr attr;
        const char *fmt;
    } attrs[] = {
        {SDL_GL_RED_SIZE, "GL_RED_SIZE:%d\n"},         {SDL_GL_GREEN_SIZE, "GL_GREEN_SIZE:%d\n"},
        {SDL_GL_BLUE_SIZE, "GL_BLUE_SIZE:%d\n"},       {SDL_GL_ALPHA_SIZE, "GL_ALPHA_SIZE:%d\n"},
        {SDL_GL_DEPTH_SIZE, "GL_DEPTH_SIZE:%d\n"},     {SDL_GL_BUFFER_SIZE, "GL_BUFFER_SIZE:%d\n"},
        {SDL_GL_DOUBLEBUFFER, "GL_DOUBLEBUFFER:%d\n"}, {SDL_GL_STENCIL_SIZE, "GL_STENCIL_SIZE:%d\n"},
    };
    for (const auto &a : attrs) {
        int v = 0;
        SDL_GL_GetAttribute(a.attr, &v);
        kiv_printf(a.fmt, v);
    }
    SDL_GL_MakeCurrent(win, _driver_sdl2_context);
    kiv_printf("SDL_GL_MakeCurrent\n");
    kiv_glext_init();
    GLint dims[2] = {0, 0};
    glGetIntegerv(GL_MAX_VIEWPORT_DIMS, dims);
    _driver_gl_max_w = dims[0];
    _driver_gl_max_h = dims[1];
}

static SDL_Window *_driver_try_init_video(int w, int h, int full) {
    kiv_printf("_try_init_video(%d,%d,%d)\n", w, h, full);
    full = full ? 1 : 0;
    // The subsystem is reference counted: start it only when it is not running (no video start
    // before this request, or a stop since), and before the desktop mode is asked for.
    if (!SDL_WasInit(SDL_INIT_VIDEO)) {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
            kiv_printf("SDL_InitSubSystem(VIDEO) failed: %s\n", SDL_GetError());
            return nullptr;
        }
        _driver_video_started = true;
    }
    if (!_driver_desktop_read) {
        SDL_zero(_driver_desktop_mode);
        if (SDL_GetDesktopDisplayMode(0, &_driver_desktop_mode) == 0)
            _driver_desktop_read = true;
        else
            kiv_printf("SDL_GetDesktopDisplayMode failed: %s\n", SDL_GetError());
    }
    int dw = _driver_desktop_mode.w, dh = _driver_desktop_mode.h;
    if (w > 0 && h > 0) {
        int mw = 0, mh = 0, ow = w, oh = h;
        _driver_video_max(&mw, &mh);
        if (_driver_video_fit(&w, &h, mw, mh))
            kiv_printf("init_video: %d x %d is more than the display and GL take, using %d x %d\n", ow, oh, w, h);
    }
    int cw = 0, ch = 0, cfull = 0;
    if (_driver_sdl2_window) {
        SDL_GetWindowSize(_driver_sdl2_window, &cw, &ch);
        cfull = (SDL_GetWindowFlags(_driver_sdl2_window) & SDL_WINDOW_FULLSCREEN) ? 1 : 0;
    }
    int tw = w, th = h;
    _driver_size_restored = false;
    if (full) {
        // Full screen at the desktop's own mode: a smaller size would ask for a mode change, which a display
        // without one (or without a window manager) answers with a small window SDL takes for the whole screen.
        tw = dw;
        th = dh;
    } else if (cfull && _driver_windowed_w > 0 && (w <= 0 || h <= 0 || w >= dw || h >= dh)) {
        // Leaving full screen without a size a window can have: the one it had before.
        tw = _driver_windowed_w;
        th = _driver_windowed_h;
        _driver_size_restored = true;
        kiv_printf("_try_init_video: leaving full screen, back to %d x %d\n", tw, th);
    } else if (w <= 0 || h <= 0) {
        tw = dw * 80 / 100;
        th = dh * 80 / 100;
    }
    int bw = dw * 80 / 100, bh = dh * 80 / 100;
    kiv_printf("_try_init_video: desktop: %d x %d, backup: %d x %d, target: %d x %d, screen: %d x %d\n", dw, dh, bw, bh,
               tw, th, cw, ch);
    if (_driver_sdl2_window && cw == tw && ch == th && cfull == full) {
        kiv_printf("_try_init_video: no changes needed.\n");
        return _driver_sdl2_window;
    }
    if (_driver_sdl2_window && !cfull && full) {
        _driver_windowed_w = cw;
        _driver_windowed_h = ch;
    }
    driver_sdl2_window_destroy();
    kiv_printf("_try_init_video: initial init\n");

    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_STENCIL_SIZE, 0);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 8);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_ACCELERATED_VISUAL, 1);

    // The title is set here already sanitised, so the swap only re-titles on a real change.
    const char *caption = driver_get_caption();
    char title[KIV_CAPTION_MAX];
    _driver_strlcpy(_driver_last_caption, caption, sizeof(_driver_last_caption));
    _driver_strlcpy(title, caption, sizeof(title));
    _driver_caption_sanitize(title);

    Uint32 flags = SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN | SDL_WINDOW_RESIZABLE | (full ? SDL_WINDOW_FULLSCREEN : 0);
    SDL_Window *win = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, tw, th, flags);
    if (!win) {
        kiv_printf("failed to init at %d x %d .. trying %d x %d\n", tw, th, bw, bh);
        win = SDL_CreateWindow(title, SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, bw, bh,
                               SDL_WINDOW_OPENGL | SDL_WINDOW_SHOWN);
        if (!win) {
            kiv_printf("SDL_CreateWindow failed: %s\n", SDL_GetError());
            return nullptr;
        }
    }
    _driver_sdl2_window = win;
    _driver_strlcpy(_driver_last_icon, driver_get_icon(), sizeof(_driver_last_icon));
    _driver_icon_apply(win);
    if (!_driver_sdl2_context)
        _driver_context_create(win);
    if (_driver_sdl2_context) {
        SDL_GL_MakeCurrent(win, _driver_sdl2_context);
        // The swap interval belongs to the current context and drawable: ask only now.
        if (SDL_GL_SetSwapInterval(1) != 0)
            kiv_printf("SDL_GL_SetSwapInterval failed: %s\n", SDL_GetError());
    }
    SDL_GetWindowSize(win, &cw, &ch);
    cfull = (SDL_GetWindowFlags(win) & SDL_WINDOW_FULLSCREEN) ? 1 : 0;
    kiv_printf("now: %d x %d - %d\n", cw, ch, cfull);
    return win;
}

void driver_video_init(int ww, int hh, int dw, int dh, int mw, int mh, int full) {
    kiv_printf("init_video: %d %d %d %d %d %d %d\n", ww, hh, dw, dh, mw, mh, full);
    SDL_Window *win = _driver_try_init_video(ww, hh, full);
    if (!win)
        return;
    // SDL grows the window to its minimum size: one the display cannot take would force that size anyway.
    int maxw = 0, maxh = 0, omw = mw, omh = mh;
    _driver_video_max(&maxw, &maxh);
    if (_driver_video_fit(&mw, &mh, maxw, maxh))
        kiv_printf("init_video: minimum size %d x %d is more than the display and GL take, using %d x %d\n", omw, omh,
                   mw, mh);
    // Nor may it undo the size restored on leaving full screen.
    if (_driver_size_restored) {
        int w = 0, h = 0;
        SDL_GetWindowSize(win, &w, &h);
        _driver_video_fit(&mw, &mh, w, h);
    }
    SDL_SetWindowMinimumSize(win, mw, mh);
    _driver_video_resize();
}

void driver_video_flip() {
    if (!_driver_sdl2_window)
        return;
    SDL_GL_SwapWindow(_driver_sdl2_window);
    // The window system may apply a size after the window was made (a window manager placing a full-screen
    // window, a configure SDL reports as no resize at all): the viewport and metrics follow what the window has.
    int w = 0, h = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(_driver_sdl2_window, &w, &h);
    SDL_GL_GetDrawableSize(_driver_sdl2_window, &dw, &dh);
    if (w != _driver_seen_w || h != _driver_seen_h || dw != _driver_seen_dw || dh != _driver_seen_dh)
        _driver_video_resize();
    const char *caption = driver_get_caption();
    if (caption && strncmp(caption, _driver_last_caption, sizeof(_driver_last_caption) - 1) != 0) {
        _driver_strlcpy(_driver_last_caption, caption, sizeof(_driver_last_caption));
        char title[KIV_CAPTION_MAX];
        _driver_strlcpy(title, caption, sizeof(title));
        _driver_caption_sanitize(title);
        SDL_SetWindowTitle(_driver_sdl2_window, title);
    }
    const char *icon = driver_get_icon();
    if (icon && strncmp(icon, _driver_last_icon, sizeof(_driver_last_icon) - 1) != 0) {
        _driver_strlcpy(_driver_last_icon, icon, sizeof(_driver_last_icon));
        _driver_icon_apply(_driver_sdl2_window);
    }
}

bool driver_video_minimize() {
    if (!_driver_sdl2_window)
        return false;
    SDL_MinimizeWindow(_driver_sdl2_window);
    return true;
}

SDL_Window *driver_sdl2_window() {
    return _driver_sdl2_window;
}

void driver_sdl2_window_destroy() {
    if (!_driver_sdl2_window)
        return;
    SDL_DestroyWindow(_driver_sdl2_window);
    _driver_sdl2_window = nullptr;
}

void _driver_video_start() {
    driver_set_idiom("desktop");
    if (!SDL_WasInit(SDL_INIT_VIDEO) && SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        kiv_printf("SDL_InitSubSystem(VIDEO) failed: %s\n", SDL_GetError());
    }
    _driver_video_started = true;
    SDL_version linked;
    SDL_GetVersion(&linked);
    kiv_printf("SDL Runtime Version: %u.%u.%u\n", linked.major, linked.minor, linked.patch);
    kiv_printf("SDL Compile Version: %u.%u.%u\n", SDL_MAJOR_VERSION, SDL_MINOR_VERSION, SDL_PATCHLEVEL);
    // Without a display SDL may settle on an off-screen driver: the game then runs, but nobody sees it.
    const char *video = SDL_GetCurrentVideoDriver();
    kiv_printf("SDL video driver: %s\n", video ? video : "none");
    _driver_joystick_scan();
}

void _driver_video_stop() {
    if (_driver_sdl2_context) {
        SDL_GL_DeleteContext(_driver_sdl2_context);
        _driver_sdl2_context = nullptr;
        kiv_glext_reset();
    }
    driver_sdl2_window_destroy();
    _driver_joystick_close_all();
    if (_driver_video_started) {
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        _driver_video_started = false;
    }
    // A later start reads the desktop again and titles its first window afresh.
    _driver_desktop_read = false;
    _driver_last_caption[0] = 0;
    _driver_last_icon[0] = 0;
    _driver_gl_max_w = _driver_gl_max_h = 0;
    _driver_windowed_w = _driver_windowed_h = 0;
    _driver_seen_w = _driver_seen_h = _driver_seen_dw = _driver_seen_dh = -1;
}

void _driver_video_resize() {
    if (!_driver_sdl2_window)
        return;
    int w = 0, h = 0, dw = 0, dh = 0;
    SDL_GetWindowSize(_driver_sdl2_window, &w, &h);
    SDL_GL_GetDrawableSize(_driver_sdl2_window, &dw, &dh);
    kiv_printf("window: %d x %d. drawable: %d x %d\n", w, h, dw, dh);
    _driver_seen_w = w;
    _driver_seen_h = h;
    _driver_seen_dw = dw;
    _driver_seen_dh = dh;
    if (w > 0 && h > 0 && _driver_sdl2_context)
        glViewport(0, 0, dw, dh);
    _driver_video_metrics(w, h, dw, dh);
}

bool _driver_video_metrics(int w, int h, int dw, int dh) {
    // A minimised window may report no area: keep the last metrics rather than divide by zero.
    if (w <= 0 || h <= 0)
        return false;
    driver_set_size(w, h);
    driver_set_aspect((float)w / (float)h);
    driver_set_scale((float)dw / (float)w);
    driver_set_orient(0);
    return true;
}

bool _driver_video_fit(int *w, int *h, int max_w, int max_h) {
    bool changed = false;
    if (max_w > 0 && *w > max_w) {
        *w = max_w;
        changed = true;
    }
    if (max_h > 0 && *h > max_h) {
        *h = max_h;
        changed = true;
    }
    return changed;
}

void _driver_video_max(int *w, int *h) {
    // The bounding box of every display, so a window may still span several.
    int x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool any = false;
    for (int i = 0; i < SDL_GetNumVideoDisplays(); i++) {
        SDL_Rect r;
        if (SDL_GetDisplayBounds(i, &r) != 0 || r.w <= 0 || r.h <= 0)
            continue;
        if (!any) {
            x0 = r.x, y0 = r.y, x1 = r.x + r.w, y1 = r.y + r.h;
            any = true;
        } else {
            x0 = SDL_min(x0, r.x), y0 = SDL_min(y0, r.y);
            x1 = SDL_max(x1, r.x + r.w), y1 = SDL_max(y1, r.y + r.h);
        }
    }
    *w = any ? x1 - x0 : KIV_WINDOW_SIDE_MAX;
    *h = any ? y1 - y0 : KIV_WINDOW_SIDE_MAX;
    _driver_video_fit(w, h, KIV_WINDOW_SIDE_MAX, KIV_WINDOW_SIDE_MAX);
    _driver_video_fit(w, h, _driver_gl_max_w, _driver_gl_max_h);
}

bool _driver_icon_fit(const unsigned char *px, int w, int h, int max, std::vector<unsigned char> *out, int *ow,
                      int *oh) {
    if (!px || w <= 0 || h <= 0 || max <= 0 || (w <= max && h <= max))
        return false;
    // Keep the aspect: the longer side becomes max, the other at least one pixel.
    int nw = w >= h ? max : (int)SDL_max(1, (long long)w * max / h);
    int nh = h > w ? max : (int)SDL_max(1, (long long)h * max / w);
    out->assign((size_t)nw * nh * 4, 0);
    for (int oy = 0; oy < nh; oy++) {
        int y0 = (int)((long long)oy * h / nh), y1 = (int)SDL_max(y0 + 1, (long long)(oy + 1) * h / nh);
        for (int ox = 0; ox < nw; ox++) {
            int x0 = (int)((long long)ox * w / nw), x1 = (int)SDL_max(x0 + 1, (long long)(ox + 1) * w / nw);
            // Colours weighted by alpha, so transparent pixels do not darken the edges.
            unsigned long long rgb[3] = {0, 0, 0}, alpha = 0, n = 0;
            for (int y = y0; y < y1; y++) {
                const unsigned char *p = px + ((size_t)y * w + x0) * 4;
                for (int x = x0; x < x1; x++, p += 4, n++) {
                    for (int c = 0; c < 3; c++)
                        rgb[c] += (unsigned long long)p[c] * p[3];
                    alpha += p[3];
                }
            }
            unsigned char *q = out->data() + ((size_t)oy * nw + ox) * 4;
            for (int c = 0; c < 3; c++)
                q[c] = alpha ? (unsigned char)((rgb[c] + alpha / 2) / alpha) : 0;
            q[3] = (unsigned char)((alpha + n / 2) / n);
        }
    }
    *ow = nw;
    *oh = nh;
    return true;
}

void driver_keyboard_show() {
    if (!_driver_sdl2_window || !SDL_HasScreenKeyboardSupport())
        return;
    kiv_printf("- keyboard_show ...\n");
    GfxRect r = _gfx_get_focus_fixed();
    if (r.w != 0) {
        SDL_Rect rect = {kiv_d2i(r.x), kiv_d2i(r.y), kiv_d2i(r.w), kiv_d2i(r.h)};
        kiv_printf("- keyboard_show:focus (%d,%d,%d,%d)...\n", rect.x, rect.y, rect.w, rect.h);
        SDL_SetTextInputRect(&rect);
    }
    SDL_StartTextInput();
    kiv_printf("- keyboard_show: OK\n");
}

void driver_keyboard_hide() {
    if (!_driver_sdl2_window || !SDL_HasScreenKeyboardSupport())
        return;
    kiv_printf("- keyboard_hide ...\n");
    SDL_StopTextInput();
    kiv_printf("- keyboard_hide: OK\n");
}

int driver_keyboard_state() {
    if (!_driver_sdl2_window || !SDL_HasScreenKeyboardSupport())
        return 0;
    return (SDL_IsTextInputActive() && SDL_IsScreenKeyboardShown(_driver_sdl2_window)) ? 1 : 0;
}

int driver_keyboard_get_height() {
    return 0;
}

void driver_keyboard_set_height(int v) {}

void driver_keyboard_init(void *_view) {}

std::string driver_clipboard_get_text() {
    char *s = SDL_GetClipboardText();
    if (!s)
        return std::string();
    std::string out(s);
    SDL_free(s);
    return out;
}

void driver_clipboard_set_text(const std::string &text) {
    if (SDL_SetClipboardText(text.c_str()) != 0)
        kiv_printf("SDL_SetClipboardText failed: %s\n", SDL_GetError());
}
