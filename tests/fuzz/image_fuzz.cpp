// Fuzz target for image files: the header check, the decode, and the upload's premultiply, padding and halving.
// Only PNG, JPEG and TGA decode, at the size their header claims, and every later step stays in its buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_check.h"
#include "kiv_driver.h"
#include "kiv_driver_int.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20)
        return 0;
    int iw = 0, ih = 0, w = 0, h = 0;
    int kind = _driver_image_info(data, (int)size, &iw, &ih);
    // Large pictures only take longer: the decoders' paths are the same.
    if (kind != KIV_IMAGE_NONE && (long long)iw * ih > 1 << 20)
        return 0;
    const char *why = nullptr;
    unsigned char *p = _driver_image_decode(data, (int)size, &w, &h, &why);
    KIV_FUZZ_CHECK(p || (why && *why), "a refusal says why");
    if (!p)
        return 0;
    KIV_FUZZ_CHECK(kind != KIV_IMAGE_NONE, "only the three formats decode");
    KIV_FUZZ_CHECK(w == iw && h == ih && w > 0 && h > 0, "decoded at the header's size");
    _driver_tex_premultiply(p, w, h);
    for (long long i = 0; i < (long long)w * h; i++)
        for (int c = 0; c < 3; c++)
            KIV_FUZZ_CHECK(p[4 * i + c] <= p[4 * i + 3], "premultiplied colour within alpha");
    int tw = _driver_tex_size(w), th = _driver_tex_size(h);
    unsigned char *pad = _driver_tex_pad(p, w, h, tw, th);
    KIV_FUZZ_CHECK(pad != nullptr, "padding succeeds");
    KIV_FUZZ_CHECK(memcmp(pad + ((size_t)tw * th - 1) * 4, p + ((size_t)w * h - 1) * 4, 4) == 0,
                   "the padded corner repeats the last pixel");
    free(pad);
    while (w > 1 || h > 1) {
        int pw = w, ph = h;
        _driver_tex_load_downscale(p, &w, &h);
        KIV_FUZZ_CHECK(w >= 1 && h >= 1 && (w < pw || h < ph), "halving shrinks");
    }
    free(p);
    return 0;
}
