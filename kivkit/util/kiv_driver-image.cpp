// Checked image decoding for textures and the window icon: the file's leading bytes choose the decoder, and only
// PNG (libpng), JPEG (libjpeg-turbo) and TGA (stb_image, compiled here with TGA alone) are decoded. Called by the
// texture upload and the window icon through _stbi_load.
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

// Our own copy of the decoder, private to this file: stb's other formats (PNM, PSD, GIF, HDR, ...) are not built
// at all. Its PNG and JPEG readers are not used either: fuzzing made them copy from a null buffer (an empty first
// IDAT chunk) and read wild addresses (damaged Huffman tables).
#define STB_IMAGE_IMPLEMENTATION
#define STB_IMAGE_STATIC
#define STBI_ONLY_TGA
#define STBI_NO_STDIO
#define STBI_NO_LINEAR
#define STBI_NO_HDR
#define STBI_NO_FAILURE_STRINGS
#include <stb/stb_image.h>

#include "kiv_driver.h"
#include "kiv_driver_int.h"

// Largest picture decoded at all (pixels): a header may claim any size, and decoding allocates 4 bytes a pixel.
static const long long _IMAGE_PIXMAX = 1LL << 26;

// Decoder memory for one JPEG (progressive files keep every coefficient) and the scans and warnings a damaged
// file may cost before it is refused: a few hostile bytes must not keep the main thread for seconds.
static const long _IMAGE_JPEG_MEMMAX = 1L << 28;
static const int _IMAGE_JPEG_SCANMAX = 256, _IMAGE_JPEG_WARNMAX = 100;

static char _image_why[JMSG_LENGTH_MAX];

static unsigned _image_be32(const unsigned char *p) {
    return (unsigned)p[0] << 24 | (unsigned)p[1] << 16 | (unsigned)p[2] << 8 | p[3];
}

// TGA has no magic: a header is accepted only when every field holds a value the format defines and the file is
// long enough for the pixels it claims (uncompressed), or for one shortest run packet per 128 pixels (RLE).
static bool _image_tga_info(const unsigned char *d, int len, int *w, int *h) {
    if (len < 18)
        return false;
    int idlen = d[0], maptype = d[1], type = d[2], maplen = d[5] | d[6] << 8, mapbits = d[7], bpp = d[16];
    int base = type & ~8;
    bool mapped = base == 1;
    if (maptype > 1 || (type != 1 && type != 2 && type != 3 && type != 9 && type != 10 && type != 11) ||
        mapped != (maptype == 1))
        return false;
    if (mapped ? (bpp != 8 && bpp != 16) || maplen < 1 ||
                     (mapbits != 8 && mapbits != 15 && mapbits != 16 && mapbits != 24 && mapbits != 32)
        : base == 2 ? bpp != 15 && bpp != 16 && bpp != 24 && bpp != 32
                    : bpp != 8 && bpp != 16)
        return false;
    *w = d[12] | d[13] << 8;
    *h = d[14] | d[15] << 8;
    if (*w < 1 || *h < 1)
        return false;
    long long pixels = (long long)*w * *h, bytes = (bpp + 7) / 8;
    long long need = 18 + idlen + (mapped ? (long long)maplen * ((mapbits + 7) / 8) : 0);
    need += (type & 8) ? (pixels + 127) / 128 * (1 + bytes) : pixels * bytes;
    return len >= need;
}

// --- JPEG through libjpeg-turbo

struct _ImageJpegError {
    jpeg_error_mgr mgr;
    jmp_buf jump;
};

static void _image_jpeg_fail(j_common_ptr c) {
    c->err->format_message(c, _image_why);
    longjmp(((_ImageJpegError *)c->err)->jump, 1);
}

static void _image_jpeg_message(j_common_ptr c, int level) {
    if (level < 0 && ++c->err->num_warnings > _IMAGE_JPEG_WARNMAX) {
        snprintf(_image_why, sizeof(_image_why), "corrupt JPEG file");
        longjmp(((_ImageJpegError *)c->err)->jump, 1);
    }
}

static void _image_jpeg_progress(j_common_ptr c) {
    if (((j_decompress_ptr)c)->input_scan_number > _IMAGE_JPEG_SCANMAX) {
        snprintf(_image_why, sizeof(_image_why), "too many JPEG scans");
        longjmp(((_ImageJpegError *)c->err)->jump, 1);
    }
}

// CMYK rows as libjpeg gives them, to opaque RGB in place. Files with an Adobe marker (nearly all of them) store
// the inks inverted, so the value is already the light left: multiply. Others store the inks themselves.
static void _image_cmyk_to_rgba(unsigned char *p, int w, bool inverted) {
    for (int x = 0; x < w; x++, p += 4) {
        unsigned c = p[0], m = p[1], y = p[2], k = p[3];
        if (!inverted)
            c = 255 - c, m = 255 - m, y = 255 - y, k = 255 - k;
        p[0] = (unsigned char)((c * k + 127) / 255);
        p[1] = (unsigned char)((m * k + 127) / 255);
        p[2] = (unsigned char)((y * k + 127) / 255);
        p[3] = 255;
    }
}

// The header's size, and with `decode` the RGBA pixels (null when the header alone was asked for or on failure).
static unsigned char *_image_jpeg(const unsigned char *data, int len, int *w, int *h, bool decode) {
    jpeg_decompress_struct cinfo;
    _ImageJpegError err;
    jpeg_progress_mgr progress;
    unsigned char *volatile px = nullptr;
    cinfo.err = jpeg_std_error(&err.mgr);
    err.mgr.error_exit = _image_jpeg_fail;
    err.mgr.emit_message = _image_jpeg_message;
    progress.progress_monitor = _image_jpeg_progress;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        free(px);
        return nullptr;
    }
    jpeg_create_decompress(&cinfo);
    cinfo.mem->max_memory_to_use = _IMAGE_JPEG_MEMMAX;
    cinfo.progress = &progress;
    jpeg_mem_src(&cinfo, data, (unsigned long)len);
    jpeg_read_header(&cinfo, TRUE);
    *w = (int)cinfo.image_width;
    *h = (int)cinfo.image_height;
    if (decode) {
        if ((long long)*w * *h > _IMAGE_PIXMAX) {
            snprintf(_image_why, sizeof(_image_why), "image too large");
            longjmp(err.jump, 1);
        }
        // libjpeg converts CMYK to nothing but CMYK: those rows are converted here.
        bool cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
        cinfo.out_color_space = cmyk ? JCS_CMYK : JCS_EXT_RGBA;
        jpeg_start_decompress(&cinfo);
        if (cinfo.output_components != 4 || (int)cinfo.output_width != *w || (int)cinfo.output_height != *h) {
            snprintf(_image_why, sizeof(_image_why), "unsupported JPEG layout");
            longjmp(err.jump, 1);
        }
        px = (unsigned char *)malloc((size_t)*w * *h * 4);
        if (!px) {
            snprintf(_image_why, sizeof(_image_why), "out of memory");
            longjmp(err.jump, 1);
        }
        while (cinfo.output_scanline < cinfo.output_height) {
            JSAMPROW row = px + (size_t)cinfo.output_scanline * *w * 4;
            if (jpeg_read_scanlines(&cinfo, &row, 1) == 1 && cmyk)
                _image_cmyk_to_rgba(row, *w, cinfo.saw_Adobe_marker);
        }
    }
    unsigned char *out = px;
    jpeg_destroy_decompress(&cinfo);
    return out;
}

int _driver_image_info(const unsigned char *data, int len, int *w, int *h) {
    *w = *h = 0;
    if (!data || len <= 0)
        return KIV_IMAGE_NONE;
    if (len >= 24 && memcmp(data, "\x89PNG\r\n\x1a\n", 8) == 0 && memcmp(data + 12, "IHDR", 4) == 0) {
        unsigned pw = _image_be32(data + 16), ph = _image_be32(data + 20);
        if (pw > 0x7fffffff || ph > 0x7fffffff)
            return KIV_IMAGE_NONE;
        *w = (int)pw;
        *h = (int)ph;
        return KIV_IMAGE_PNG;
    }
    // A JPEG whose header does not read is still a JPEG: the size stays 0 and libjpeg's reason is kept.
    if (len >= 3 && data[0] == 0xff && data[1] == 0xd8 && data[2] == 0xff) {
        _image_jpeg(data, len, w, h, false);
        return KIV_IMAGE_JPEG;
    }
    if (_image_tga_info(data, len, w, h))
        return KIV_IMAGE_TGA;
    *w = *h = 0;
    return KIV_IMAGE_NONE;
}

// --- PNG through libpng (stb's reader copies from a null buffer on an empty first IDAT chunk)

struct _ImagePngSource {
    const unsigned char *p;
    size_t n, at;
};

static void _image_png_read(png_structp png, png_bytep out, size_t len) {
    _ImagePngSource *s = (_ImagePngSource *)png_get_io_ptr(png);
    if (len > s->n - s->at)
        png_error(png, "file ends early");
    memcpy(out, s->p + s->at, len);
    s->at += len;
}

static void _image_png_error(png_structp png, png_const_charp msg) {
    snprintf(_image_why, sizeof(_image_why), "%s", msg ? msg : "bad PNG");
    png_longjmp(png, 1);
}

static void _image_png_warning(png_structp, png_const_charp) {}

static unsigned char *_image_png(const unsigned char *data, int len, int *w, int *h) {
    _ImagePngSource src = {data, (size_t)len, 0};
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, _image_png_error, _image_png_warning);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Only plain pointers live across the jump; they are freed on both ways out.
    unsigned char *volatile px = nullptr;
    png_bytep *volatile rows = nullptr;
    if (!info) {
        png_destroy_read_struct(&png, nullptr, nullptr);
        snprintf(_image_why, sizeof(_image_why), "out of memory");
        return nullptr;
    }
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, nullptr);
        free(px);
        free(rows);
        return nullptr;
    }
    png_set_read_fn(png, &src, _image_png_read);
    png_read_info(png, info);
    png_uint_32 iw = png_get_image_width(png, info), ih = png_get_image_height(png, info);
    if ((long long)iw * ih > _IMAGE_PIXMAX)
        png_error(png, "image too large");
    png_set_expand(png);
    png_set_strip_16(png);
    png_set_gray_to_rgb(png);
    png_set_add_alpha(png, 0xff, PNG_FILLER_AFTER);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    if (png_get_rowbytes(png, info) != (size_t)iw * 4)
        png_error(png, "unsupported pixel layout");
    px = (unsigned char *)malloc((size_t)iw * ih * 4);
    rows = (png_bytep *)malloc(sizeof(png_bytep) * ih);
    if (!px || !rows)
        png_error(png, "out of memory");
    for (png_uint_32 y = 0; y < ih; y++)
        rows[y] = px + (size_t)y * iw * 4;
    png_read_image(png, rows);
    png_destroy_read_struct(&png, &info, nullptr);
    free(rows);
    *w = (int)iw;
    *h = (int)ih;
    return px;
}

unsigned char *_driver_image_decode(const unsigned char *data, int len, int *w, int *h, const char **why) {
    int iw = 0, ih = 0;
    unsigned char *px = nullptr;
    *w = *h = 0;
    _image_why[0] = 0;
    int kind = _driver_image_info(data, len, &iw, &ih);
    if (kind == KIV_IMAGE_NONE) {
        snprintf(_image_why, sizeof(_image_why), "not a PNG, JPEG or TGA file");
    } else if (kind == KIV_IMAGE_JPEG && (iw <= 0 || ih <= 0) && _image_why[0]) {
        // libjpeg's own reason for the header stays.
    } else if (iw <= 0 || ih <= 0) {
        snprintf(_image_why, sizeof(_image_why), "image has zero size (%dx%d)", iw, ih);
    } else if ((long long)iw * ih > _IMAGE_PIXMAX) {
        snprintf(_image_why, sizeof(_image_why), "image too large");
    } else if (kind == KIV_IMAGE_PNG) {
        px = _image_png(data, len, w, h);
    } else if (kind == KIV_IMAGE_JPEG) {
        px = _image_jpeg(data, len, w, h, true);
    } else {
        int comp = 0;
        px = stbi_load_from_memory(data, len, w, h, &comp, 4);
        if (!px)
            snprintf(_image_why, sizeof(_image_why), "corrupt TGA file");
    }
    if (!px)
        *w = *h = 0;
    if (why)
        *why = _image_why;
    return px;
}
