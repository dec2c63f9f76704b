// Asset generator: writes the engine's own data files (glyph pages with their text font files, a sprite sheet with
// its atlas description, plain images) into a data directory, and the embedded game's art, with one picture of each
// level's map from the game's data script. Run at build time: kiv_assets <data dir> <the game's data.lua>.
// Glyph shapes come from stb's easy font, so no outside font file is needed.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

typedef std::vector<std::string> Map;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wunused-function"
#include <stb/stb_easy_font.h>
#pragma GCC diagnostic pop
#include <stb/stb_image_write.h>

struct Image {
    int w = 0, h = 0;
    std::vector<unsigned char> px; // RGBA
    Image(int w_, int h_) : w(w_), h(h_), px((size_t)w_ * h_ * 4, 0) {}
    void fill(int x, int y, int fw, int fh, unsigned rgba) {
        for (int j = y; j < y + fh; j++)
            for (int i = x; i < x + fw; i++) {
                if (i < 0 || j < 0 || i >= w || j >= h)
                    continue;
                unsigned char *p = &px[((size_t)j * w + i) * 4];
                p[0] = (unsigned char)(rgba >> 24);
                p[1] = (unsigned char)(rgba >> 16);
                p[2] = (unsigned char)(rgba >> 8);
                p[3] = (unsigned char)rgba;
            }
    }
};

static std::string g_dir;

static bool write_png(const char *name, const Image &img) {
    std::string path = g_dir + "/" + name;
    if (!stbi_write_png(path.c_str(), img.w, img.h, 4, img.px.data(), img.w * 4)) {
        fprintf(stderr, "kiv_assets: cannot write %s\n", path.c_str());
        return false;
    }
    return true;
}

static bool write_text(const char *name, const std::string &text) {
    std::string path = g_dir + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f) {
        fprintf(stderr, "kiv_assets: cannot write %s\n", path.c_str());
        return false;
    }
    bool ok = fwrite(text.data(), 1, text.size(), f) == text.size();
    return fclose(f) == 0 && ok;
}

struct Glyph {
    int id;
    int x0, y0, x1, y1; // pixel bounds in unit cells, x1/y1 exclusive; empty when x1 <= x0
    int advance;
    std::vector<float> quads; // x0, y0, x1, y1 per quad
};

static Glyph easy_glyph(int c) {
    Glyph g = {c, 1000, 1000, -1000, -1000, 0, {}};
    char text[2] = {(char)c, 0};
    static char buf[64 * 1024];
    int n = stb_easy_font_print(0, 0, text, nullptr, buf, sizeof(buf));
    for (int q = 0; q < n; q++) {
        const float *v = (const float *)(buf + q * 64); // four vertices of 16 bytes: x, y, z, colour
        float qx0 = v[0], qy0 = v[1], qx1 = v[0], qy1 = v[1];
        for (int k = 1; k < 4; k++) {
            const float *p = (const float *)(buf + q * 64 + k * 16);
            qx0 = p[0] < qx0 ? p[0] : qx0;
            qy0 = p[1] < qy0 ? p[1] : qy0;
            qx1 = p[0] > qx1 ? p[0] : qx1;
            qy1 = p[1] > qy1 ? p[1] : qy1;
        }
        g.quads.insert(g.quads.end(), {qx0, qy0, qx1, qy1});
        g.x0 = (int)qx0 < g.x0 ? (int)qx0 : g.x0;
        g.y0 = (int)qy0 < g.y0 ? (int)qy0 : g.y0;
        g.x1 = (int)qx1 > g.x1 ? (int)qx1 : g.x1;
        g.y1 = (int)qy1 > g.y1 ? (int)qy1 : g.y1;
    }
    g.advance = stb_easy_font_width(text);
    if (g.quads.empty())
        g.x0 = g.y0 = g.x1 = g.y1 = 0;
    return g;
}

// A glyph page plus its text font file; the page width is deliberately not a power of two, as drawn fonts often are.
static bool write_font(const char *name, int scale, int page_w) {
    const int line = 12 * scale, pad = 1;
    std::vector<Glyph> glyphs;
    for (int c = 32; c < 127; c++)
        glyphs.push_back(easy_glyph(c));
    int base = 0;
    for (const Glyph &g : glyphs)
        if (g.id >= 'A' && g.id <= 'Z' && g.y1 * scale > base)
            base = g.y1 * scale;
    // Shelf packing, first pass only to find the page height.
    struct Slot {
        int x, y;
    };
    std::vector<Slot> slots;
    int x = pad, y = pad, row_h = 0;
    for (const Glyph &g : glyphs) {
        int gw = (g.x1 - g.x0) * scale, gh = (g.y1 - g.y0) * scale;
        if (x + gw + pad > page_w) {
            x = pad;
            y += row_h + pad;
            row_h = 0;
        }
        slots.push_back({x, y});
        x += gw + pad;
        row_h = gh > row_h ? gh : row_h;
    }
    int page_h = y + row_h + pad;
    Image page(page_w, page_h);
    char head[512];
    snprintf(head, sizeof(head),
             "info face=\"%s\" size=%d bold=0 italic=0 charset=\"\" unicode=0 stretchH=100 smooth=0 aa=1 "
             "padding=0,0,0,0 spacing=%d,%d\n"
             "common lineHeight=%d base=%d scaleW=%d scaleH=%d pages=1 packed=0\n"
             "page id=0 file=\"%s.png\"\n"
             "chars count=%d\n",
             name, line, pad, pad, line, base, page_w, page_h, name, (int)glyphs.size());
    std::string fnt = head;
    for (size_t i = 0; i < glyphs.size(); i++) {
        const Glyph &g = glyphs[i];
        int gw = (g.x1 - g.x0) * scale, gh = (g.y1 - g.y0) * scale;
        for (size_t q = 0; q < g.quads.size(); q += 4) {
            int qx = (int)(g.quads[q] - g.x0) * scale, qy = (int)(g.quads[q + 1] - g.y0) * scale;
            int qw = (int)(g.quads[q + 2] - g.quads[q]) * scale, qh = (int)(g.quads[q + 3] - g.quads[q + 1]) * scale;
            page.fill(slots[i].x + qx, slots[i].y + qy, qw, qh, 0xFFFFFFFFu);
        }
        char row[256];
        snprintf(row, sizeof(row),
                 "char id=%d x=%d y=%d width=%d height=%d xoffset=%d yoffset=%d xadvance=%d page=0 chnl=15\n", g.id,
                 slots[i].x, slots[i].y, gw, gh, g.x0 * scale, g.y0 * scale, g.advance * scale);
        fnt += row;
    }
    return write_png((std::string(name) + ".png").c_str(), page) &&
           write_text((std::string(name) + ".fnt").c_str(), fnt);
}

struct Frame {
    const char *name;
    int x, y, w, h;     // on the sheet
    int ox, oy, sw, sh; // trim offset and untrimmed size
    unsigned rgba;
    bool disc;
};

// The sprite sheet "sprites" with its atlas: plain colour squares and a trimmed disc inside a larger box.
static bool write_sheet() {
    const Frame frames[] = {
        {"red", 0, 0, 16, 16, 0, 0, 16, 16, 0xFF0000FFu, false},
        {"green", 16, 0, 16, 16, 0, 0, 16, 16, 0x00FF00FFu, false},
        {"blue", 32, 0, 16, 16, 0, 0, 16, 16, 0x0000FFFFu, false},
        {"white", 48, 0, 16, 16, 0, 0, 16, 16, 0xFFFFFFFFu, false},
        {"ball", 0, 16, 24, 24, 4, 4, 32, 32, 0xFFCC00FFu, true},
    };
    Image sheet(64, 48);
    std::string json = "{\"frames\": {\n";
    for (size_t i = 0; i < sizeof(frames) / sizeof(frames[0]); i++) {
        const Frame &f = frames[i];
        if (f.disc) {
            for (int j = 0; j < f.h; j++)
                for (int k = 0; k < f.w; k++) {
                    float dx = k + 0.5f - f.w / 2.0f, dy = j + 0.5f - f.h / 2.0f;
                    if (dx * dx + dy * dy <= f.w * f.w / 4.0f)
                        sheet.fill(f.x + k, f.y + j, 1, 1, f.rgba);
                }
        } else {
            sheet.fill(f.x, f.y, f.w, f.h, f.rgba);
        }
        char row[512];
        snprintf(row, sizeof(row),
                 "  \"%s.png\": {\"frame\": {\"x\": %d, \"y\": %d, \"w\": %d, \"h\": %d}, \"rotated\": false, "
                 "\"trimmed\": %s, \"spriteSourceSize\": {\"x\": %d, \"y\": %d, \"w\": %d, \"h\": %d}, "
                 "\"sourceSize\": {\"w\": %d, \"h\": %d}}%s\n",
                 f.name, f.x, f.y, f.w, f.h, f.disc ? "true" : "false", f.ox, f.oy, f.w, f.h, f.sw, f.sh,
                 i + 1 < sizeof(frames) / sizeof(frames[0]) ? "," : "");
        json += row;
    }
    json += "},\n\"meta\": {\"image\": \"sprites.png\", \"size\": {\"w\": 64, \"h\": 48}, \"scale\": \"1\"}}\n";
    return write_png("sprites.png", sheet) && write_text("sprites.json", json);
}

// Copies the 16 by 16 cell at (sx, 0) of a strip into a sheet at (dx + b, b) with a border of b pixels around it
// that repeats the cell's edge pixels, so sampling just past a cell's edge at any scale meets its own colours.
static void put_cell(const Image &strip, int sx, Image &sheet, int dx, int b) {
    const int c = 16;
    for (int j = -b; j < c + b; j++)
        for (int i = -b; i < c + b; i++) {
            int si = i < 0 ? 0 : i >= c ? c - 1 : i, sj = j < 0 ? 0 : j >= c ? c - 1 : j;
            const unsigned char *p = &strip.px[((size_t)sj * strip.w + sx + si) * 4];
            unsigned char *d = &sheet.px[((size_t)(j + b) * sheet.w + dx + b + i) * 4];
            memcpy(d, p, 4);
        }
}

// The game's art, two sheets of 16 by 16 cells, each with a 2-pixel border (a 20-pixel pitch), cut into named
// images by the game's atlas loader. "game_tiles" holds the map tiles (wall, floor, spike on its floor, exit) and
// is fully opaque, so the tiles draw without blending; "game_sheet" holds the sprites with transparent texels
// (gem, enemy, player, spark, heart). Players and sparks are white so a tint colours them.
// The level maps of the game's data script: the quoted rows after each "map = {" up to its closing brace.
static bool read_maps(const char *path, std::vector<Map> &maps) {
    FILE *f = fopen(path, "rb");
    if (!f) {
        fprintf(stderr, "kiv_assets: cannot read %s\n", path);
        return false;
    }
    char buf[1024];
    bool in_map = false;
    while (fgets(buf, sizeof(buf), f)) {
        std::string l = buf;
        size_t a = l.find_first_not_of(" \t");
        if (a == std::string::npos)
            continue;
        l = l.substr(a);
        if (l.compare(0, 7, "map = {") == 0) {
            maps.emplace_back();
            in_map = true;
        } else if (in_map && l[0] == '"') {
            size_t e = l.find('"', 1);
            maps.back().push_back(l.substr(1, e == std::string::npos ? std::string::npos : e - 1));
        } else if (in_map && l[0] == '}') {
            in_map = false;
        }
    }
    fclose(f);
    for (const Map &m : maps)
        for (const std::string &row : m)
            if (row.empty() || row.size() != m[0].size()) {
                fprintf(stderr, "kiv_assets: %s: a level map whose rows differ in length\n", path);
                return false;
            }
    if (maps.empty())
        fprintf(stderr, "kiv_assets: %s: no level maps\n", path);
    return !maps.empty();
}

static bool write_game_sheets(const char *levels) {
    Image s(144, 16);                  // the cells side by side without borders, drawn first
    s.fill(0, 0, 16, 16, 0x5A4A78FFu); // wall: bricks
    for (int row = 0; row < 4; row++) {
        s.fill(0, row * 4 + 3, 16, 1, 0x2E2440FFu);
        s.fill(row % 2 ? 4 : 12, row * 4, 1, 3, 0x2E2440FFu);
    }
    s.fill(16, 0, 16, 16, 0x1C2230FFu); // floor with a faint grid
    s.fill(16, 15, 16, 1, 0x232B3CFFu);
    s.fill(31, 0, 1, 16, 0x232B3CFFu);
    for (int i = 0; i < 6; i++) // gem: a diamond
        s.fill(32 + 7 - i, 2 + i, 2 + 2 * i, 1, 0x40E0D0FFu), s.fill(32 + 7 - i, 13 - i, 2 + 2 * i, 1, 0x20A0B0FFu);
    s.fill(48, 0, 16, 16, 0x30C050FFu); // exit: a door
    s.fill(52, 3, 8, 13, 0x103018FFu);
    for (int i = 0; i < 4; i++) // spikes: four small triangles
        for (int y = 6; y < 16; y++)
            s.fill(64 + i * 4 + 1 - (y - 6) / 5, y, 2 + 2 * ((y - 6) / 5), 1, 0xC8C8D0FFu);
    s.fill(82, 2, 12, 12, 0xE04030FFu); // enemy: a red blob with eyes
    s.fill(80, 5, 16, 8, 0xE04030FFu);
    s.fill(84, 6, 3, 3, 0xFFFFFFFFu);
    s.fill(89, 6, 3, 3, 0xFFFFFFFFu);
    s.fill(98, 1, 12, 14, 0xFFFFFFFFu); // player: a white figure, tinted per player
    s.fill(100, 4, 2, 3, 0x000000FFu);
    s.fill(106, 4, 2, 3, 0x000000FFu);
    for (int j = 0; j < 16; j++) // spark: a soft round dot
        for (int i = 0; i < 16; i++) {
            float dx = i - 7.5f, dy = j - 7.5f, d = (dx * dx + dy * dy) / 64.0f;
            if (d < 1) {
                unsigned a = (unsigned)(255 * (1 - d));
                s.fill(112 + i, j, 1, 1, 0xFFFFFF00u | a);
            }
        }
    for (int j = 0; j < 16; j++) // heart: a pink heart with a light spot, the lives of the score line
        for (int i = 0; i < 16; i++) {
            float x = (i + 0.5f - 8) / 6.5f, y = (8.5f - j - 0.5f) / 6.5f, q = x * x + y * y - 1;
            if (q * q * q - x * x * y * y * y <= 0)
                s.fill(128 + i, j, 1, 1, 0xFF5078FFu);
        }
    s.fill(131, 4, 2, 2, 0xFFC0D0FFu);
    // Spikes lie on the floor: the opaque sheet holds them already drawn over it.
    for (int j = 0; j < 16; j++)
        for (int i = 0; i < 16; i++) {
            unsigned char *p = &s.px[((size_t)j * s.w + 64 + i) * 4];
            if (p[3] == 0)
                memcpy(p, &s.px[((size_t)j * s.w + 16 + i) * 4], 4);
        }
    const int b = 2, pitch = 16 + 2 * b;
    const int tiles[] = {0, 16, 64, 48}, sprites[] = {32, 80, 96, 112, 128};
    Image t(4 * pitch, pitch), sp(5 * pitch, pitch);
    for (int i = 0; i < 4; i++)
        put_cell(s, tiles[i], t, i * pitch, b);
    for (int i = 0; i < 5; i++)
        put_cell(s, sprites[i], sp, i * pitch, b);
    if (!write_png("game_tiles.png", t) || !write_png("game_sheet.png", sp))
        return false;
    // Each level's walls, floors and spikes as one picture, "game_level1" on: the map draws as one opaque quad,
    // which costs the rasteriser far less than a quad per tile. The exit is drawn over its floor by the game.
    std::vector<Map> maps;
    if (!read_maps(levels, maps))
        return false;
    for (size_t n = 0; n < maps.size(); n++) {
        const Map &m = maps[n];
        Image img((int)m[0].size() * 16, (int)m.size() * 16);
        for (size_t y = 0; y < m.size(); y++)
            for (size_t x = 0; x < m[y].size(); x++) {
                char c = m[y][x];
                int sx = c == '#' ? 0 : c == '^' ? 64 : 16;
                for (int j = 0; j < 16; j++)
                    memcpy(&img.px[(((size_t)y * 16 + j) * img.w + x * 16) * 4], &s.px[((size_t)j * s.w + sx) * 4],
                           16 * 4);
            }
        char name[64];
        snprintf(name, sizeof(name), "game_level%d.png", (int)n + 1);
        if (!write_png(name, img))
            return false;
    }
    return true;
}

int main(int argc, char **argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: kiv_assets <data dir> <the game's data.lua>\n");
        return 2;
    }
    g_dir = argv[1];
    bool ok = true;
    // The console draws its backdrop with "black" and its text with "console" at 24 pixels a line.
    Image black(4, 4);
    black.fill(0, 0, 4, 4, 0x000000FFu);
    ok = ok && write_png("black.png", black);
    ok = ok && write_font("console", 2, 200);
    ok = ok && write_font("small", 1, 120);
    ok = ok && write_sheet();
    // Four opaque quadrants (red, green / blue, white) show mirroring and rotation in a picture.
    Image quad(32, 32);
    quad.fill(0, 0, 16, 16, 0xFF0000FFu);
    quad.fill(16, 0, 16, 16, 0x00FF00FFu);
    quad.fill(0, 16, 16, 16, 0x0000FFFFu);
    quad.fill(16, 16, 16, 16, 0xFFFFFFFFu);
    ok = ok && write_png("quad.png", quad);
    // The sprite of the benchmarks: a white square with a soft transparent border.
    Image sprite(32, 32);
    sprite.fill(0, 0, 32, 32, 0xFFFFFF80u);
    sprite.fill(2, 2, 28, 28, 0xFFFFFFFFu);
    ok = ok && write_png("bench_sprite.png", sprite);
    // The 1:1 sprite of the benchmarks and pixel tests: opaque, every texel different from its neighbours.
    Image opaque(8, 8);
    for (int y = 0; y < 8; y++)
        for (int x = 0; x < 8; x++)
            opaque.fill(x, y, 1, 1,
                        ((unsigned)(32 * x + 16) << 24) | ((unsigned)(32 * y + 8) << 16) |
                            ((unsigned)((x ^ y) * 36) << 8) | 0xFFu);
    ok = ok && write_png("bench_opaque.png", opaque);
    // An opaque picture of odd size, padded on upload, for the pixel tests of the batcher.
    Image odd(13, 7);
    for (int y = 0; y < 7; y++)
        for (int x = 0; x < 13; x++)
            odd.fill(x, y, 1, 1, ((unsigned)(19 * x) << 24) | ((unsigned)(255 - 30 * y) << 16) | 0x4000FFu);
    ok = ok && write_png("odd.png", odd);
    ok = ok && write_game_sheets(argv[2]);
    return ok ? 0 : 1;
}
