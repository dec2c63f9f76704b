// The argument rules every script binding applies first (mods_lua.cpp, the particle plug-in): the count check and
// the strict text rule, each raising the plain Lua error a script sees.
#pragma once

#include <lua.h>

#include <cstddef>
#include <string>

// Raises "incorrect number of arguments" unless the call has lo to hi arguments.
static inline void mods_lua_argc(lua_State *L, int lo, int hi) {
    int n = lua_gettop(L);
    if (n < lo || n > hi) {
        lua_pushstring(L, "incorrect number of arguments");
        lua_error(L);
    }
}

// The strict text rule: strings and numbers give their bytes, anything else raises "null string".
static inline const char *mods_lua_text(lua_State *L, int index, size_t *len) {
    const char *s = lua_tolstring(L, index, len);
    if (!s) {
        lua_pushstring(L, "null string");
        lua_error(L);
    }
    return s;
}

static inline std::string my_lua_tostring(lua_State *L, int index) {
    size_t len = 0;
    const char *s = mods_lua_text(L, index, &len);
    return std::string(s, len);
}
