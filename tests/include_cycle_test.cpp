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

// kiv_driver-sdl2_video.cpp and kiv_driver_int.h belong to the module "driver": the name up to the first '-',
// '_int' or '.'.
std::string module_of(const std::string &file) {
    std::string m = file.substr(0, file.find_first_of("-."));
    size_t in = m.rfind("_int");
    return in != std::string::npos && in + 4 == m.size() ? m.substr(0, in) : m;
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
    const std::regex include("^\\s*#\\s*include\\s*\"(?:[^\"]*/)?(kiv_[^\"/]+)\"");
    Graph g;
    int files = 0;
    while (dirent *e = readdir(d)) {
        std::string name = e->d_name;
        if (name.compare(0, 4, "kiv_") != 0)
            continue;
        files++;
        std::ifstream in(dir + "/" + name);
        std::string line;
        std::smatch m;
        while (std::getline(in, line)) {
            if (std::regex_search(line, m, include) && module_of(m[1]) != module_of(name))
                g[module_of(name)].insert(module_of(m[1]));
        }
    }
    closedir(d);
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
