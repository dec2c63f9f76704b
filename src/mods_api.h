// Mod services (ModsAPI): the scripts a mod runs, the abstract script host, and the services one running mod may
// use (the console log, the error slot, require, parameters, files, sounds, the draw-command queue, extension calls).
// Defined in mods_api.cpp; used by the bindings, the shell, the console and the extensions.
#pragma once

#include <ctime>
#include <map>
#include <string>
#include <vector>

#include "kiv_driver.h"
#include "kiv_gui.h"
#include "kiv_var.h"
#include "mods_gbatch.h"

class Game;

struct ModScript {
    std::string _fname;             // the name as passed to require
    std::string fname;              // the path it was read from; the base name when embedded
    time_t mtime = 0;               // 0 for an embedded script
    DriverFileStamp stamp = {0, 0}; // what hot reload compares
    std::string name;               // base name with its suffix: the key of the loaded-once rule
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

// --- public functions

std::string get_basename(std::string path);
std::string get_dirname(std::string path);
bool mods_embed_load(ModsAPI *api, ModsBase *mod, std::string fname, std::string name);
CBatch *mods_get_cbatch();
