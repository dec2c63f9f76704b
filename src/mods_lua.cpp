// The Lua script host (ModsLua) and the script bindings: the kiv_* globals, require, print and the output hooks
// that turn everything Lua writes into console log lines. Created by mods_restart, driven by the mod lifecycle.
#include "mods_lua.h"

#include <lua.h>
#include <lauxlib.h>
#include <lualib.h>

#include <cmath>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

#include "ext_net.h"
#include "gprint.h"
#include "kiv_printf.h"
#include "kiv_util.h"
#include "mods_luaargs.h"
#include "mods_plugin.h"

static const char *_LUA_PROGNAME = "zorbit";
static const char *_LUA_API_KEY = "jx";
// Deeper event values are passed as their text, so a dict that holds itself cannot recurse forever.
static const int _LUA_EVENT_DEPTH = 16;

static ModsAPI *_lua_modsapi = nullptr;

// --- output hooks

int lua_fwrite(const void *ptr, size_t size, size_t count, FILE *stream) {
    size_t n = size * count;
    if (n < 1 || !ptr)
        return 0;
    if ((stream == stdout || stream == stderr) && _lua_modsapi)
        _lua_modsapi->log_entry(std::string((const char *)ptr, n));
    return (int)n;
}

int lua_fputs(const char *str, FILE *stream) {
    return lua_fwrite(str, 1, strlen(str), stream);
}

int lua_fprintf(FILE *stream, const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string buf = kiv_vformat(fmt, ap);
    va_end(ap);
    return lua_fputs(buf.c_str(), stream);
}

// --- conversions

// A number as the six-decimal "%f" text would carry it.
static double _lua_round6(double d) {
    if (!std::isfinite(d))
        return d;
    char buf[512];
    snprintf(buf, sizeof(buf), "%f", d);
    return strtod(buf, nullptr);
}

static var LUA_TO_VAR(lua_State *L, int index) {
    switch (lua_type(L, index)) {
    case LUA_TNIL:
        return var();
    case LUA_TNUMBER:
        return var((double)lua_tonumber(L, index));
    case LUA_TBOOLEAN:
        return var((bool)lua_toboolean(L, index));
    default:
        return var(my_lua_tostring(L, index));
    }
}

static void LUA_PUSH_VAR(lua_State *L, const var &v) {
    switch (v.__type__()) {
    case VAR_NONE:
        lua_pushnil(L);
        break;
    case VAR_NUMBER:
        lua_pushnumber(L, v.__num__());
        break;
    case VAR_BOOL:
        lua_pushboolean(L, v.__bool__());
        break;
    default: {
        std::string s = v.__str__();
        lua_pushlstring(L, s.data(), s.size());
    }
    }
}

// The event value as a Lua value, built with exact byte lengths; numbers keep their six-decimal rounding.
static void _lua_push_event_value(lua_State *L, const var &v, int depth) {
    lua_checkstack(L, 4);
    switch (v.__type__()) {
    case VAR_NONE:
        lua_pushnil(L);
        return;
    case VAR_BOOL:
        lua_pushboolean(L, v.__bool__());
        return;
    case VAR_NUMBER:
        lua_pushnumber(L, _lua_round6(v.__num__()));
        return;
    case VAR_DICT:
        if (depth < _LUA_EVENT_DEPTH) {
            lua_newtable(L);
            var it(v.__iter__()), k, x;
            while (it.__pair__(k, x)) {
                std::string key = k.__str__();
                lua_pushlstring(L, key.data(), key.size());
                _lua_push_event_value(L, x, depth + 1);
                lua_rawset(L, -3);
            }
            return;
        }
        break;
    case VAR_STRING: {
        // A web answer's body can be 32 MiB: Lua's own copy is the only one.
        const std::string *t = var_text(v);
        lua_pushlstring(L, t->data(), t->size());
        return;
    }
    default:
        break;
    }
    std::string s = v.__str__();
    lua_pushlstring(L, s.data(), s.size());
}

static float _lua_float(lua_State *L, int i) {
    return (float)lua_tonumber(L, i);
}

// lua_tointeger for values in the int range; anything else goes through the checked conversion.
static int _lua_int(lua_State *L, int i) {
    double d = lua_tonumber(L, i);
    if (d >= -2147483648.0 && d <= 2147483647.0)
        return (int)lua_tointeger(L, i);
    return kiv_d2i(d);
}

static int _lua_trunc(lua_State *L, int i) {
    return kiv_d2i(lua_tonumber(L, i));
}

// Colours keep the low 32 bits of the number's integer value, so 0xFFRRGGBB written as ARGB draws RRGGBB.
static int _lua_color(lua_State *L, int i) {
    return (int)kiv_d2color(lua_tonumber(L, i));
}

// --- error functions

static void l_message(const char *pname, const char *msg) {
    if (pname) {
        lua_fprintf(stderr, "%s: ", pname);
        fflush(stderr);
    }
    lua_fprintf(stderr, "%s\n", msg);
    fflush(stderr);
}

// Any step of the collector may run a __gc metamethod, and one that fails raises from that step; outside a
// protected call that would abort the program, so the host collects and converts only inside one.
static int _lua_tostring_p(lua_State *L) {
    lua_tostring(L, 1);
    return 1;
}

static int _lua_collect_p(lua_State *L) {
    lua_gc(L, LUA_GCCOLLECT, 0);
    return 0;
}

static const char *_lua_message(lua_State *L) {
    const char *msg = lua_type(L, -1) == LUA_TSTRING ? lua_tostring(L, -1) : nullptr;
    return msg ? msg : "(error object is not a string)";
}

static void _lua_collect(lua_State *L) {
    lua_pushcfunction(L, _lua_collect_p);
    if (lua_pcall(L, 0, 0, 0) != LUA_OK) {
        l_message(_LUA_PROGNAME, _lua_message(L));
        lua_pop(L, 1);
    }
}

static int report(lua_State *L, int status) {
    if (status != LUA_OK && !lua_isnil(L, -1)) {
        if (lua_type(L, -1) == LUA_TNUMBER) {
            lua_pushcfunction(L, _lua_tostring_p);
            lua_pushvalue(L, -2);
            if (lua_pcall(L, 1, 1, 0) == LUA_OK)
                lua_replace(L, -2);
            else
                lua_pop(L, 1);
        }
        l_message(_LUA_PROGNAME, _lua_message(L));
        lua_pop(L, 1);
        _lua_collect(L);
    }
    return status;
}

static int traceback(lua_State *L) {
    const char *msg = lua_tostring(L, 1);
    if (msg)
        luaL_traceback(L, L, msg, 1);
    else if (!lua_isnoneornil(L, 1)) {
        if (!luaL_callmeta(L, 1, "__tostring"))
            lua_pushliteral(L, "(no error message)");
    }
    return 1;
}

static int docall(lua_State *L, int narg, int nres) {
    int base = lua_gettop(L) - narg;
    lua_pushcfunction(L, traceback);
    lua_insert(L, base);
    int status = lua_pcall(L, narg, nres, base);
    lua_remove(L, base);
    return status;
}

// Runs a text; the stack is left as it was found, whatever the error object was.
static int dostring(lua_State *L, const char *s, const char *name) {
    int top = lua_gettop(L);
    int status = luaL_loadbuffer(L, s, strlen(s), name);
    if (status == LUA_OK)
        status = docall(L, 0, 0);
    status = report(L, status);
    lua_settop(L, top);
    return status;
}

// Runs a short entry text that takes one argument through "...", so the argument needs no Lua source form.
static int _lua_docall_arg(lua_State *L, const char *s, const char *name, int top) {
    int status = luaL_loadbuffer(L, s, strlen(s), name);
    if (status == LUA_OK) {
        lua_insert(L, -2); // chunk below its argument
        status = docall(L, 1, 0);
    }
    status = report(L, status);
    lua_settop(L, top);
    return status;
}

static int _lua_panic(lua_State *L) {
    const char *msg = lua_tostring(L, -1);
    lua_fprintf(stderr, "PANIC: unprotected error in call to Lua API (%s)\n", msg ? msg : "?");
    return 0;
}

// --- bindings

static ModsAPI *_lua_api(lua_State *L) {
    lua_getfield(L, LUA_REGISTRYINDEX, _LUA_API_KEY);
    ModsAPI *api = (ModsAPI *)lua_touserdata(L, -1);
    lua_pop(L, 1);
    return api;
}

// A refusal of the service becomes a Lua error with its bare text.
static void _lua_check_error(lua_State *L, ModsAPI *api) {
    if (!api->api_error())
        return;
    std::string e = api->api_error_get();
    api->api_error_clear();
    lua_pushlstring(L, e.data(), e.size());
    lua_error(L);
}

static int _l_require(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    api->require(name);
    _lua_check_error(L, api);
    return 0;
}

static int _l_params_set(lua_State *L) {
    mods_lua_argc(L, 2, 2);
    ModsAPI *api = _lua_api(L);
    std::string key = my_lua_tostring(L, 1);
    var value = LUA_TO_VAR(L, 2);
    api->params_set(key, value);
    _lua_check_error(L, api);
    return 0;
}

static int _l_params_get(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    ModsAPI *api = _lua_api(L);
    std::string key = my_lua_tostring(L, 1);
    var v = api->params_get(key);
    _lua_check_error(L, api);
    LUA_PUSH_VAR(L, v);
    return 1;
}

static int _l_file_load(lua_State *L) {
    mods_lua_argc(L, 1, 2);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    bool cloud = n >= 2 ? lua_toboolean(L, 2) : false;
    std::string r = api->file_load(name, cloud);
    _lua_check_error(L, api);
    lua_pushlstring(L, r.data(), r.size());
    return 1;
}

static int _l_file_save(lua_State *L) {
    mods_lua_argc(L, 2, 3);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    std::string data = my_lua_tostring(L, 2);
    bool cloud = n >= 3 ? lua_toboolean(L, 3) : false;
    api->file_save(name, data, cloud);
    _lua_check_error(L, api);
    return 0;
}

// The draw calls run thousands of times a frame: they find the services in their first upvalue instead of the
// registry, and kiv_image_draw keeps the last name it was given (the Lua string itself, so it cannot be collected
// and its address reused) next to its interned name, so a repeated name costs one pointer comparison.
static ModsAPI *_lua_draw_api(lua_State *L) {
    return (ModsAPI *)lua_touserdata(L, lua_upvalueindex(1));
}

static int _l_view_set(lua_State *L) {
    mods_lua_argc(L, 4, 4);
    ModsAPI *api = _lua_draw_api(L);
    api->view_set(_lua_float(L, 1), _lua_float(L, 2), _lua_float(L, 3), _lua_float(L, 4));
    _lua_check_error(L, api);
    return 0;
}

static GName _lua_image_name(lua_State *L) {
    size_t len = 0;
    const char *s = mods_lua_text(L, 1, &len);
    if (s == lua_tostring(L, lua_upvalueindex(2)))
        return GName::from_key(lua_touserdata(L, lua_upvalueindex(3)));
    GName name(s, len);
    lua_pushvalue(L, 1);
    lua_replace(L, lua_upvalueindex(2));
    lua_pushlightuserdata(L, const_cast<void *>(name.key()));
    lua_replace(L, lua_upvalueindex(3));
    return name;
}

static int _l_image_draw(lua_State *L) {
    mods_lua_argc(L, 5, 8);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_draw_api(L);
    GName name = _lua_image_name(L);
    float x = _lua_float(L, 2), y = _lua_float(L, 3), w = _lua_float(L, 4), h = _lua_float(L, 5);
    float rotate = n >= 6 ? _lua_float(L, 6) : 0.0f;
    int color = n >= 7 ? _lua_color(L, 7) : 0xFFFFFF;
    int alpha = n >= 8 ? _lua_trunc(L, 8) : 255;
    api->image_draw(name, x, y, w, h, rotate, color, alpha);
    _lua_check_error(L, api);
    return 0;
}

static int _l_rect_draw(lua_State *L) {
    mods_lua_argc(L, 5, 5);
    ModsAPI *api = _lua_draw_api(L);
    api->rect_draw(_lua_color(L, 1), _lua_float(L, 2), _lua_float(L, 3), _lua_float(L, 4), _lua_float(L, 5));
    _lua_check_error(L, api);
    return 0;
}

static int _l_sample_play(lua_State *L) {
    mods_lua_argc(L, 1, 3);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    float vol = n >= 2 ? _lua_float(L, 2) : 1.0f;
    float pan = n >= 3 ? _lua_float(L, 3) : 0.0f;
    api->sample_play(name, vol, pan);
    _lua_check_error(L, api);
    return 0;
}

static int _l_stream_play(lua_State *L) {
    mods_lua_argc(L, 1, 2);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    float vol = n >= 2 ? _lua_float(L, 2) : 1.0f;
    api->stream_play(name, vol);
    _lua_check_error(L, api);
    return 0;
}

static int _l_stream_stop(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    api->stream_stop(name);
    _lua_check_error(L, api);
    return 0;
}

static int _l_font_draw(lua_State *L) {
    mods_lua_argc(L, 5, 7);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_draw_api(L);
    GName name(my_lua_tostring(L, 1));
    int size = _lua_int(L, 2);
    std::string text = my_lua_tostring(L, 3);
    float x = _lua_float(L, 4), y = _lua_float(L, 5);
    int color = n >= 6 ? _lua_color(L, 6) : 0xFFFFFF;
    int alpha = n >= 7 ? _lua_trunc(L, 7) : 255;
    api->font_draw(name, size, std::move(text), x, y, color, alpha);
    _lua_check_error(L, api);
    return 0;
}

static int _l_font_size(lua_State *L) {
    mods_lua_argc(L, 3, 3);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    int size = _lua_int(L, 2);
    std::string text = my_lua_tostring(L, 3);
    float w = 0, h = 0;
    api->font_size(name, size, text, &w, &h);
    _lua_check_error(L, api);
    lua_pushnumber(L, w);
    lua_pushnumber(L, h);
    return 2;
}

static int _l_ext_call(lua_State *L) {
    mods_lua_argc(L, 1, 2);
    int n = lua_gettop(L);
    ModsAPI *api = _lua_api(L);
    std::string name = my_lua_tostring(L, 1);
    std::string args = n >= 2 ? my_lua_tostring(L, 2) : std::string();
    std::string r = api->ext_call(name, args);
    _lua_check_error(L, api);
    lua_pushlstring(L, r.data(), r.size());
    return 1;
}

// Needs no services: hosts of the game's scripts in a Lua state of their own register it too.
int mods_lua_log_text(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    size_t n = 0;
    const char *s = mods_lua_text(L, 1, &n);
    std::string r = kiv_log_text(s, n);
    lua_pushlstring(L, r.data(), r.size());
    return 1;
}

// print as the stock library writes it, but through the output hooks.
static int _l_print(lua_State *L) {
    int n = lua_gettop(L);
    lua_getglobal(L, "tostring");
    for (int i = 1; i <= n; i++) {
        lua_pushvalue(L, -1);
        lua_pushvalue(L, i);
        lua_call(L, 1, 1);
        size_t l = 0;
        const char *s = lua_tolstring(L, -1, &l);
        if (!s)
            return luaL_error(L, "'tostring' must return a string to 'print'");
        if (i > 1)
            lua_fwrite("\t", 1, 1, stdout);
        lua_fwrite(s, 1, l, stdout);
        lua_pop(L, 1);
    }
    lua_fwrite("\n", 1, 1, stdout);
    return 0;
}

static const luaL_Reg _lua_bindings[] = {
    {"require", _l_require},
    {"kiv_params_set", _l_params_set},
    {"kiv_params_get", _l_params_get},
    {"kiv_file_load", _l_file_load},
    {"kiv_file_save", _l_file_save},
    {"kiv_view_set", _l_view_set},
    {"kiv_image_draw", _l_image_draw},
    {"kiv_rect_draw", _l_rect_draw},
    {"kiv_sample_play", _l_sample_play},
    {"kiv_stream_play", _l_stream_play},
    {"kiv_stream_stop", _l_stream_stop},
    {"kiv_font_draw", _l_font_draw},
    {"kiv_font_size", _l_font_size},
    {"kiv_ext_call", _l_ext_call},
    {"kiv_log_text", mods_lua_log_text},
    {"print", _l_print},
    {nullptr, nullptr},
};

// --- net bindings

static int _l_net_host(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    net_host(_lua_int(L, 1));
    return 0;
}

static int _l_net_open(lua_State *L) {
    mods_lua_argc(L, 2, 2);
    std::string host = my_lua_tostring(L, 1);
    net_open(host.c_str(), _lua_int(L, 2));
    return 0;
}

static int _l_net_kick(lua_State *L) {
    mods_lua_argc(L, 1, 1);
    net_kick(_lua_int(L, 1));
    return 0;
}

static int _l_net_close(lua_State *L) {
    mods_lua_argc(L, 0, 0);
    net_close();
    return 0;
}

static int _l_net_send(lua_State *L) {
    mods_lua_argc(L, 2, 4);
    int n = lua_gettop(L);
    NetID cid = _lua_int(L, 1);
    std::string data = my_lua_tostring(L, 2);
    int mode = n >= 3 ? _lua_trunc(L, 3) : 1;
    // The low 8 bits of the whole number, also for values past the int range.
    int channel = n >= 4 ? (int)(kiv_d2color(lua_tonumber(L, 4)) & 0xFF) : 0;
    net_send(cid, data.data(), data.size(), mode, channel);
    return 0;
}

static int _l_net_flush(lua_State *L) {
    mods_lua_argc(L, 0, 0);
    net_flush();
    return 0;
}

static int _l_net_poll(lua_State *L) {
    NetEvent e;
    if (!net_poll(&e))
        return 0;
    lua_createtable(L, 0, 3);
    lua_pushstring(L, e.type.c_str());
    lua_setfield(L, -2, "type");
    lua_pushnumber(L, e.cid);
    lua_setfield(L, -2, "cid");
    lua_pushlstring(L, e.value.data(), e.value.size());
    lua_setfield(L, -2, "value");
    return 1;
}

static const luaL_Reg _lua_net_bindings[] = {
    {"net_host", _l_net_host}, {"net_open", _l_net_open},   {"net_kick", _l_net_kick}, {"net_close", _l_net_close},
    {"net_send", _l_net_send}, {"net_flush", _l_net_flush}, {"net_poll", _l_net_poll}, {nullptr, nullptr},
};

// A new Lua state closes any open host and counts ids from 1 again.
void lua_net_init(lua_State *L) {
    net_reset();
    for (const luaL_Reg *r = _lua_net_bindings; r->name; r++)
        lua_register(L, r->name, r->func);
}

// --- the host

ModsBase *mods_lua(ModsAPI &g) {
    ModsLua *m = new ModsLua(g);
    m->lua_init();
    return m;
}

ModsLua::ModsLua(ModsAPI &g) : g(g) {}

ModsLua::~ModsLua() {
    lua_deinit();
}

void ModsLua::lua_init() {
    _lua_modsapi = const_cast<ModsAPI *>(&g);
    if (L)
        return;
    L = luaL_newstate();
    if (!L) {
        gprint("ModsLua::lua_init: no memory for a Lua state\n");
        status = LUA_ERRMEM;
        return;
    }
    lua_atpanic(L, _lua_panic);
    luaL_openlibs(L);
    lua_pushlightuserdata(L, (void *)&g);
    lua_setfield(L, LUA_REGISTRYINDEX, _LUA_API_KEY);
    for (const luaL_Reg *r = _lua_bindings; r->name; r++) {
        lua_pushlightuserdata(L, (void *)&g);
        lua_pushnil(L);                    // kiv_image_draw: the last name
        lua_pushlightuserdata(L, nullptr); // and its interned name
        lua_pushcclosure(L, r->func, 3);
        lua_setglobal(L, r->name);
    }
    lua_net_init(L);
    lua_mods_plugin_init(L);
    // The set-up leaves the collector part-way through a cycle, at a point that moves with every binding added; a
    // collection here, with nothing of a script to finalize, lets a script's first steps start from rest.
    lua_gc(L, LUA_GCCOLLECT, 0);
}

void ModsLua::lua_deinit() {
    _lua_modsapi = const_cast<ModsAPI *>(&g);
    if (L) {
        lua_close(L);
        L = nullptr;
    }
    // The services may go right after the host; nothing may write into them any more.
    if (_lua_modsapi == &g)
        _lua_modsapi = nullptr;
}

void ModsLua::init() {
    if (status || !L)
        return;
    status = dostring(L, "_init()", "init");
    if (status)
        gprint("Lua error: %d\n", status);
}

void ModsLua::loop(float t) {
    if (status || !L)
        return;
    int top = lua_gettop(L);
    lua_pushnumber(L, _lua_round6((double)t));
    status = _lua_docall_arg(L, "_loop(...)", "loop", top);
    if (status)
        gprint("Lua error: %d\n", status);
}

// Builds the event table inside a protected call (its allocations may run a collection step).
static int _lua_event_build(lua_State *L) {
    const var *e = (const var *)lua_touserdata(L, 1);
    _lua_push_event_value(L, *e, 0);
    return 1;
}

void ModsLua::event(var e) {
    if (status || !L || e.__type__() != VAR_DICT)
        return;
    int top = lua_gettop(L);
    lua_pushcfunction(L, _lua_event_build);
    lua_pushlightuserdata(L, &e);
    status = lua_pcall(L, 1, 1, 0);
    if (status == LUA_OK)
        status = _lua_docall_arg(L, "_event(...);", "event", top);
    else
        status = report(L, status);
    lua_settop(L, top);
    if (status)
        gprint("Lua error: %d\n", status);
}

void ModsLua::paint() {
    if (status || !L)
        return;
    status = dostring(L, "_paint()", "paint");
    if (status) {
        gprint("Lua error: %d\n", status);
        // A frame cut short by the error may hold nothing yet: the picture stays that of the last whole frame.
        const_cast<ModsAPI &>(g).batch.restore_last();
    }
}

void ModsLua::script(const char *s, const char *name) {
    if (!L)
        return;
    status = 0;
    status = dostring(L, s ? s : "", name);
    if (status)
        gprint("Lua error: %d\n", status);
    status = 0;
}

// Looks the function up, pushes its argument and calls it, all inside the protected call: a global table whose
// __index raises (a strict-globals module), or a collection step, must give a reported error, not an abort.
static int _lua_call_named(lua_State *L) {
    const std::string *action = (const std::string *)lua_touserdata(L, 1);
    const std::string *data = (const std::string *)lua_touserdata(L, 2);
    lua_getglobal(L, action->c_str());
    lua_pushlstring(L, data->data(), data->size());
    lua_call(L, 1, 1);
    if (lua_type(L, -1) == LUA_TNUMBER)
        lua_tostring(L, -1); // converted here, where a collection step may raise
    return 1;
}

std::string ModsLua::call(std::string action, std::string data) {
    if (status || !L)
        return "";
    int top = lua_gettop(L);
    lua_pushcfunction(L, _lua_call_named);
    lua_pushlightuserdata(L, &action);
    lua_pushlightuserdata(L, &data);
    status = report(L, lua_pcall(L, 2, 1, 0));
    std::string r;
    if (status == LUA_OK) {
        if (lua_type(L, -1) == LUA_TSTRING) {
            size_t len = 0;
            const char *s = lua_tolstring(L, -1, &len);
            r.assign(s, len);
        }
    } else {
        gprint("Lua error: %d\n", status);
    }
    lua_settop(L, top);
    return r;
}

// The Lua text of a value; dicts deeper than the event depth limit are written as their text, so a dict that
// holds itself cannot recurse forever.
static std::string _var2lua(const var &e, int depth) {
    switch (e.__type__()) {
    case VAR_NONE:
        return "nil";
    case VAR_BOOL:
        return e.__bool__() ? "true" : "false";
    case VAR_NUMBER:
        return e.__str__();
    case VAR_DICT:
        if (depth < _LUA_EVENT_DEPTH) {
            std::string out = "{";
            var it(e.__iter__()), k, v;
            bool first = true;
            while (it.__pair__(k, v)) {
                if (!first)
                    out += ",";
                first = false;
                out += k.__str__() + "=" + _var2lua(v, depth + 1);
            }
            return out + "}";
        }
        break;
    default:
        break;
    }
    std::string s = e.__str__(), out;
    for (size_t i = 0; i < s.size();) {
        if (s.compare(i, 3, "]=]") == 0) {
            out += "?";
            i += 3;
        } else {
            out += s[i++];
        }
    }
    return "[=[" + out + "]=]";
}

std::string ModsLua::var2lua(var e) {
    return _var2lua(e, 0);
}

std::string ModsLua::dict2lua(var e) {
    if (e.__type__() != VAR_DICT)
        return "{}";
    return _var2lua(e, 0);
}
