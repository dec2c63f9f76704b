// The game's scripts, stored as zlib streams inside the program; the mod services ask this table first.
#pragma once

#include <string>

struct ModsEmbed {
    const char *fname;
    int size;
    const unsigned char *zdata;
    int zsize;
    ModsEmbed(const char *fname, int size, const unsigned char *zdata, int zsize)
        : fname(fname), size(size), zdata(zdata), zsize(zsize) {}
};

// Filled by the build-time packer (tools/kiv_embed.cpp): the scripts in byte order of their names,
// then a row with a null name.
extern ModsEmbed mods_embed[];

std::string my_mods_embed(std::string fname);
std::string _mods_embed_decode(const unsigned char *zdata, int zsize);
