// Fuzz target for atlas descriptions: any text gives frames or a refusal without a window, every frame name fits
// the image table's limit, and each frame lands in the image table unchanged.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "kiv_gfx.h"
#include "kiv_gfx_int.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 20)
        return 0;
    std::vector<GfxAtlasFrame> frames;
    bool ok = _gfx_atlas_parse(std::string((const char *)data, size), "fuzz.json", frames);
    KIV_FUZZ_CHECK(ok || frames.empty(), "a refused text gives no frames");
    gfx_deinit();
    gfx_init();
    for (const GfxAtlasFrame &f : frames) {
        KIV_FUZZ_CHECK(f.name.size() <= 255, "frame names are cut to the table's limit");
        int id = gfx_img_add(f.name.c_str(), 1, f.rect, f.shape);
        KIV_FUZZ_CHECK(id > 0, "every frame gets an image");
        const GfxImage &i = _gfx_get_img(id);
        KIV_FUZZ_CHECK(memcmp(&i.rect, &f.rect, sizeof f.rect) == 0 && memcmp(&i.shape, &f.shape, sizeof f.shape) == 0,
                       "the image holds the frame's rectangles");
    }
    return 0;
}
