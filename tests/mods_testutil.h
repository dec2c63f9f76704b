// A real script host over a real Lua state, built as the shell builds it: shared by the mod suites and the
// binding benchmark.
#pragma once

#include <lauxlib.h>
#include <lua.h>

#include <cstdio>
#include <functional>
#include <string>

#include "game.h"
#include "mods.h"

namespace modstest {

struct ModsRig {
    Game game;
    ModsAPI *api;
    ModsLua *mod;
    // prepare sets up the game before the services read it (main script name, headless flag).
    explicit ModsRig(const std::function<void(Game &)> &prepare = nullptr) {
        if (prepare)
            prepare(game);
        api = new ModsAPI(game);
        game.data.mods.api = api;
        mod = static_cast<ModsLua *>(mods_lua(*api));
        game.data.mods.mod = mod;
    }
    ~ModsRig() {
        // A restart may have replaced both: free what the game holds now, the host before its services.
        delete game.data.mods.mod;
        game.data.mods.mod = nullptr;
        delete game.data.mods.api;
        game.data.mods.api = nullptr;
    }
    ModsRig(const ModsRig &) = delete;
    ModsRig &operator=(const ModsRig &) = delete;

    // Runs a chunk that returns one value and answers its text ("nil" when it returns none).
    std::string eval(const std::string &code, const char *chunk = "eval") {
        lua_State *L = mod->L;
        int top = lua_gettop(L);
        std::string r;
        if (luaL_loadbuffer(L, code.data(), code.size(), chunk) || lua_pcall(L, 0, 1, 0)) {
            r = std::string("LOAD/RUN FAILED: ") + lua_tostring(L, -1);
        } else {
            size_t n = 0;
            const char *s = luaL_tolstring(L, -1, &n);
            r.assign(s, n);
        }
        lua_settop(L, top);
        return r;
    }
    // Runs body inside pcall and answers "<ok>:<error or result>", so a refused call shows its message.
    std::string pcall_eval(const std::string &body, const char *chunk = "eval") {
        return eval("local ok, e = pcall(function() " + body + " end) return tostring(ok) .. ':' .. tostring(e)",
                    chunk);
    }
    // The log, oldest entry first, one line each.
    std::string log_text() const {
        std::string s;
        for (auto it = api->log.rbegin(); it != api->log.rend(); ++it)
            s += *it + "\n";
        return s;
    }
};

inline void set_main_path(Game &game, const std::string &path) {
    snprintf(game.data.mods.fname, sizeof(game.data.mods.fname), "%s", path.c_str());
}

} // namespace modstest
