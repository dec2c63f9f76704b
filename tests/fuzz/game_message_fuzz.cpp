// Fuzz target for what a game client does with a network message: the embedded game's JSON decoder, its message
// reader (which refuses long texts undecoded) and the snapshot reader run in a real Lua state. Any bytes must give a
// value or a caught error, never an escaping one, and a decoded value must encode to text that decodes and encodes to
// the same text again. A refusal's reason and the log escaping of any text are safe to log. Debian's liblua carries
// no coverage, so a line hook marks each (script, line) the game's Lua runs in libFuzzer's extra counters.
#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "fuzz_check.h"
#include "mods_embed.h"
#include "mods_lua.h"

static const char *_fuzz_step = R"(
local text = ...
local v = json.try_decode(text)
if v == nil then return "none" end
local e1 = json.encode(v)
local e2 = json.encode(json.decode(e1))
if e1 ~= e2 then return "unstable: " .. e1 .. " / " .. e2 end
local function loggable(s) return util.log_text(s) == s:gsub("\\", "\\\\") end
if not loggable(util.log_text(text)) then return "escaped text still needs escaping" end
local m, why = shared.read_message(text)
if m ~= nil and #text > shared.limits.message then return "read a text over the limit" end
if m == nil and not loggable(why) then return "a reason unsafe to log" end
if m ~= nil and m.t == "state" then
    local ok, w = pcall(shared.apply, nil, m)
    if ok and #w.events > shared.limits.events then return "took too many events" end
end
return "ok"
)";

__attribute__((section("__libfuzzer_extra_counters"))) static uint8_t _fuzz_lua_lines[1 << 16];

static void _fuzz_line_hook(lua_State *L, lua_Debug *ar) {
    if (!lua_getinfo(L, "S", ar))
        return;
    uint32_t h = 2166136261u; // FNV-1a over the chunk's name, then the line
    for (const char *c = ar->source; *c; c++)
        h = (h ^ (uint8_t)*c) * 16777619u;
    h = (h ^ (uint32_t)ar->currentline) * 16777619u;
    _fuzz_lua_lines[(h ^ h >> 16) % sizeof(_fuzz_lua_lines)]++;
}

static lua_State *_fuzz_state() {
    static lua_State *L = nullptr;
    if (L)
        return L;
    L = luaL_newstate();
    luaL_openlibs(L);
    lua_register(L, "kiv_log_text", mods_lua_log_text); // the engine's escaping, which util.log_text calls
    for (const char *name : {"util.lua", "json.lua", "data.lua", "shared.lua"}) {
        std::string src = my_mods_embed(name);
        KIV_FUZZ_CHECK(!src.empty(), "the game's script is embedded");
        // Chunks under short names, so the hook hashes a name and not a whole script.
        KIV_FUZZ_CHECK(luaL_loadbuffer(L, src.data(), src.size(), (std::string("@") + name).c_str()) == LUA_OK &&
                           lua_pcall(L, 0, 0, 0) == LUA_OK,
                       "the game's script loads");
    }
    lua_sethook(L, _fuzz_line_hook, LUA_MASKLINE, 0);
    return L;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size > 1 << 16)
        return 0;
    lua_State *L = _fuzz_state();
    KIV_FUZZ_CHECK(luaL_loadbuffer(L, _fuzz_step, strlen(_fuzz_step), "=step") == LUA_OK, "the step compiles");
    lua_pushlstring(L, (const char *)data, size);
    int status = lua_pcall(L, 1, 1, 0);
    const char *r = lua_tostring(L, -1);
    if (status != LUA_OK || !r || std::string(r) != "ok") {
        if (!(status == LUA_OK && r && std::string(r) == "none"))
            fprintf(stderr, "%s\n", r ? r : "?");
        KIV_FUZZ_CHECK(status == LUA_OK && r && std::string(r) == "none", "decoded, or refused without raising");
    }
    lua_settop(L, 0);
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}
