// The Lua script host (ModsLua), the output hooks that turn everything Lua writes into console log lines, and the
// registration of the script-facing globals. Defined in mods_lua.cpp; created by mods_restart.
#pragma once

#include <cstdio>
#include <string>

#include "mods_api.h"

struct lua_State;

// The one script host implementation: a Lua 5.2 state.
class ModsLua : public ModsBase {
public:
    const ModsAPI &g;
    lua_State *L = nullptr;
    int status = 0; // failure latch: 0 okay, else the Lua status of the first failure

    explicit ModsLua(ModsAPI &g);
    ~ModsLua() override;
    void lua_init();
    void lua_deinit();
    void init() override;
    void loop(float t) override;
    void event(var e) override;
    void paint() override;
    void script(const char *s, const char *name) override;
    std::string call(std::string action, std::string data) override;
    bool is_okay() override { return status == 0; }
    std::string var2lua(var e);
    std::string dict2lua(var e);
};

ModsBase *mods_lua(ModsAPI &g);

// Output hooks: everything Lua prints lands in the current mod's log.
int lua_fwrite(const void *ptr, size_t size, size_t count, FILE *stream);
int lua_fputs(const char *str, FILE *stream);
int lua_fprintf(FILE *stream, const char *fmt, ...) __attribute__((format(printf, 2, 3)));

// kiv_log_text(text): the engine's log escaping of a text (kiv_log_text).
int mods_lua_log_text(lua_State *L);

// Registers the net_* globals on a new Lua state after net_reset.
void lua_net_init(lua_State *L);
