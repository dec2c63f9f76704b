// Cost of one script binding call: kiv_rect_draw (argument checks, conversions, one queued command) next to an
// empty C function with the same arguments. Both run 1000 calls per iteration from a Lua loop.
#include <benchmark/benchmark.h>

#include <lua.h>
#include <lauxlib.h>

#include "game.h"
#include "mods.h"
#include "../tests/mods_testutil.h"

namespace {

int _empty(lua_State *) {
    return 0;
}

struct Rig : modstest::ModsRig {
    Rig() { lua_register(mod->L, "empty", _empty); }
};

void run_calls(benchmark::State &state, const char *code) {
    Rig r;
    lua_State *L = r.mod->L;
    if (luaL_loadstring(L, code) != 0) {
        state.SkipWithError(lua_tostring(L, -1));
        return;
    }
    int chunk = luaL_ref(L, LUA_REGISTRYINDEX);
    for (auto _ : state) {
        lua_rawgeti(L, LUA_REGISTRYINDEX, chunk);
        if (lua_pcall(L, 0, 0, 0) != 0) {
            state.SkipWithError(lua_tostring(L, -1));
            break;
        }
        r.api->batch.clear();
    }
    state.SetItemsProcessed(state.iterations() * 1000);
}

void BM_EmptyCFunction(benchmark::State &state) {
    run_calls(state, "local f = empty for i = 1, 1000 do f(0xFF0000, 1, 2, 3, 4) end");
}
BENCHMARK(BM_EmptyCFunction);

void BM_RectDraw(benchmark::State &state) {
    run_calls(state, "local f = kiv_rect_draw for i = 1, 1000 do f(0xFF0000, 1, 2, 3, 4) end");
}
BENCHMARK(BM_RectDraw);

} // namespace

BENCHMARK_MAIN();
