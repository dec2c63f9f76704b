// kivkit without the shell: this program links every object of the library and nothing else, so it only builds
// while kivkit calls nothing of the shell. Its one seam towards the shell, the texture filters, works both ways.
#include <gtest/gtest.h>

#include "kiv_driver.h"
#include "kiv_driver_int.h"
#include "kiv_gfx.h"
#include "kiv_glext.h"

namespace {

TEST(KivkitAlone, TextureFilterAnswers) {
    using Hook = int (*)();
    const Hook nearest = [] { return (int)GL_NEAREST; };
    const Hook mip_nearest = [] { return (int)GL_NEAREST_MIPMAP_NEAREST; };
    const Hook linear = [] { return (int)GL_LINEAR; };
    struct Row {
        const char *name;
        Hook min, mag;
        int want_min, want_mag;
    } rows[] = {
        {"no answers yet: the shell's answers without a mod", nullptr, nullptr, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR},
        {"nearest answers are used as they are", nearest, nearest, GL_NEAREST, GL_NEAREST},
        {"a mipmapping filter stays: the loader builds the chain", mip_nearest, linear, GL_NEAREST_MIPMAP_NEAREST,
         GL_LINEAR},
        {"handing nothing over brings the defaults back", nullptr, nullptr, GL_LINEAR_MIPMAP_LINEAR, GL_LINEAR},
    };
    for (const Row &r : rows) {
        driver_tex_filters_set(r.min, r.mag);
        EXPECT_EQ(_kiv_gl_texture_min_filter(), r.want_min) << r.name;
        EXPECT_EQ(_kiv_gl_texture_mag_filter(), r.want_mag) << r.name;
    }
}

} // namespace
