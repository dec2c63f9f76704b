// Lookup and decoding of the embedded scripts; the table itself is generated at build time by tools/kiv_embed.
#include "mods_embed.h"

#include <cstring>

#include <zlib.h>

static const int _MODS_EMBED_MAX = 65536;
static char _mods_embed_zlib_data[_MODS_EMBED_MAX];

std::string my_mods_embed(std::string fname) {
    for (const ModsEmbed *e = mods_embed; e->fname; e++)
        if (fname == e->fname)
            return _mods_embed_decode(e->zdata, e->zsize);
    return "";
}

std::string _mods_embed_decode(const unsigned char *zdata, int zsize) {
    if (!zdata || zsize <= 0)
        return "";
    memset(_mods_embed_zlib_data, 0, sizeof(_mods_embed_zlib_data));
    uLongf n = _MODS_EMBED_MAX;
    if (uncompress((Bytef *)_mods_embed_zlib_data, &n, zdata, (uLong)zsize) != Z_OK || n == 0)
        return "";
    return std::string(_mods_embed_zlib_data, n);
}
