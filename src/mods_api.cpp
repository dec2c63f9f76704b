// Mod services (ModsAPI): the console log, the error slot, script lookup (require), the parameter dict, script file
// access, sound calls, the draw-command queue and the extension call. Used by the bindings, the shell and the console.
#include "mods_api.h"
#include "mods_api_int.h"

#include <climits>
#include <cstdarg>
#include <cstring>

#include "ext_header.h"
#include "game.h"
#include "gprint.h"
#include "kiv_driver.h"
#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_md5.h"
#include "kiv_mixer.h"
#include "kiv_printf.h"
#include "kiv_util.h"
#include "mods_embed.h"

static const size_t _MODS_LOG_MAX = 255;
static const size_t _MODS_PATH_MAX = 512; // paths the file layer takes must fit its fixed buffers
static const int _GL_NEAREST = 0x2600;
static const int _GL_LINEAR = 0x2601;
static const int _GL_LINEAR_MIPMAP_LINEAR = 0x2703;

static bool _is_blank(const std::string &s) {
    for (char c : s)
        if (c != ' ')
            return false;
    return true;
}

static std::string _replace_all(std::string s, const std::string &k, const std::string &v) {
    size_t p = 0;
    while ((p = s.find(k, p)) != std::string::npos) {
        s.replace(p, k.size(), v);
        p += v.size();
    }
    return s;
}

// "altdir" counts only when it names something; an empty one would send lookups to the file-system root.
static std::string _mods_altdir(const var &params) {
    if (!params.has("altdir"))
        return "";
    var a = params.get("altdir", var());
    if (a.__type__() == VAR_NONE)
        return "";
    return a.__str__();
}

// The main script's directory. A main path given without one lies in the working directory; only a main script
// that really sits at the root has the root as its directory.
static std::string _mods_main_dir(const char *main) {
    std::string m = _replace_all(main ? main : "", "\\", "/");
    std::string d = get_dirname(m);
    if (!d.empty() || m.empty())
        return d;
    return m[0] == '/' ? "/" : ".";
}

// --- ModsAPI

ModsAPI::ModsAPI(Game &game) : game(game), params(var_dict()) {
    // The texture loader asks these from now on; they read the "filter" of whichever mod runs.
    driver_tex_filters_set(_KIV_GL_TEXTURE_MIN_FILTER, _KIV_GL_TEXTURE_MAG_FILTER);
    modsapi_console_gui_rebuild(this);
}

int ModsAPI::api_error() {
    return has_error;
}

void ModsAPI::api_error_set(std::string text) {
    has_error = 1;
    error = text;
}

std::string ModsAPI::api_error_get() {
    return error;
}

void ModsAPI::api_error_clear() {
    error = "";
    has_error = 0;
}

void ModsAPI::log_entry(std::string text) {
    text = _replace_all(text, "\t", "    ");
    for (char &c : text)
        if (c == '\r')
            c = '\n';
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string piece = text.substr(start, end - start);
        start = end + 1;
        if (_is_blank(piece))
            continue;
        log.insert(log.begin(), piece);
        _kiv_iprintf(nullptr, 0, nullptr, 0, "$ %s\n", piece.c_str());
        if (log.size() > _MODS_LOG_MAX)
            log.resize(_MODS_LOG_MAX);
    }
    if (log.size() == 1)
        console_toggle = 1;
}

void ModsAPI::log_printf(const char *fmt, ...) {
    va_list ap;
    va_start(ap, fmt);
    std::string buf = kiv_vformat(fmt, ap);
    va_end(ap);
    log_entry(buf);
}

void ModsAPI::require(std::string fname) {
    std::string name = get_basename(fname);
    if (name.find('.') == std::string::npos)
        name += ".lua";
    for (const ModScript &s : scripts)
        if (s.name == name)
            return;
    // A main script named by -mod is the author's file, even when an embedded script has its base name.
    bool main_file = game._mod_arg && fname == game.data.mods.fname;
    if (!main_file && mods_embed_load(this, game.data.mods.mod, fname, name))
        return;

    std::string dir = _mods_altdir(params);
    if (dir.empty())
        dir = _mods_main_dir(game.data.mods.fname);
    driver_set_altdir(dir.empty() ? nullptr : dir.c_str());

    std::string path;
    if (main_file && driver_file_exists(fname.c_str()))
        path = fname;
    if (path.empty() && !dir.empty()) {
        path = (dir == "/" ? dir : dir + "/") + name;
        if (path.size() >= _MODS_PATH_MAX) {
            log_printf("ModsAPI::require(\"%s\") path too long\n", fname.c_str());
            path = "";
        } else if (!driver_file_exists(path.c_str())) {
            path = "";
        }
    }
    if (path.empty()) {
        const char *p = driver_data_fname(name.c_str());
        if (p && *p && driver_file_exists(p))
            path = p;
    }
    if (path.empty()) {
        log_printf("ModsAPI::require(\"%s\") file missing\n", fname.c_str());
        api_error_set("file missing");
        return;
    }

    ModScript s;
    s._fname = fname;
    s.fname = path;
    s.stamp = driver_file_stamp(path.c_str());
    s.mtime = driver_file_stamp_time(s.stamp);
    s.name = name;
    scripts.push_back(s);
    gprint("ModsAPI::require: %s\n", path.c_str());
    std::string source = driver_file_load(path.c_str());

    var filter = params_get("require_filter_callback");
    ModsBase *mod = game.data.mods.mod;
    if (filter.__type__() == VAR_STRING && filter.__len__() > 0 && mod)
        source = mod->call(filter.__str__(), source);
    if (mod)
        mod->script(source.c_str(), name.c_str());
}

void ModsAPI::params_set(std::string key, var value) {
    params[key] = value;
    std::string t = value.__str__();
    if (key == "altdir")
        driver_set_altdir(value.__type__() == VAR_NONE || t.empty() ? nullptr : t.c_str());
    else if (key == "appid")
        driver_set_gamename(t.c_str());
    else if (key == "caption")
        driver_set_caption(t.c_str());
    else if (key == "icon")
        driver_set_icon(driver_data_fname(t.c_str()));
    else if (key == "suspendable")
        game.suspendable = value.__bool__() ? 1 : 0;
}

var ModsAPI::params_get(std::string key) {
    return params[key];
}

std::string ModsAPI::file_load(std::string name, bool cloud) {
    if (cloud)
        return driver_cloud_load(name.c_str());
    if (driver_doc_exists(name.c_str()))
        return driver_doc_load(name.c_str());
    if (driver_data_exists(name.c_str()))
        return driver_data_load(name.c_str());
    return "";
}

void ModsAPI::file_save(std::string name, std::string data, bool cloud) {
    if (data.size() > (size_t)INT_MAX) {
        log_printf("ModsAPI::file_save(\"%s\"): %zu bytes is more than a file may hold\n", name.c_str(), data.size());
        return;
    }
    if (cloud)
        driver_cloud_save(name.c_str(), data.data(), (int)data.size());
    else
        driver_doc_save(name.c_str(), data.data(), (int)data.size());
}

// Commands are built in place at the end of the queue: no copy of the record per call.
void ModsAPI::view_set(float x, float y, float w, float h) {
    GCommand &c = batch.queue.emplace_back();
    c.type = GCOMMAND_VIEW;
    c.x = x, c.y = y, c.w = w, c.h = h;
}

void ModsAPI::image_draw(GName name, float x, float y, float w, float h, float rotate, int color, int alpha) {
    GCommand &c = batch.queue.emplace_back();
    c.type = GCOMMAND_IMAGE;
    c.name = name;
    c.x = x, c.y = y, c.w = w, c.h = h;
    c.rotate = rotate;
    c.color = color;
    c.alpha = alpha;
}

void ModsAPI::rect_draw(int color, float x, float y, float w, float h) {
    GCommand &c = batch.queue.emplace_back();
    c.type = GCOMMAND_RECT;
    c.color = color;
    c.x = x, c.y = y, c.w = w, c.h = h;
}

void ModsAPI::font_draw(GName name, int size, std::string text, float x, float y, int color, int alpha) {
    GCommand &c = batch.queue.emplace_back();
    c.type = GCOMMAND_TEXT;
    c.name = name;
    c.points = size;
    c.text = std::move(text);
    c.x = x, c.y = y;
    c.color = color;
    c.alpha = alpha;
}

void ModsAPI::font_size(std::string name, int size, std::string text, float *w, float *h) {
    *w = 0;
    *h = 0;
    if (game._headless)
        return;
    int id = font_load(name.c_str(), size);
    *w = font_get_width(id, text.c_str());
    *h = font_get_height(id, text.c_str(), 0);
}

void ModsAPI::sample_play(std::string name, float vol, float pan) {
    if (game._headless)
        return;
    mixer_sample_play(mixer_sample_load(name.c_str()), vol, pan);
}

void ModsAPI::stream_play(std::string name, float vol) {
    if (game._headless)
        return;
    int id = mixer_stream_load(name.c_str());
    auto it = streams.find(name);
    if (it == streams.end() || it->second < 1) {
        mixer_stream_play(id, vol);
        streams[name] = 1;
    }
    mixer_stream_volume(id, vol);
}

void ModsAPI::stream_stop(std::string name) {
    if (game._headless)
        return;
    mixer_stream_stop(mixer_stream_load(name.c_str()));
    streams[name] = 0;
}

std::string ModsAPI::ext_call(std::string name, std::string args) {
    if (name == "open_url") {
        driver_video_minimize();
        driver_open_url(args.c_str());
        return "";
    }
    if (name == "exit") {
        game.quit = 1;
        return "";
    }
    if (name == "md5_digest")
        return md5_digest(args);
    return ext_do_call(game, name, args);
}

// --- free functions

std::string get_basename(std::string path) {
    path = _replace_all(path, "..", "_");
    path = _replace_all(path, "\\", "/");
    size_t p = path.rfind('/');
    return p == std::string::npos ? path : path.substr(p + 1);
}

std::string get_dirname(std::string path) {
    path = _replace_all(path, "\\", "/");
    size_t p = path.rfind('/');
    return p == std::string::npos ? "" : path.substr(0, p);
}

std::string _name_clean(std::string s) {
    std::string r;
    for (char c : s) {
        if (c == '.' || r.size() >= 16)
            break;
        bool ok = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
        r += ok ? c : '_';
    }
    return r.empty() ? "_" : r;
}

bool mods_embed_load(ModsAPI *api, ModsBase *mod, std::string fname, std::string name) {
    std::string source = my_mods_embed(name);
    if (source.size() < 2)
        return false;
    ModScript s;
    s._fname = fname;
    s.fname = name;
    s.mtime = 0;
    s.name = name;
    api->scripts.push_back(s);
    if (mod)
        mod->script(source.c_str(), name.c_str());
    return true;
}

void _mods_view_init(Game &game) {
    ModsAPI *api = game.data.mods.api;
    if (!api)
        return;
    var &p = api->params;
    double vw = p["view_w"], vh = p["view_h"];
    // An empty view has no scale; the last good one stays.
    if (vw > 0 && vh > 0)
        p["view_scale"] = var(mymin((float)(game_get_sw() / vw), (float)(game_get_sh() / vh)));
    gfx_set_size(kiv_d2i(vw), kiv_d2i(vh));
    gfx_set_shift(kiv_d2i(-(double)p["view_x"]), kiv_d2i(-(double)p["view_y"]));
    gfx_set_scale((float)p["view_scale"]);
}

CBatch *mods_get_cbatch() {
    Game *g = game_self();
    if (!g || !g->data.mods.api)
        return nullptr;
    return &g->data.mods.api->batch;
}

int _KIV_GL_TEXTURE_MIN_FILTER() {
    Game *g = game_self();
    if (!g || !g->data.mods.api)
        return _GL_LINEAR_MIPMAP_LINEAR;
    return g->data.mods.api->params["filter"].__str__() == "nearest" ? _GL_NEAREST : _GL_LINEAR_MIPMAP_LINEAR;
}

int _KIV_GL_TEXTURE_MAG_FILTER() {
    Game *g = game_self();
    if (!g || !g->data.mods.api)
        return _GL_LINEAR;
    return g->data.mods.api->params["filter"].__str__() == "nearest" ? _GL_NEAREST : _GL_LINEAR;
}
