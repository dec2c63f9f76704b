// Texture upload: decodes an image file to RGBA, premultiplies, pads to an allowed GL size, halves what the GL
// cannot hold, and uploads it with its mipmap chain. Called by the texture table through driver_tex_load.
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_glext.h"
#include "kiv_printf.h"

// Configuration hooks answered by the game shell, which hands its filter answers over at start-up
// (driver_tex_filters_set); until then, and in a program without the shell, the filters are the ones the shell gives
// while no mod runs. Without a downscale answer pictures keep their size.
static int (*_driver_tex_min_filter)() = nullptr;
static int (*_driver_tex_mag_filter)() = nullptr;
bool _KIV_DRIVER_TEX_LOAD_DOWNSCALE() __attribute__((weak));

void driver_tex_filters_set(int (*min_filter)(), int (*mag_filter)()) {
    _driver_tex_min_filter = min_filter;
    _driver_tex_mag_filter = mag_filter;
}

static int _KIV_GL_TEXTURE_MIN_FILTER() {
    return _driver_tex_min_filter ? _driver_tex_min_filter() : GL_LINEAR_MIPMAP_LINEAR;
}

static int _KIV_GL_TEXTURE_MAG_FILTER() {
    return _driver_tex_mag_filter ? _driver_tex_mag_filter() : GL_LINEAR;
}

static bool _driver_tex_downscale() {
    return _KIV_DRIVER_TEX_LOAD_DOWNSCALE && _KIV_DRIVER_TEX_LOAD_DOWNSCALE();
}

static const int _driver_tex_sizes[] = {64, 128, 256, 512, 1024, 2048, 4096, 0};
// Largest picture decoded at all (pixels): a file header may claim any size, and decoding allocates 4 bytes a pixel.
static const long long _driver_tex_pixmax = 1LL << 26;

static long _driver_tex_mip_total = 0;

static int _driver_tex_gl_max() {
    if (!glGetString(GL_VERSION))
        return INT_MAX;
    GLint v = 0;
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &v);
    return v > 0 ? v : 64;
}

int driver_tex_load(const char *fname, int *rw, int *rh, int *rtw, int *rth) {
    kiv_printf("driver_tex_load %s\n", fname ? fname : "");
    return _driver_tex_load(fname, rw, rh, rtw, rth);
}

int _driver_tex_load(const char *path, int *w, int *h, int *tw, int *th) {
    int pw = 0, ph = 0;
    const char *why = "";
    if (!path)
        return 0;
    unsigned char *p = _stbi_load(path, &pw, &ph, &why);
    if (!p) {
        kiv_printf("stbi_load failed %s - %s\n", path, why);
        return 0;
    }
    int tex = _driver_tex_load_from_data(p, pw, ph, w, h, tw, th);
    free(p);
    kiv_printf("loaded %s as %d (%d,%d)->(%d,%d):(%d,%d)\n", path, tex, pw, ph, *w, *h, *tw, *th);
    return tex;
}

unsigned char *_stbi_load(const char *path, int *w, int *h, const char **why) {
    int len = 0;
    *w = *h = 0;
    unsigned char *data = (unsigned char *)driver_file_alloc(path, &len);
    if (!data) {
        *why = driver_file_refusal(path);
        return nullptr;
    }
    unsigned char *p = nullptr;
    int iw = 0, ih = 0;
    // Only a picture with a size can be too large; the decoder gives the reason for everything else.
    if (_driver_tex_check_size(data, len, _driver_tex_gl_max(), &iw, &ih) != 0 && iw > 0 && ih > 0)
        *why = "image too large";
    else
        p = _driver_image_decode(data, len, w, h, why);
    free(data);
    return p;
}

int _driver_tex_check_size(const unsigned char *data, int len, int maxsize, int *w, int *h) {
    if (_driver_image_info(data, len, w, h) == KIV_IMAGE_NONE || *w <= 0 || *h <= 0)
        return -1;
    if ((long long)*w * (long long)*h > _driver_tex_pixmax)
        return -1;
    return _driver_tex_fit(*w, *h, maxsize) < 0 ? -1 : 0;
}

int _driver_tex_size(int n) {
    for (int i = 0; _driver_tex_sizes[i]; i++)
        if (_driver_tex_sizes[i] >= n)
            return _driver_tex_sizes[i];
    return n;
}

int _driver_tex_fit(int w, int h, int maxsize) {
    int n = 0;
    while (_driver_tex_size(w) > maxsize || _driver_tex_size(h) > maxsize) {
        if (w > 1 && h > 1) {
            w /= 2;
            h /= 2;
        } else if (w >= 2) {
            w /= 2;
        } else if (h > 1) {
            h /= 2;
        } else {
            return -1;
        }
        n++;
    }
    return n;
}

void _driver_tex_premultiply(unsigned char *p, int w, int h) {
    size_t n = (size_t)w * (size_t)h;
    for (size_t i = 0; i < n; i++, p += 4) {
        unsigned a = p[3];
        p[0] = (unsigned char)((p[0] * a) >> 8);
        p[1] = (unsigned char)((p[1] * a) >> 8);
        p[2] = (unsigned char)((p[2] * a) >> 8);
    }
}

unsigned char *_driver_tex_pad(const unsigned char *p, int w, int h, int tw, int th) {
    if (w <= 0 || h <= 0 || tw < w || th < h)
        return nullptr;
    unsigned char *out = (unsigned char *)calloc((size_t)tw * (size_t)th, 4);
    if (!out)
        return nullptr;
    size_t row = (size_t)tw * 4;
    for (int y = 0; y < h; y++) {
        unsigned char *d = out + row * y;
        memcpy(d, p + (size_t)w * 4 * y, (size_t)w * 4);
        for (int x = w; x < tw; x++)
            memcpy(d + (size_t)x * 4, d + (size_t)(w - 1) * 4, 4);
    }
    for (int y = h; y < th; y++)
        memcpy(out + row * y, out + row * (h - 1), row);
    return out;
}

// Each new pixel is the rounded mean of the SX by SY block it covers, written in place. The kernels read rows of
// the full source width, so an odd width drops its last column instead of shearing rows.
template <int SX, int SY> static void _driver_tex_load_halve(unsigned char *p, int w, int h) {
    static_assert(SX >= 1 && SX <= 2 && SY >= 1 && SY <= 2, "halves along x, y or both");
    const int nw = w / SX, nh = h / SY;
    const unsigned n = SX * SY;
    const size_t stride = (size_t)w * 4;
    for (int y = 0; y < nh; y++)
        for (int x = 0; x < nw; x++) {
            // b is the block's second row, a itself when only the width halves; likewise the second column.
            const unsigned char *a = p + stride * ((size_t)SY * y) + (size_t)x * 4 * SX, *b = a + stride * (SY - 1);
            const int dx = 4 * (SX - 1);
            unsigned char px[4];
            for (int c = 0; c < 4; c++) {
                unsigned sum = a[c] + (SX > 1 ? a[c + dx] : 0) + (SY > 1 ? b[c] + (SX > 1 ? b[c + dx] : 0) : 0);
                px[c] = (unsigned char)((sum + n / 2) / n);
            }
            memcpy(p + ((size_t)y * nw + x) * 4, px, 4);
        }
}

void _driver_tex_load_downscale_both(unsigned char *p, int w, int h) {
    _driver_tex_load_halve<2, 2>(p, w, h);
}

void _driver_tex_load_downscale_horz(unsigned char *p, int w, int h) {
    _driver_tex_load_halve<2, 1>(p, w, h);
}

void _driver_tex_load_downscale_vert(unsigned char *p, int w, int h) {
    _driver_tex_load_halve<1, 2>(p, w, h);
}

void _driver_tex_load_downscale(unsigned char *p, int *w, int *h) {
    if (*w > 1 && *h > 1) {
        _driver_tex_load_downscale_both(p, *w, *h);
        *w /= 2;
        *h /= 2;
    } else if (*w >= 2) {
        _driver_tex_load_downscale_horz(p, *w, *h);
        *w /= 2;
    } else if (*h > 1) {
        _driver_tex_load_downscale_vert(p, *w, *h);
        *h /= 2;
    }
}

int _driver_tex_load_from_data(unsigned char *rgba, int w, int h, int *ow, int *oh, int *tw, int *th) {
    return _driver_tex_upload(rgba, w, h, _driver_tex_downscale(), ow, oh, tw, th);
}

int _driver_tex_upload(unsigned char *rgba, int w, int h, bool downscale, int *ow, int *oh, int *tw, int *th) {
    *ow = *oh = *tw = *th = 0;
    if (!glGetString(GL_VERSION) || !rgba || w <= 0 || h <= 0)
        return 0;
    _driver_tex_premultiply(rgba, w, h);
    // A texture larger than the GL allows is incomplete and draws white: halve the picture until it fits.
    int fit = _driver_tex_fit(w, h, _driver_tex_gl_max());
    if (fit < 0)
        return 0;
    for (int i = 0; i < fit; i++)
        _driver_tex_load_downscale(rgba, &w, &h);
    int sw = _driver_tex_size(w), sh = _driver_tex_size(h);
    unsigned char *buf = rgba, *alloc = nullptr;
    if (sw != w || sh != h) {
        alloc = _driver_tex_pad(rgba, w, h, sw, sh);
        if (!alloc)
            return 0;
        buf = alloc;
    }
    if (downscale && sw > 64 && sh > 64) {
        _driver_tex_load_downscale(buf, &sw, &sh);
        w /= 2;
        h /= 2;
    }
    GLuint tex = 0;
    glGenTextures(1, &tex);
    glBindTexture(GL_TEXTURE_2D, tex);
    glEnable(GL_TEXTURE_2D);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, _kiv_gl_texture_mag_filter());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, _kiv_gl_texture_min_filter());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    int method = _has_glGenerateMipmap() ? 3 : _has_gl_generate_mipmap() ? 2 : _has_gl_manual_mipmap() ? 1 : 0;
    if (method == 2)
        glTexParameteri(GL_TEXTURE_2D, GL_GENERATE_MIPMAP, 1);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, sw, sh, 0, GL_RGBA, GL_UNSIGNED_BYTE, buf);
    if (method == 3) {
        glGenerateMipmap(GL_TEXTURE_2D);
    } else if (method == 1) {
        long t0 = driver_timer_get_ticks();
        int mw = sw, mh = sh, level = 1;
        while (mh > 1 || mw > 1) {
            _driver_tex_load_downscale(buf, &mw, &mh);
            glTexImage2D(GL_TEXTURE_2D, level, GL_RGBA, mw, mh, 0, GL_RGBA, GL_UNSIGNED_BYTE, buf);
            level += 1;
        }
        long dt = driver_timer_get_ticks() - t0;
        _driver_tex_mip_total += dt;
        kiv_printf("texture %d: mipmap levels: %d, gen=%ld ms total=%ld ms\n", (int)tex, level - 1, dt,
                   _driver_tex_mip_total);
    }
    const char *ver = (const char *)glGetString(GL_VERSION);
    kiv_printf("texture %d: mipmaps v%d (GL_VERSION=%s)\n", (int)tex, method, ver ? ver : "");
    free(alloc);
    *ow = w;
    *oh = h;
    *tw = sw;
    *th = sh;
    return (int)tex;
}

int _kiv_gl_texture_min_filter() {
    int v = _KIV_GL_TEXTURE_MIN_FILTER();
    if (v == GL_NEAREST || v == GL_LINEAR)
        return v;
    if (!_has_glGenerateMipmap() && !_has_gl_generate_mipmap() && !_has_gl_manual_mipmap())
        return GL_LINEAR;
    return v;
}

int _kiv_gl_texture_mag_filter() {
    return _KIV_GL_TEXTURE_MAG_FILTER();
}

int _has_glGenerateMipmap() {
    return 0;
}
int _has_gl_generate_mipmap() {
    return 0;
}
int _has_gl_manual_mipmap() {
    return 1;
}

int _driver_gl_version() {
    return _driver_gl_version_parse((const char *)glGetString(GL_VERSION));
}

int _driver_gl_version_parse(const char *s) {
    if (!s)
        return 0;
    char buf[256];
    snprintf(buf, sizeof(buf), "%s", s);
    buf[strspn(buf, "0123456789.")] = 0;
    long part[3] = {0, 0, 0};
    char *q = buf;
    for (int i = 0; i < 3 && q && *q; i++) {
        long v = strtol(q, nullptr, 10);
        part[i] = v < 0 ? 0 : (v > 255 ? 255 : v);
        q = strchr(q, '.');
        if (q)
            q++;
    }
    return (int)(part[0] * 65536 + part[1] * 256 + part[2]);
}
