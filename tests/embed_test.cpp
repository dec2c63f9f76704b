// Embedded scripts: lookup by exact name, the decoder's output limit, and the strict-globals contract of api.lua.
#include <gtest/gtest.h>

#include <lua.h>
#include <lauxlib.h>
#include <zlib.h>

#include <string>
#include <vector>

#include "game.h"
#include "mods.h"
#include "mods_embed.h"
#include "mods_testutil.h"

namespace {

int embedded_size(const char *name) {
    for (const ModsEmbed *e = mods_embed; e->fname; e++)
        if (std::string(e->fname) == name)
            return e->size;
    return -1;
}

std::string zlib_of(const std::string &s) {
    uLongf n = compressBound(s.size());
    std::vector<unsigned char> z(n);
    EXPECT_EQ(compress2(z.data(), &n, (const Bytef *)s.data(), s.size(), 9), Z_OK);
    return std::string((const char *)z.data(), n);
}

TEST(Embed, LookupByExactName) {
    struct Row {
        const char *name;
        const char *request;
        bool found;
    } rows[] = {
        {"api by full name", "api.lua", true}, {"main by full name", "main.lua", true},  {"capitals", "API.LUA", false},
        {"without suffix", "api", false},      {"with a directory", "x/api.lua", false}, {"empty", "", false},
    };
    for (auto &row : rows) {
        std::string s = my_mods_embed(row.request);
        if (row.found) {
            EXPECT_EQ((int)s.size(), embedded_size(row.request)) << row.name;
            EXPECT_GT(s.size(), 1u) << row.name;
        } else {
            EXPECT_EQ(s, "") << row.name;
        }
    }
    // The table is in byte order of the names and ends with a null row.
    const ModsEmbed *e = mods_embed;
    for (; e->fname && e[1].fname; e++)
        EXPECT_LT(std::string(e->fname), std::string(e[1].fname));
}

TEST(Embed, DecoderLimits) {
    std::string exact(65536, 'a'), over(65537, 'b'), bin("x\0y\0", 4);
    struct Row {
        const char *name;
        std::string z;
        std::string want;
    } rows[] = {
        {"fits exactly", zlib_of(exact), exact},
        {"one byte too many", zlib_of(over), ""},
        {"binary bytes", zlib_of(bin), bin},
        {"damaged stream", std::string("\x78\x9c\xff\xff\xff", 5), ""},
        {"empty stream", "", ""},
    };
    for (auto &row : rows) {
        std::string got = _mods_embed_decode((const unsigned char *)row.z.data(), (int)row.z.size());
        EXPECT_EQ(got.size(), row.want.size()) << row.name;
        EXPECT_TRUE(got == row.want) << row.name;
    }
}

struct Rig : modstest::ModsRig {
    Rig() { api->require("api"); }
};

TEST(Embed, ApiGlue) {
    struct Row {
        const char *name;
        const char *body;
        const char *want;
    } rows[] = {
        {"no strict: any global", "x = 1 return x", "true:1"},
        {"_strict_init removed", "return _strict_init", "true:nil"},
        {"strict refuses numbers", "strict(true) y = 5", "false:eval:1: undeclared global 'y'"},
        {"strict allows functions", "strict(true) function g() end return type(g)", "true:function"},
        {"strict allows declared", "strict(true) global('z') z = 3 return z", "true:3"},
        {"strict off lifts the rule", "strict(true) strict(false) w = 2 return w", "true:2"},
        {"strict with non-true keeps it off", "strict(1) v = 2 return v", "true:2"},
        {"reads unaffected", "strict(true) return undeclared_read", "true:nil"},
        {"params set and get", "return kiv.params('k', 'v')", "true:v"},
        {"params get only", "kiv_params_set('k2', 4) return kiv.params('k2')", "true:4"},
        {"kiv table", "return kiv.ext_call == kiv_ext_call and kiv.rect_draw == kiv_rect_draw", "true:true"},
        {"forwarders call the game", "function loop(t) got = t end _loop(0.5) return got", "true:0.5"},
        {"forwarder without game", "init = nil local _, e = pcall(_init) return e:find(\"call global 'init'\") ~= nil",
         "true:true"},
    };
    for (auto &row : rows) {
        Rig r;
        EXPECT_EQ(r.pcall_eval(row.body, "=eval"), row.want) << row.name;
    }
}

} // namespace
