// The engine library's modules include one another in one direction only: a module that must be called back
// takes a function or a value through its public header, so no include circle forms among kivkit/util's files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <dirent.h>
#include <fstream>
#include <map>
#include <regex>
#include <set>
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

TEST(IncludeCycle, KivkitUtilModulesFormNoCircle) {
    std::string dir = std::string(getenv("KIV_SOURCE_DIR") ? getenv("KIV_SOURCE_DIR") : "..") + "/kivkit/util";
    DIR *d = opendir(dir.c_str());
    ASSERT_TRUE(d) << dir;
    std::vector<std::string> names;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.compare(0, 4, "kiv_") == 0)
            names.push_back(name);
    }
    closedir(d);
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

} // namespace
