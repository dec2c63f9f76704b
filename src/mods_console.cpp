// In-game console: the ModsAPI log shown over the game, one line of Lua run through the script host, and the
// function keys F1 (show/hide), F2 (clear), F5 (restart), Up/F3 (last line), Esc. Built with the widget toolkit;
// mods_event_handle hands it every event first and Game::paint runs its painter after the script's frame.
#include "mods_console.h"

#include "game.h"
#include "gprint.h"
#include "kiv_event.h"
#include "kiv_font.h"
#include "kiv_gfx.h"
#include "kiv_gui.h"
#include "kiv_printf.h"
#include "kiv_util.h"

static const int _CONSOLE_LINE = 24;
static const int _CONSOLE_TOP_BAND = 44;
static const unsigned _CONSOLE_MAXLEN = 255;

KivGuiFont w_font_console() {
    return KivGuiFont(font_load("console", _CONSOLE_LINE));
}

void modsapi_console_gui_rebuild(ModsAPI *api) {
    if (!api || api->game._headless)
        return;
    if (api->console_busy) {
        api->console_stale = true;
        return;
    }
    int sw = game_get_sw(), sh = game_get_sh();
    gprint("GAME_SW: %d GAME_SH: %d\n", sw, sh);
    api->console_gui = Container();
    KivGuiFont f = w_font_console();

    Table *table = new Table();
    table->name = "table";
    table->tr();
    Label *prompt = new Label(f, "> ");
    table->td(prompt, 1, 1, -1, -1);
    TextInput *input = new TextInput(f, "", _CONSOLE_MAXLEN);
    input->name = "input";
    Box *box = new Box(input);
    table->td(box, 1, 1, -1, -1);
    prompt->loop();
    input->style.width = (MyRectNumber)sw - prompt->rect.w;
    var change = var_dict();
    change["type"] = var("input");
    input->onchange = change;
    box->style.align = -1;
    table->tr();
    table->td(new Label(f, " "), 1, 1, -1, -1);
    table->resize();
    api->console_gui.add(table, 0, kiv_d2i((double)sh - table->rect.h));
    api->console_gui.loop();
}

static bool _console_is_line(const var &r) {
    return r.__type__() == VAR_DICT && r.has("type") && r.get("type", var()) == "input";
}

static void _console_run_line(Game &game, ModsAPI *api) {
    Widget *input = api->console_gui.find("input");
    if (!input)
        return;
    const char *v = input->get_value_s();
    std::string text = v ? v : "";
    api->log_entry("> " + text);
    if (game.data.mods.mod)
        game.data.mods.mod->script(text.c_str(), "console");
    api->console_history = text;
    input->set_value_s("");
}

int mods_event_console(Game &game, Event e) {
    ModsAPI *api = game.data.mods.api;
    if (!api)
        return 0;
    if (e.type == EVT_RESIZE || e.type == EVT_RESET)
        modsapi_console_gui_rebuild(api);
    if (e.type == EVT_KEYDOWN) {
        if (e.v == KEY_F1) {
            mods_console_toggle(game);
            return 1;
        }
        if (e.v == KEY_F2) {
            mods_log_clear(game);
            return 1;
        }
        if (e.v == KEY_F5) {
            // Callers up the stack still hold this ModsAPI: the restart waits for the next frame.
            game._restart_pending = 1;
            return 1;
        }
    }
    if (!api->console_toggle)
        return 0;
    if (e.type == EVT_UP && e.y < _CONSOLE_TOP_BAND) {
        mods_console_toggle(game);
        return 1;
    }
    if (e.type == EVT_KEYDOWN && e.v == KEY_ESCAPE) {
        mods_console_toggle(game);
        return 1;
    }
    if (e.type == EVT_KEYDOWN && (e.v == KEY_UP || e.v == KEY_F3)) {
        Widget *input = api->console_gui.find("input");
        if (input)
            input->set_value_s(api->console_history.c_str());
        return 1;
    }
    // The window's focus events share their codes with a widget's focus change: handed to the tree, a blur would
    // take the focus from the console's input, and nothing would give it back when the window returns.
    if (e.type == EVT_FOCUS || e.type == EVT_BLUR)
        return 0;
    api->console_busy += 1;
    var r = api->console_gui.event(&e);
    if (_console_is_line(r))
        _console_run_line(game, api);
    api->console_busy -= 1;
    if (!api->console_busy && api->console_stale) {
        api->console_stale = false;
        modsapi_console_gui_rebuild(api);
    }
    return 1;
}

static void _console_fill(int img, int x, int y, int w, int h) {
    guiColor4ub(0, 0, 0, 170);
    gfx_img_blit(img, (float)x, (float)y, (float)w, (float)h);
    guiColor4ub(255, 255, 255, 255);
}

void modsapi_log_paint(ModsAPI *api) {
    const int sw = game_get_sw(), sh = game_get_sh();
    // The script's view is not restored here: the next frame starts from it again (mods_paint).
    gfx_set_shift(0, 0);
    gfx_set_size(sw, sh);
    gfx_set_scale(1.0f);
    gfx_ortho();
    if (!api || !gfx_exists())
        return;
    KivGuiFont f = w_font_console();
    const int lh = kiv_d2i(font_get_height(f.fid, nullptr, 0));
    const int y0 = kiv_d2i((double)sh - lh);
    const int black = gfx_img_load("black");
    if (api->console_toggle) {
        _console_fill(black, 0, 0, sw, sh);
        api->console_gui.loop();
        api->console_gui.resize();
        api->console_gui.paint();
    }
    if (!api->log.empty() || api->console_toggle) {
        _console_fill(black, 0, y0, sw, lh);
        std::string head = kiv_format(">> Console(%d): F1 = toggle; F2 = clear; F5 = restart; Mods auto-reload.",
                                      (int)api->log.size());
        font_draw(f.fid, head.c_str(), 0, (float)y0, 0, -1);
    }
    if (!api->console_toggle)
        return;
    Widget *table = api->console_gui.find("table");
    int y = table ? kiv_d2i(table->get_abs_rect(false).y) : y0;
    for (const std::string &line : api->log) {
        y = kiv_d2i((double)y - font_get_height(f.fid, line.c_str(), (float)sw));
        font_draw(f.fid, line.c_str(), 0, (float)y, (float)sw, -1);
        if (y < -lh)
            break;
    }
}
