// The misc extension: clipboard, image loading and cutting, the on-screen keyboard, the tick count, re-opening
// the window at a new size and screenshots (JPEG or PNG), by name through the extension registry.
#include "ext_misc.h"

#include <GL/gl.h>
#include <SDL.h>

// The PNG writer is compiled here, private to this file: the engine links no prebuilt stb library.
#define STB_IMAGE_WRITE_STATIC
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <stb/stb_image_write.h>

#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "ext_header.h"
#include "jpge.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_gfx.h"
#include "kiv_platform.h"

// A script number as a float: NaN stays NaN, values beyond the float range become the largest float.
static float _misc_float(const var &v) {
    double d = v.__num__();
    if (d > FLT_MAX)
        return FLT_MAX;
    if (d < -FLT_MAX)
        return -FLT_MAX;
    return (float)d;
}

static bool _misc_has(const var &value, const char *key) {
    return value.__type__() == VAR_DICT && value.__has__(var(key));
}

static void _misc_png_sink(void *context, void *data, int size) {
    if (size > 0)
        static_cast<std::string *>(context)->append((const char *)data, (size_t)size);
}

static var _misc_image_load(Game &game, var value) {
    std::string name = value["name"].__str__();
    ModsAPI *api = game.data.mods.api;
    std::string saved = api ? api->params_get("filter").__str__() : "";
    if (api && _misc_has(value, "filter"))
        api->params_set("filter", value["filter"]);
    gfx_img_load(name.c_str());
    if (api)
        api->params_set("filter", var(saved));
    return var();
}

static var _misc_image_sub(var value) {
    std::string name = value["name"].__str__();
    std::string source = value["source"].__str__();
    float x = _misc_float(value["x"]), y = _misc_float(value["y"]);
    float w = _misc_float(value["width"]), h = _misc_float(value["height"]);
    int id = gfx_img_load(source.c_str());
    if (!id) {
        kiv_printf("error loading source: \"%s\"\n", source.c_str());
        return var();
    }
    gfx_img_sub(name.c_str(), id, x, y, w, h);
    return var();
}

static var _misc_video_resize(Game &game, var value) {
    float w = _misc_float(value["width"]), h = _misc_float(value["height"]);
    int full = kiv_d2i(value["full"].__num__());
    if (game.data.mods.api)
        game.data.mods.api->batch.clear();
    // A headless game has no window to make again; the script still hears of the new size.
    if (!game._headless) {
        int iw = kiv_d2i(w), ih = kiv_d2i(h);
        driver_video_init(iw, ih, iw, ih, iw, ih, (game._full == 1 ? 1 : 0) ^ (full != 0 ? 1 : 0));
        gfx_clear();
        driver_video_flip();
        gfx_clear();
    }
    Event e(EVT_RESIZE);
    e.w = w;
    e.h = h;
    game.event(e);
    return var();
}

static var _misc_screenshot(Game &game, var value) {
    if (!game._headless && game.data.mods.api)
        game.data.mods.api->batch.draw();
    std::string filename;
    bool named = _misc_has(value, "filename");
    if (named)
        filename = value["filename"].__str__();
    char path[EXT_MISC_PATH_MAX];
    if (!ext_misc_screenshot_path(driver_get_tmpdir(), named ? filename.c_str() : nullptr, path, sizeof(path))) {
        kiv_printf("screenshot: path longer than %d bytes refused\n", (int)sizeof(path) - 1);
        return var("");
    }
    return var(ext_misc_screenshot(path) ? path : "");
}

void ext_misc_init(Game &game) {}

var ext_misc_call(Game &game, std::string action, var value) {
    if (action == "clipboard:set") {
        driver_clipboard_set_text(value.__str__());
        return var(true);
    }
    if (action == "clipboard:get")
        return var(driver_clipboard_get_text());
    if (action == "image:load")
        return _misc_image_load(game, value);
    if (action == "image:sub")
        return _misc_image_sub(value);
    if (action == "keyboard:show") {
        float x = _misc_float(value["x"]), y = _misc_float(value["y"]);
        float w = _misc_float(value["width"]), h = _misc_float(value["height"]);
        if (w != 0 && h != 0)
            gfx_focus(GfxRect(x, y, w, h));
        driver_keyboard_show();
        return var();
    }
    if (action == "keyboard:hide") {
        gfx_blur();
        driver_keyboard_hide();
        return var();
    }
    if (action == "timer:get_ticks")
        return var((int)(int32_t)(uint32_t)(unsigned long)driver_timer_get_ticks());
    if (action == "video:resize")
        return _misc_video_resize(game, value);
    if (action == "screenshot")
        return _misc_screenshot(game, value);
    return var();
}

bool ext_misc_screenshot_path(const char *tmpdir, const char *filename, char *out, size_t size) {
    int n;
    if (!filename)
        n = snprintf(out, size, "%s/misc_screenshot.jpg", tmpdir ? tmpdir : "");
    else if (filename[0] == '/')
        n = snprintf(out, size, "%s", filename);
    else
        n = snprintf(out, size, "%s/%s", tmpdir ? tmpdir : "", filename);
    if (n < 0 || (size_t)n >= size) {
        if (size)
            out[0] = 0;
        return false;
    }
    return true;
}

int ext_misc_screenshot(const char *path) {
    if (!SDL_GL_GetCurrentContext()) {
        fprintf(stderr, "ext_misc_screenshot: no GL context\n");
        kiv_printf("screenshot: no window to capture: %s\n", path ? path : "");
        return 0;
    }
    GLint vp[4] = {0, 0, 0, 0};
    glGetIntegerv(GL_VIEWPORT, vp);
    fprintf(stderr, "ext_misc_screenshot: %d %d %d %d\n", vp[0], vp[1], vp[2], vp[3]);
    int w = vp[2], h = vp[3];
    if (w <= 0 || h <= 0) {
        kiv_printf("screenshot: nothing to capture (viewport %dx%d): %s\n", w, h, path);
        return 0;
    }
    size_t row = (size_t)w * 4;
    unsigned char *pixels = (unsigned char *)calloc((size_t)h, row);
    unsigned char *tmp = (unsigned char *)malloc(row);
    int ok = 0;
    if (!pixels || !tmp)
        kiv_printf("screenshot: out of memory for %dx%d pixels: %s\n", w, h, path);
    if (pixels && tmp) {
        // Rows are packed tightly whatever alignment the rest of the program left set.
        GLint align = 4;
        glGetIntegerv(GL_PACK_ALIGNMENT, &align);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glReadPixels(vp[0], vp[1], w, h, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
        glPixelStorei(GL_PACK_ALIGNMENT, align);
        for (int i = 0; i < h / 2; i++) {
            unsigned char *a = pixels + row * (size_t)i, *b = pixels + row * (size_t)(h - 1 - i);
            memcpy(tmp, a, row);
            memcpy(a, b, row);
            memcpy(b, tmp, row);
        }
        ok = ext_misc_write_image(path, w, h, pixels);
    }
    free(tmp);
    free(pixels);
    return ok;
}

int ext_misc_write_image(const char *path, int width, int height, const unsigned char *rgba) {
    if (!path || !rgba || width <= 0 || height <= 0)
        return 0;
    if (strstr(path, ".jpg"))
        return jpge_write_jpg(path, width, height, 4, (void *)rgba);
    if (!strstr(path, ".png")) {
        kiv_printf("screenshot: neither .jpg nor .png, nothing written: %s\n", path);
        return 0;
    }
    std::string png;
    if ((long long)width * 4 > INT32_MAX ||
        !stbi_write_png_to_func(_misc_png_sink, &png, width, height, 4, rgba, width * 4) || png.empty()) {
        kiv_printf("screenshot: PNG encoding failed (%dx%d): %s\n", width, height, path);
        return 0;
    }
    if (!kiv_platform_file_write_new(path, png.data(), png.size())) {
        kiv_printf("file not writable: %s - %s\n", path, strerror(errno));
        return 0;
    }
    return 1;
}

int jpge_write_jpg(const char *path, int width, int height, int channels, void *pixels) {
    jpge::params p;
    p.m_quality = 85;
    p.m_subsampling = jpge::H2V2;
    p.m_two_pass_flag = true;
    p.m_no_chroma_discrim_flag = false;
    errno = 0;
    if (jpge::compress_image_to_jpeg_file(path, width, height, channels, (const jpge::uint8 *)pixels, p))
        return 1;
    if (errno)
        kiv_printf("file not writable: %s - %s\n", path, strerror(errno));
    else
        kiv_printf("screenshot: JPEG encoding failed (%dx%d): %s\n", width, height, path);
    return 0;
}
