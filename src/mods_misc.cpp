// Life of the running mod: building it (services, parameters, script host), reloading changed scripts, the
// per-frame step and paint, and the bridge from engine events to the script's event dicts. Called by Game.
#include "mods_misc.h"

#include <SDL.h>

#include "ext_header.h"
#include "game.h"
#include "gprint.h"
#include "kiv_driver.h"
#include "kiv_event.h"
#include "kiv_gfx.h"
#include "mods_api_int.h"

// The script's names of the engine event types; the other types are "?".
struct _ModsEventName {
    int type;
    const char *name;
};
static constexpr _ModsEventName _mods_event_named[] = {
    {EVT_QUIT, "quit"},           {EVT_SUSPEND, "suspend"},
    {EVT_RESUME, "resume"},       {EVT_RESIZE, "resize"},
    {EVT_RESET, "reset"},         {EVT_KEYDOWN, "keydown"},
    {EVT_KEYUP, "keyup"},         {EVT_DOWN, "down"},
    {EVT_MOTION, "motion"},       {EVT_UP, "up"},
    {EVT_MOUSEDOWN, "mousedown"}, {EVT_MOUSEMOTION, "mousemotion"},
    {EVT_MOUSEUP, "mouseup"},     {EVT_WHEEL, "wheel"},
    {EVT_TOUCHDOWN, "touchdown"}, {EVT_TOUCHMOTION, "touchmotion"},
    {EVT_TOUCHUP, "touchup"},     {EVT_JOYMOTION, "joymotion"},
    {EVT_JOYDOWN, "joydown"},     {EVT_JOYUP, "joyup"},
    {EVT_JOYHAT, "joyhat"},       {EVT_FOCUS, "focus"},
    {EVT_BLUR, "blur"},
};

static constexpr bool _mods_event_named_fit() {
    int prev = EVT_NONE;
    for (const _ModsEventName &n : _mods_event_named) {
        if (n.type <= prev || n.type >= EVT_MAX)
            return false;
        prev = n.type;
    }
    return true;
}
static_assert(_mods_event_named_fit(), "event names: one each, in the order of kiv_event.h, for real event codes");

// Indexed by the event code, built from the list above.
struct _ModsEventNames {
    const char *by_type[EVT_MAX];
    constexpr _ModsEventNames() : by_type() {
        for (const char *&s : by_type)
            s = "?";
        for (const _ModsEventName &n : _mods_event_named)
            by_type[n.type] = n.name;
    }
};
static constexpr _ModsEventNames _mods_event_names;

const char *mods_event_name(int type) {
    if (type < 0 || type >= EVT_MAX)
        return "?";
    return _mods_event_names.by_type[type];
}

static void _mods_destroy(Game &game) {
    Mods &m = game.data.mods;
    if (m.mod) {
        delete m.mod;
        m.mod = nullptr;
    }
    if (m.api) {
        delete m.api;
        m.api = nullptr;
    }
}

void mods_restart(Game &game, int chstate) {
    driver_set_altdir(nullptr);
    _mods_destroy(game);
    ModsAPI *api = new ModsAPI(game);
    game.data.mods.api = api;

    for (int i = 0; i < game._argc; i++) {
        const char *a = game._argv[i];
        if (a && a[0] == '-' && i + 1 < game._argc && game._argv[i + 1])
            api->params_set(a + 1, var(game._argv[i + 1]));
    }
    int sw = game_get_sw(), sh = game_get_sh();
    const char *idiom = driver_get_idiom();
    api->params_set("vinfo", var("test-Desktop-Win32-Steamworks"));
    api->params_set("version", var("test"));
    api->params_set("speed", var(1.0));
    api->params_set("ticks", var(1));
    api->params_set("view_x", var(0));
    api->params_set("view_y", var(0));
    api->params_set("view_w", var(sw));
    api->params_set("view_h", var(sh));
    api->params_set("view_scale", var(1.0));
    api->params_set("window_w", var(sw));
    api->params_set("window_h", var(sh));
    api->params_set("idiom", var(idiom ? idiom : ""));
    api->params_set("platform", var("Win32"));

    game.data.mods.mod = mods_lua(*api);
    mods_reload(game);
    game.data.mods.mod->init();
}

void mods_reload(Game &game) {
    ModsAPI *api = game.data.mods.api;
    if (!api)
        return;
    mods_log_clear(game);
    api->console_toggle = 0;
    gprint("mods_reload: %s\n", game.data.mods.fname);
    api->scripts.clear();
    api->require(game.data.mods.fname);
}

// mods_reload_auto at the given wall-clock second: the frame loop passes one clock to every module.
static void _mods_reload_check(Game &game, time_t now) {
    ModsAPI *api = game.data.mods.api;
    if (!api || !driver_file_check_due(&game.data.mods.reload_checked, now))
        return;
    bool changed = false;
    for (const ModScript &s : api->scripts) {
        // An embedded script has no file to watch.
        if (s.mtime && driver_file_settled(s.stamp, driver_file_stamp(s.fname.c_str()), now))
            changed = true;
    }
    if (changed) {
        gprint("reload...\n");
        mods_reload(game);
    }
}

void mods_reload_auto(Game &game) {
    _mods_reload_check(game, time(nullptr));
}

void mods_loop(Game &game, float t, time_t now) {
    _mods_reload_check(game, now);
    ext_do_loop(game);
    if (game.data.mods.mod)
        game.data.mods.mod->loop(t);
}

void mods_paint(Game &game) {
    ModsAPI *api = game.data.mods.api;
    if (!api)
        return;
    api->params_set("window_w", var(game_get_sw()));
    api->params_set("window_h", var(game_get_sh()));
    if (game.data.mods.mod && game.data.mods.mod->is_okay()) {
        api->batch.clear();
        game.data.mods.mod->paint();
    }
    // The frame starts in the script's view, the one its pointer events are mapped into, also after a resize;
    // view commands in the queue move it from there.
    _mods_view_init(game);
    gfx_ortho();
    api->batch.draw();
    gfx_color4ub(255, 255, 255, 255);
}

void mods_event_handle(Game &game, Event e) {
    if (e.type == EVT_NONE)
        return;
    ModsAPI *api = game.data.mods.api;
    if (!api)
        return;
    mods_event_console(game, e);
    _mods_view_init(game);
    gfx_event_correct(&e);
    if (e.type == EVT_LOGIN || e.type == EVT_LOGOUT)
        return;
    if (e.type == EVT_RESIZE) {
        api->params_set("window_w", var(game_get_sw()));
        api->params_set("window_h", var(game_get_sh()));
    }
    char text[2] = {(char)(e.c & 255), 0};
    var d = var_dict();
    d["type"] = var(mods_event_name(e.type));
    d["x"] = var(e.x);
    d["y"] = var(e.y);
    d["w"] = var(e.w);
    d["h"] = var(e.h);
    d["dx"] = var(e.dx);
    d["dy"] = var(e.dy);
    d["text"] = e.c ? var(std::string(text, 1)) : var("");
    d["button"] = var(e.b);
    d["device"] = var(e.device);
    if (e.type == EVT_KEYDOWN || e.type == EVT_KEYUP) {
        d["key"] = var(e._v);
        d["name"] = var(SDL_GetScancodeName(SDL_GetScancodeFromKey((SDL_Keycode)e._v)));
    } else if (e.type >= EVT_JOYMOTION && e.type <= EVT_JOYHAT) {
        // Asked by device index, so no joystick is opened (and left open) per event.
        std::string name = "?";
        for (int i = 0; i < SDL_NumJoysticks(); i++) {
            if (SDL_JoystickGetDeviceInstanceID(i) == e.device) {
                const char *n = SDL_JoystickNameForIndex(i);
                name = n ? n : "";
            }
        }
        d["name"] = var(name);
    }
    mods_event(game, d);
}

void mods_event(Game &game, var e) {
    if (game.data.mods.mod)
        game.data.mods.mod->event(e);
}

void mods_log_clear(Game &game) {
    if (game.data.mods.api)
        game.data.mods.api->log.clear();
}

void mods_console_toggle(Game &game) {
    if (game.data.mods.api)
        game.data.mods.api->console_toggle = game.data.mods.api->console_toggle ? 0 : 1;
}
