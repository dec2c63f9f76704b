// JPEG encoder: every file checked by independent decoders (djpeg, PIL), quantisation tables and quality against
// cjpeg, and the calls that must fail.
#include <gtest/gtest.h>

#include <cerrno>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

#include "jpge.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<unsigned char>;

struct TempDir {
    fs::path path;
    TempDir() {
        std::string tmpl = (fs::temp_directory_path() / "jpge_test_XXXXXX").string();
        path = mkdtemp(tmpl.data());
    }
    ~TempDir() { fs::remove_all(path); }
    std::string operator/(const std::string &name) const { return (path / name).string(); }
};

// Exit status and the merged output of a shell command.
std::pair<int, std::string> run(const std::string &cmd) {
    std::string out;
    FILE *p = popen((cmd + " 2>&1").c_str(), "r");
    char buf[4096];
    for (size_t n; p && (n = fread(buf, 1, sizeof(buf), p)) > 0;)
        out.append(buf, n);
    const int st = p ? pclose(p) : -1;
    return {WIFEXITED(st) ? WEXITSTATUS(st) : -1, out};
}

Bytes read_file(const std::string &name) {
    std::ifstream f(name, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::string &name, const Bytes &data) {
    std::ofstream(name, std::ios::binary).write((const char *)data.data(), data.size());
}

struct Image {
    int w = 0, h = 0, ch = 0;
    Bytes px;
};

Image read_pnm(const std::string &name) {
    Bytes d = read_file(name);
    Image im;
    int maxval = 0, used = 0;
    if (d.size() < 3 || sscanf((const char *)d.data(), "P%d %d %d %d%n", &im.ch, &im.w, &im.h, &maxval, &used) != 4)
        return {};
    im.ch = im.ch == 5 ? 1 : 3;
    im.px.assign(d.begin() + used + 1, d.end());
    return im;
}

void write_pnm(const std::string &name, const Image &im) {
    std::string head = (im.ch == 1 ? "P5 " : "P6 ") + std::to_string(im.w) + " " + std::to_string(im.h) + " 255\n";
    Bytes d(head.begin(), head.end());
    d.insert(d.end(), im.px.begin(), im.px.end());
    write_file(name, d);
}

// Flat tiles, a sky gradient, outlined sprites and one-pixel "text": what a 2D game frame holds.
Image game_like(int w, int h) {
    Image im{w, h, 3, Bytes(w * h * 3)};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            unsigned char *p = &im.px[(y * w + x) * 3];
            int r = 90 + y * 100 / h, g = 140 + y * 80 / h, b = 230;
            if (y > h * 2 / 3)
                r = 40, g = ((x / 16 + y / 16) & 1) ? 120 : 100, b = 30;
            const int sx = x % 96, sy = y % 80;
            if (sx >= 20 && sx < 60 && sy >= 20 && sy < 56)
                r = sx == 20 || sx == 59 || sy == 20 || sy == 55 ? 0 : 230, g = (sx * 5) & 255, b = 40;
            if (y < 24 && x < w / 2 && (y % 8) < 6 && ((x * 7 + y * 3) % 5) < 2)
                r = g = b = 255;
            p[0] = (unsigned char)r, p[1] = (unsigned char)g, p[2] = (unsigned char)b;
        }
    return im;
}

// Pixel checkers of black and white and pure primaries: the largest coefficients 8-bit samples can give.
Image extreme(int w, int h) {
    Image im{w, h, 3, Bytes(w * h * 3)};
    static const unsigned char colours[4][3] = {{255, 0, 0}, {0, 0, 255}, {0, 255, 0}, {255, 255, 255}};
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++)
                im.px[(y * w + x) * 3 + c] = ((x / 8 + y / 8) & 1) ? colours[(x / 16 + y / 8) & 3][c] * ((x + y) & 1)
                                                                   : ((x / 4 + y / 4) & 1) * 255;
    return im;
}

// Smooth shading with grain, like a camera picture.
Image photo_like(int w, int h) {
    Image im{w, h, 3, Bytes(w * h * 3)};
    unsigned seed = 7;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int c = 0; c < 3; c++) {
                seed = seed * 1103515245u + 12345u;
                double v = 128 + 60 * std::sin(x * 0.031 + c) * std::cos(y * 0.027 - c) + 30 * std::sin((x + y) * 0.11);
                v += (int)((seed >> 16) % 17) - 8;
                im.px[(y * w + x) * 3 + c] = (unsigned char)std::min(255.0, std::max(0.0, v));
            }
    return im;
}

// The same pixels with 1 (luma), 3 (RGB) or 4 (RGB and a constant alpha) channels.
Image with_channels(const Image &src, int ch) {
    Image im{src.w, src.h, ch, Bytes(src.w * src.h * ch)};
    for (int i = 0; i < src.w * src.h; i++) {
        const unsigned char *s = &src.px[i * src.ch];
        const int r = s[0], g = s[src.ch > 1], b = s[src.ch > 1 ? 2 : 0];
        if (ch == 1)
            im.px[i] = (unsigned char)((r * 19595 + g * 38470 + b * 7471 + 32768) >> 16);
        for (int c = 0; ch > 1 && c < ch; c++)
            im.px[i * ch + c] = (unsigned char)(c == 0 ? r : c == 1 ? g : c == 2 ? b : 77);
    }
    return im;
}

jpge::params make_params(int quality, int sub, bool two_pass) {
    jpge::params p;
    p.m_quality = quality;
    p.m_subsampling = (jpge::subsampling_t)sub;
    p.m_two_pass_flag = two_pass;
    return p;
}

Bytes encode(const Image &im, const jpge::params &p) {
    Bytes out(65536 + im.px.size() * 2);
    int size = (int)out.size();
    if (!jpge::compress_image_to_jpeg_file_in_memory(out.data(), size, im.w, im.h, im.ch, im.px.data(), p))
        return {};
    out.resize(size);
    return out;
}

double psnr(const Image &a, const Image &b) {
    double se = 0;
    for (size_t i = 0; i < a.px.size(); i++)
        se += (a.px[i] - b.px[i]) * (a.px[i] - b.px[i]);
    return se == 0 ? 99 : 10 * std::log10(255.0 * 255.0 * a.px.size() / se);
}

// The DQT tables of a JPEG file by table id, as stored (zig-zag order).
std::vector<Bytes> dqt_tables(const Bytes &f) {
    std::vector<Bytes> t(4);
    for (size_t i = 2; i + 4 <= f.size() && f[i] == 0xFF && f[i + 1] != 0xDA;) {
        const size_t len = f[i + 2] * 256 + f[i + 3];
        for (size_t j = i + 4; f[i + 1] == 0xDB && j + 65 <= i + 2 + len; j += 65)
            t[f[j] & 3].assign(f.begin() + j + 1, f.begin() + j + 65);
        i += 2 + len;
    }
    return t;
}

const char *const kSampleArg[] = {"-grayscale", "-sample 1x1", "-sample 2x1", "-sample 2x2"};

TEST(JpgeTest, BadCallsFail) {
    TempDir dir;
    const Image img = game_like(40, 24);
    struct Row {
        const char *name;
        int w, h, ch, quality, sub;
    } rows[] = {
        {"width 0", 0, 8, 3, 85, 3},          {"height 0", 8, 0, 3, 85, 3},        {"negative width", -8, 8, 3, 85, 3},
        {"negative height", 8, -1, 3, 85, 3}, {"width 65536", 65536, 8, 3, 85, 3}, {"height 65536", 8, 65536, 1, 85, 0},
        {"2 channels", 8, 8, 2, 85, 3},       {"0 channels", 8, 8, 0, 85, 3},      {"5 channels", 8, 8, 5, 85, 3},
        {"quality 0", 8, 8, 3, 0, 3},         {"quality 101", 8, 8, 3, 101, 3},    {"subsampling 4", 8, 8, 3, 85, 4},
    };
    write_file(dir / "old.jpg", {1, 2, 3});
    for (const Row &r : rows) {
        jpge::memory_stream ms(nullptr, 0);
        jpge::jpeg_encoder enc;
        EXPECT_FALSE(enc.init(&ms, r.w, r.h, r.ch, make_params(r.quality, r.sub, false))) << r.name;
        EXPECT_FALSE(enc.process_scanline(img.px.data())) << r.name << ": rows after a refused init";
        EXPECT_FALSE(jpge::compress_image_to_jpeg_file((dir / "old.jpg").c_str(), r.w, r.h, r.ch, img.px.data(),
                                                       make_params(r.quality, r.sub, true)))
            << r.name;
        EXPECT_EQ(read_file(dir / "old.jpg"), Bytes({1, 2, 3})) << r.name << ": a refused call kept the old file";
    }

    // Row counts: each pass needs exactly the height, in one pass and in either pass of two.
    for (int two_pass = 0; two_pass < 2; two_pass++)
        for (int pass = 0; pass <= two_pass; pass++)
            for (int extra : {-1, 1, -img.h}) {
                Bytes buf(1 << 16);
                jpge::memory_stream ms(buf.data(), buf.size());
                jpge::jpeg_encoder enc;
                ASSERT_TRUE(enc.init(&ms, img.w, img.h, 3, make_params(85, 3, two_pass)));
                bool ok = true;
                for (int p = 0; p < pass; p++) {
                    for (int y = 0; y < img.h; y++)
                        ok = ok && enc.process_scanline(&img.px[y * img.w * 3]);
                    ok = ok && enc.process_scanline(nullptr);
                }
                ASSERT_TRUE(ok);
                for (int y = 0; y < img.h + extra; y++)
                    ok = ok && enc.process_scanline(&img.px[(y % img.h) * img.w * 3]);
                ok = ok && enc.process_scanline(nullptr);
                EXPECT_FALSE(ok) << "pass " << pass + 1 << " of " << two_pass + 1 << " given " << img.h + extra
                                 << " rows of " << img.h;
                EXPECT_FALSE(enc.process_scanline(nullptr)) << "a failed encoder stays failed";
            }

    // Rows that differ between the passes may need a code the first pass never counted: no file then.
    for (int second : {0, 1}) {
        const Image flat{img.w, img.h, 3, Bytes(img.px.size(), 90)}, *rows[2] = {&flat, second ? &img : &flat};
        Bytes buf(1 << 16);
        jpge::memory_stream ms(buf.data(), buf.size());
        jpge::jpeg_encoder enc;
        bool ok = enc.init(&ms, img.w, img.h, 3, make_params(85, 3, true));
        for (int pass = 0; pass < 2; pass++) {
            for (int y = 0; y < img.h; y++)
                ok = ok && enc.process_scanline(&rows[pass]->px[y * img.w * 3]);
            ok = ok && enc.process_scanline(nullptr);
        }
        EXPECT_EQ(ok, !second) << (second ? "a busy second pass after a flat first one" : "two flat passes");
    }

    // Output that does not fit: in the header, or by one byte at the end.
    const jpge::params p = make_params(85, 3, true);
    const Bytes whole = encode(img, p);
    for (int cap : {300, (int)whole.size() - 1, (int)whole.size()}) {
        Bytes buf(cap);
        int size = cap;
        EXPECT_EQ(jpge::compress_image_to_jpeg_file_in_memory(buf.data(), size, img.w, img.h, 3, img.px.data(), p),
                  cap == (int)whole.size())
            << "capacity " << cap << " for " << whole.size() << " bytes";
        EXPECT_EQ(size, cap);
    }
    EXPECT_FALSE(jpge::compress_image_to_jpeg_file((dir / "none/x.jpg").c_str(), img.w, img.h, 3, img.px.data()));
    EXPECT_EQ(errno, ENOENT) << "a failed write says why";
    EXPECT_FALSE(jpge::compress_image_to_jpeg_file((dir / (std::string(256, 'x') + ".jpg")).c_str(), img.w, img.h, 3,
                                                   img.px.data()));
    EXPECT_EQ(errno, ENAMETOOLONG);
    ASSERT_TRUE(jpge::compress_image_to_jpeg_file((dir / "ok.jpg").c_str(), img.w, img.h, 3, img.px.data(), p));
    EXPECT_EQ(read_file(dir / "ok.jpg"), whole);
    // The longest name a folder takes: the temporary file beside it has a short name of its own.
    const std::string longest = std::string(251, 'l') + ".jpg";
    ASSERT_TRUE(jpge::compress_image_to_jpeg_file((dir / longest).c_str(), img.w, img.h, 3, img.px.data(), p));
    EXPECT_EQ(read_file(dir / longest), whole);
    fs::remove(dir / longest);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.path), {}), 2) << "old.jpg and ok.jpg, no temporary file";
    Bytes small(300);
    jpge::memory_stream ms(small.data(), 300);
    jpge::jpeg_encoder enc;
    EXPECT_TRUE(enc.init(&ms, 65535, 1, 1, make_params(85, 0, true))) << "width 65535 is allowed";
}

// Every mode, channel count, pass count and small size decodes with djpeg (no warning) and PIL, one and two
// passes to the same pixels, close to the source.
TEST(JpgeTest, EverySizeAndModeDecodes) {
    TempDir dir;
    struct Case {
        std::string name;
        Image src;
        int sub;
    };
    std::vector<Case> cases;
    for (int sub = 0; sub < 4; sub++) {
        std::vector<std::pair<int, int>> sizes = {{1, 1}, {17, 9}, {16, 16}, {48, 40}};
        for (int w = 1; w <= 33; w++)
            sizes.push_back({w, 1 + (w * 5) % 19});
        for (size_t i = 0; i < sizes.size(); i++) {
            const int ch = "\1\3\4"[(i + sub) % 3];
            Image src = with_channels(photo_like(sizes[i].first, sizes[i].second), ch);
            cases.push_back({"s" + std::to_string(sub) + "_" + std::to_string(src.w) + "x" + std::to_string(src.h) +
                                 "_c" + std::to_string(ch),
                             src, sub});
        }
    }
    std::string list;
    for (const Case &c : cases)
        for (int two = 0; two < 2; two++) {
            Bytes jpg = encode(c.src, make_params(90, c.sub, two));
            ASSERT_FALSE(jpg.empty()) << c.name << " passes " << two + 1;
            write_file(dir / (c.name + "_p" + std::to_string(two) + ".jpg"), jpg);
            list += " " + c.name + "_p" + std::to_string(two);
        }
    auto djpeg = run("cd " + dir.path.string() + " && for f in" + list +
                     "; do djpeg -outfile $f.pnm $f.jpg >$f.err 2>&1 || echo \"$f: exit $?\"; done");
    ASSERT_EQ(djpeg.first, 0) << djpeg.second;
    EXPECT_EQ(djpeg.second, "");
    auto pil = run("cd " + dir.path.string() +
                   " && /usr/bin/python3 -c 'import sys\nfrom PIL import Image\n"
                   "for f in sys.argv[1:]:\n im = Image.open(f + \".jpg\"); im.load()\n"
                   " print(f, im.size[0], im.size[1], im.mode)'" +
                   list);
    ASSERT_EQ(pil.first, 0) << pil.second;
    std::istringstream pil_lines(pil.second);
    for (const Case &c : cases) {
        const std::string base = dir / c.name;
        const Image one = read_pnm(base + "_p0.pnm"), two = read_pnm(base + "_p1.pnm");
        EXPECT_EQ(read_file(base + "_p0.err").size() + read_file(base + "_p1.err").size(), 0u) << c.name << " warns";
        const bool grey = c.sub == 0;
        ASSERT_EQ(one.w * 1000 + one.h, c.src.w * 1000 + c.src.h) << c.name << " size";
        ASSERT_EQ(one.ch, grey ? 1 : 3) << c.name;
        EXPECT_TRUE(one.px == two.px) << c.name << ": one and two passes decode differently";
        const Image want = with_channels(c.src, grey || c.src.ch == 1 ? 1 : 3);
        const Image got = with_channels(one, want.ch);
        EXPECT_GT(psnr(want, got), 30) << c.name << ": far from the source";
        for (int p = 0; p < 2; p++) {
            std::string name, mode;
            int w = 0, h = 0;
            pil_lines >> name >> w >> h >> mode;
            EXPECT_EQ(name + " " + std::to_string(w) + "x" + std::to_string(h) + " " + mode,
                      c.name + "_p" + std::to_string(p) + " " + std::to_string(c.src.w) + "x" +
                          std::to_string(c.src.h) + (grey ? " L" : " RGB"));
        }
    }
}

// The marker segments a decoder reads, byte for byte; two passes change only the Huffman tables and the data.
TEST(JpgeTest, HeaderSegments) {
    const Image img = game_like(300, 70);
    const std::string app0("\xFF\xE0\x00\x10JFIF\x00\x01\x01\x00\x00\x01\x00\x01\x00\x00", 18);
    struct Row {
        int sub;
        std::string sof, sos;
    } rows[] = {
        {0, std::string("\xFF\xC0\x00\x0B\x08\x00\x46\x01\x2C\x01\x01\x11\x00", 13),
         std::string("\xFF\xDA\x00\x08\x01\x01\x00\x00\x3F\x00", 10)},
        {1, std::string("\xFF\xC0\x00\x11\x08\x00\x46\x01\x2C\x03\x01\x11\x00\x02\x11\x01\x03\x11\x01", 19),
         std::string("\xFF\xDA\x00\x0C\x03\x01\x00\x02\x11\x03\x11\x00\x3F\x00", 14)},
        {2, std::string("\xFF\xC0\x00\x11\x08\x00\x46\x01\x2C\x03\x01\x21\x00\x02\x11\x01\x03\x11\x01", 19), ""},
        {3, std::string("\xFF\xC0\x00\x11\x08\x00\x46\x01\x2C\x03\x01\x22\x00\x02\x11\x01\x03\x11\x01", 19), ""},
    };
    for (const Row &r : rows) {
        std::string files[2];
        for (int two = 0; two < 2; two++) {
            const Bytes f = encode(img, make_params(85, r.sub, two));
            // Every segment but DHT, up to the start of the scan.
            for (size_t i = 2; i + 4 <= f.size() && f[i] == 0xFF;) {
                const size_t len = f[i + 2] * 256 + f[i + 3];
                if (f[i + 1] != 0xC4)
                    files[two].append(f.begin() + i, f.begin() + i + 2 + len);
                if (f[i + 1] == 0xDA)
                    break;
                i += 2 + len;
            }
            EXPECT_EQ(std::string(f.begin(), f.begin() + 2) + std::string(f.end() - 2, f.end()), "\xFF\xD8\xFF\xD9");
        }
        EXPECT_EQ(files[0], files[1]) << "mode " << r.sub << ": one and two passes differ outside DHT";
        EXPECT_EQ(files[0].substr(0, app0.size()), app0) << "mode " << r.sub;
        EXPECT_NE(files[0].find(r.sof), std::string::npos) << "mode " << r.sub << " SOF";
        EXPECT_NE(files[0].find(r.sos.empty() ? rows[1].sos : r.sos), std::string::npos) << "mode " << r.sub << " SOS";
    }
}

TEST(JpgeTest, QuantTablesEqualCjpeg) {
    TempDir dir;
    const Image img = game_like(16, 16);
    write_pnm(dir / "in.ppm", img);
    for (int q : {1, 2, 10, 24, 25, 49, 50, 51, 75, 85, 99, 100}) {
        auto c = run("cjpeg -quality " + std::to_string(q) + " -baseline -outfile " + (dir / "c.jpg") + " " +
                     (dir / "in.ppm"));
        ASSERT_EQ(c.first, 0) << c.second;
        const auto want = dqt_tables(read_file(dir / "c.jpg"));
        EXPECT_EQ(dqt_tables(encode(img, make_params(q, 3, false))), want) << "quality " << q;
        jpge::params same = make_params(q, 1, true);
        same.m_no_chroma_discrim_flag = true;
        EXPECT_EQ(dqt_tables(encode(img, same))[1], want[0]) << "quality " << q << ", luminance table for chroma";
    }
}

TEST(JpgeTest, PsnrWithinHalfDbOfCjpeg) {
    TempDir dir;
    struct Row {
        const char *image;
        int quality, sub;
        bool two_pass;
    } rows[] = {
        {"game", 85, 3, true},     {"game", 50, 1, false},    {"game", 95, 2, true},    {"game", 75, 0, true},
        {"photo", 85, 3, true},    {"photo", 30, 1, true},    {"photo", 90, 2, false},  {"photo", 60, 0, false},
        {"extreme", 100, 1, true}, {"extreme", 90, 3, false}, {"extreme", 95, 0, true},
    };
    for (const Row &r : rows) {
        const Image img = r.image[0] == 'g'   ? game_like(320, 240)
                          : r.image[0] == 'p' ? photo_like(320, 240)
                                              : extreme(320, 240);
        const Image ref = with_channels(img, r.sub == 0 ? 1 : 3);
        write_pnm(dir / "in.ppm", img);
        write_file(dir / "k.jpg", encode(img, make_params(r.quality, r.sub, r.two_pass)));
        const std::string args = std::string(kSampleArg[r.sub]) + " -quality " + std::to_string(r.quality) +
                                 (r.two_pass ? " -optimize" : "");
        auto c = run("cd " + dir.path.string() + " && cjpeg " + args +
                     " -outfile c.jpg in.ppm && djpeg -outfile c.pnm c.jpg && djpeg -outfile k.pnm k.jpg");
        ASSERT_EQ(c.first, 0) << c.second;
        const double ours = psnr(ref, read_pnm(dir / "k.pnm")), theirs = psnr(ref, read_pnm(dir / "c.pnm"));
        EXPECT_GT(ours, theirs - 0.5) << r.image << " " << args << ": " << ours << " dB against cjpeg's " << theirs
                                      << " dB, " << fs::file_size(dir / "k.jpg") << " against "
                                      << fs::file_size(dir / "c.jpg") << " bytes";
    }
}

} // namespace
