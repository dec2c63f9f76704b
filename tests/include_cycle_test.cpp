// The engine library's modules include one another in one direction only: a module that must be called back
// takes a function or a value through its public header, so no include circle forms among kivkit/util's files.
// A public header holds only what other modules may call: a leading-underscore name belongs in the _int.h.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::string stem_of(const std::string &file) {
    std::string m = file.substr(0, file.find('.'));
    size_t in = m.rfind("_int");
    return in != std::string::npos && in + 4 == m.size() ? m.substr(0, in) : m;
}

// A module is a header with its source (kiv_web.h, kiv_web.cpp) or its sources (kiv_platform.h,
// kiv_platform-posix.cpp); a file belongs to the longest module its name starts with, so kiv_driver-audio.h and
// kiv_driver_int.h are the driver's and kiv_platform-store is a module of its own.
std::string module_of(const std::string &file, const std::set<std::string> &modules) {
    std::string stem = stem_of(file), best = stem.substr(0, stem.find('-'));
    for (const std::string &m : modules) {
        bool within = stem == m || (stem.compare(0, m.size() + 1, m + "-") == 0);
        if (within && m.size() > best.size())
            best = m;
    }
    return best;
}

typedef std::map<std::string, std::set<std::string>> Graph;

// Depth first from `m`; on a circle `path` ends with the module that closes it.
bool find_cycle(const Graph &g, const std::string &m, std::map<std::string, int> *state,
                std::vector<std::string> *path) {
    (*state)[m] = 1;
    path->push_back(m);
    auto it = g.find(m);
    if (it != g.end()) {
        for (const std::string &n : it->second) {
            if ((*state)[n] == 1) {
                path->push_back(n);
                return true;
            }
            if ((*state)[n] == 0 && find_cycle(g, n, state, path))
                return true;
        }
    }
    (*state)[m] = 2;
    path->pop_back();
    return false;
}

std::string util_dir() {
    return std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/kivkit/util";
}

std::vector<std::string> util_files(const std::string &dir) {
    std::vector<std::string> names;
    if (DIR *d = opendir(dir.c_str())) {
        while (dirent *e = readdir(d)) {
            std::string name = e->d_name;
            if (name.compare(0, 4, "kiv_") == 0)
                names.push_back(name);
        }
        closedir(d);
    }
    return names;
}

// The leading-underscore names a header declares at file scope: functions, variables and types written from the
// first column (members are indented; comments and preprocessor lines are skipped).
std::vector<std::string> underscore_names(std::istream &in) {
    static const std::regex decl("^(?:(?:extern|struct|class|union|enum)\\s+)?(?:[A-Za-z_][\\w:<>,\\s]*[\\s*&])?"
                                 "(_[A-Za-z]\\w*)\\s*(?:\\(|;|\\{|\\[|=|$)");
    std::vector<std::string> out;
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
        if (line.empty() || isspace((unsigned char)line[0]) || line[0] == '#' || line.compare(0, 2, "//") == 0)
            continue;
        if (std::regex_search(line, m, decl))
            out.push_back(m[1]);
    }
    return out;
}

TEST(IncludeCycle, KivkitUtilModulesFormNoCircle) {
    const std::string dir = util_dir();
    std::vector<std::string> names = util_files(dir);
    ASSERT_FALSE(names.empty()) << dir;
    std::set<std::string> headers, sources, modules;
    for (const std::string &n : names)
        (n.size() > 2 && n.compare(n.size() - 2, 2, ".h") == 0 ? headers : sources).insert(stem_of(n));
    for (const std::string &h : headers)
        for (const std::string &c : sources)
            if (c == h || c.compare(0, h.size() + 1, h + "-") == 0)
                modules.insert(h);
    const std::regex include("^\\s*#\\s*include\\s*\"(?:[^\"]*/)?(kiv_[^\"/]+)\"");
    Graph g;
    int files = 0;
    for (const std::string &name : names) {
        files++;
        std::ifstream in(dir + "/" + name);
        std::string line, from = module_of(name, modules);
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_search(line, m, include) && module_of(m[1], modules) != from)
                g[from].insert(module_of(m[1], modules));
        }
    }
    ASSERT_GT(files, 10) << "read too few files in " << dir;
    std::map<std::string, int> state;
    for (const auto &kv : g) {
        std::vector<std::string> path;
        if (state[kv.first] == 0 && find_cycle(g, kv.first, &state, &path)) {
            std::string text;
            size_t from = 0;
            while (path[from] != path.back())
                from++;
            for (size_t i = from; i < path.size(); i++)
                text += (i == from ? "" : " -> ") + path[i];
            ADD_FAILURE() << "expected no include circle, saw: " << text;
            return;
        }
    }
}

// kiv_printf expands to _kiv_iprintf in every caller, so that one name must stay public.
TEST(IncludeCycle, PublicHeadersDeclareNoUnderscoreNames) {
    const std::set<std::string> allowed = {"_kiv_iprintf"};
    const std::string dir = util_dir();
    int headers = 0;
    for (const std::string &name : util_files(dir)) {
        size_t n = name.size();
        if (n < 2 || name.compare(n - 2, 2, ".h") != 0 || stem_of(name) != name.substr(0, n - 2))
            continue;
        headers++;
        std::ifstream in(dir + "/" + name);
        for (const std::string &u : underscore_names(in))
            if (!allowed.count(u))
                ADD_FAILURE() << "expected " << name << " to declare no leading-underscore name, saw " << u;
    }
    ASSERT_GT(headers, 10) << "read too few headers in " << dir;
}

// The check itself, on declarations of each kind and on what it must leave alone.
TEST(IncludeCycle, UnderscoreNamesAreFoundAtFileScopeOnly) {
    struct Row {
        const char *name, *text, *want;
    } rows[] = {
        {"function", "void _gfx_clip(GfxRect *dst);\n", "_gfx_clip"},
        {"reference result", "GfxTexture &_gfx_get_tex(int id);\n", "_gfx_get_tex"},
        {"pointer result", "const char *_font_find(const char *name);\n", "_font_find"},
        {"template result", "std::vector<GfxQuad> _gfx_parts(int n);\n", "_gfx_parts"},
        {"extern state", "extern _MixerData *_mixer;\n", "_mixer"},
        {"state record", "struct _GfxData {\n    int n;\n};\n", "_GfxData"},
        {"member left alone", "struct GBatch {\n    void _gl_draw();\n};\n", ""},
        {"argument left alone", "void batch(GBatch &b, int _len);\n", ""},
        {"public name", "void gfx_clip(float x);\n", ""},
        {"comment left alone", "// _font_get answers null for 0\n", ""},
        {"macro left alone", "#define kiv_printf(...) _kiv_iprintf(__FILE__)\n", ""},
    };
    for (const Row &r : rows) {
        std::istringstream in(r.text);
        std::vector<std::string> got = underscore_names(in);
        std::string seen;
        for (const std::string &g : got)
            seen += (seen.empty() ? "" : " ") + g;
        EXPECT_EQ(seen, r.want) << r.name;
    }
}

} // namespace
