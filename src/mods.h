// The mod runtime: the script host interface, the services one running mod may use (ModsAPI), the draw-command
// queue, and the free functions of the mod lifecycle. Used by the shell (game.cpp), the console and the extensions.
#pragma once

#include <cstdio>
#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "kiv_var.h"
#include "kiv_gui.h"

class Game;
struct Event;
struct lua_State;

// An image or font name, interned for the life of the program: commands copy and compare one pointer. Equal
// texts give equal names; the empty name is the default.
class GName {
public:
    GName();
    GName(const char *s);
    GName(const std::string &s);
    GName(const char *s, size_t len);
    const std::string &str() const { return *p; }
    const char *c_str() const { return p->c_str(); }
    bool operator==(const GName &o) const { return p == o.p; }
    bool operator!=(const GName &o) const { return p != o.p; }
    // The interned text behind a name, and back: lets a binding cache a name as a plain pointer.
    const void *key() const { return p; }
    static GName from_key(const void *key);

private:
    const std::string *p;
};

// Kinds of queued draw commands (GCommand::type).
enum { GCOMMAND_VIEW = 1, GCOMMAND_IMAGE = 2, GCOMMAND_TEXT = 3, GCOMMAND_RECT = 4 };

// One queued draw command of one of the kinds above.
struct GCommand {
    int type = 0;
    GName name;
    int points = 0;
    std::string text;
    float x = 0, y = 0, w = 0, h = 0;
    float rotate = 0;
    int color = 0;
    int alpha = 0;
};

class CBatch {
public:
    std::vector<GCommand> queue;
    void clear();
    void draw(); // replays the queue; lives in mods_gbatch.cpp
};

struct ModScript {
    std::string _fname; // the name as passed to require
    std::string fname;  // the path it was read from; the base name when embedded
    time_t mtime = 0;   // 0 for an embedded script
    std::string name;   // base name with its suffix: the key of the loaded-once rule
};

// The abstract script host.
class ModsBase {
public:
    virtual void init() {}
    virtual void loop(float t) {}
    virtual void event(var e) {}
    virtual void paint() {}
    virtual void script(const char *s, const char *name) {}
    virtual std::string call(std::string action, std::string data) { return ""; }
    virtual bool is_okay() { return true; }
    virtual ~ModsBase() {}
};

class ModsAPI {
public:
    Container gui;
    Game &game;
    std::vector<std::string> log; // newest first
    Container console_gui;
    std::string console_history;
    int console_toggle = 0;
    // While the console is inside its tree or a typed line runs, the tree must not be replaced under it: a line that
    // resizes the window would free the input the console still holds. Such a rebuild waits until it returns.
    int console_busy = 0;
    bool console_stale = false;
    std::string error;
    int has_error = 0;
    std::vector<ModScript> scripts;
    CBatch batch;
    std::map<std::string, int> streams;
    var params;

    explicit ModsAPI(Game &game);
    ModsAPI(const ModsAPI &) = delete;
    ModsAPI &operator=(const ModsAPI &) = delete;

    int api_error();
    void api_error_set(std::string text);
    std::string api_error_get();
    void api_error_clear();

    void log_entry(std::string text);
    void log_printf(const char *fmt, ...) __attribute__((format(printf, 2, 3)));

    void require(std::string fname);
    void params_set(std::string key, var value);
    var params_get(std::string key);

    std::string file_load(std::string name, bool cloud);
    void file_save(std::string name, std::string data, bool cloud);

    void view_set(float x, float y, float w, float h);
    void image_draw(GName name, float x, float y, float w, float h, float rotate, int color, int alpha);
    void rect_draw(int color, float x, float y, float w, float h);
    void font_draw(GName name, int size, std::string text, float x, float y, int color, int alpha);
    void font_size(std::string name, int size, std::string text, float *w, float *h);

    void sample_play(std::string name, float vol, float pan);
    void stream_play(std::string name, float vol);
    void stream_stop(std::string name);

    std::string ext_call(std::string name, std::string args);
};

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

// Services (mods_api.cpp)
std::string get_basename(std::string path);
std::string get_dirname(std::string path);
std::string _name_clean(std::string s);
bool mods_embed_load(ModsAPI *api, ModsBase *mod, std::string fname, std::string name);
void _mods_view_init(Game &game);
CBatch *mods_get_cbatch();
int _KIV_GL_TEXTURE_MIN_FILTER();
int _KIV_GL_TEXTURE_MAG_FILTER();

// Lifecycle and event bridge (mods_misc.cpp)
void mods_restart(Game &game, int chstate);
void mods_reload(Game &game);
void mods_reload_auto(Game &game);
// mods_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
void _mods_reload_check(Game &game, time_t now);
// The frame's step; `now` is the clock of its reload check.
void mods_loop(Game &game, float t, time_t now = time(nullptr));
void mods_paint(Game &game);
void mods_event_handle(Game &game, Event e);
void mods_event(Game &game, var e);
void mods_log_clear(Game &game);
void mods_console_toggle(Game &game);
const char *mods_event_name(int type); // the script's name of an engine event type, "?" for unnamed ones

// Console (mods_console.cpp)
void modsapi_console_gui_rebuild(ModsAPI *api);
int mods_event_console(Game &game, Event e);
void modsapi_log_paint(ModsAPI *api);
KivGuiFont w_font_console();
