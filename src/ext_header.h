// The extension registry: starts the extensions, gives them their frame step, routes a named call with its
// JSON argument to them in a fixed order and carries their later answers to the script as events.
#pragma once

#include <string>

#include "game.h"
#include "kiv_json.h"
#include "kiv_printf.h"
#include "kiv_var.h"
#include "mods.h"

// Each *_call answers none for every action it does not know.
void ext_social_init(Game &game);
var ext_social_call(Game &game, std::string action, var value);
var ext_store_call(Game &game, std::string action, var value);
void ext_misc_init(Game &game);
var ext_misc_call(Game &game, std::string action, var value);
void ext_web_init(Game &game);
var ext_web_call(Game &game, std::string action, var value);
void ext_web_loop(Game &game);
// Frees the requests still queued; the shell calls it at shutdown, before the HTTP client stops.
void ext_web_deinit(Game &game);

inline void ext_do_init(Game &game) {
    ext_social_init(game);
    ext_misc_init(game);
    ext_web_init(game);
}

inline void ext_do_loop(Game &game) {
    ext_web_loop(game);
}

// An extension that acts on a call but answers none lets the later ones see it too.
inline var _ext_var_call(Game &game, std::string action, var value) {
    var r = ext_social_call(game, action, value);
    if (r.__type__() != VAR_NONE)
        return r;
    r = ext_store_call(game, action, value);
    if (r.__type__() != VAR_NONE)
        return r;
    r = ext_misc_call(game, action, value);
    if (r.__type__() != VAR_NONE)
        return r;
    r = ext_web_call(game, action, value);
    if (r.__type__() != VAR_NONE)
        return r;
    return var();
}

inline var ext_var_call(Game &game, std::string action, var value) {
    return _ext_var_call(game, action, value);
}

// The argument may be any JSON value, so it is decoded as the first element of a list.
inline std::string ext_do_call(Game &game, std::string action, std::string data) {
    var args = json_decode("[" + data + "]");
    var value = args[0];
    var r = ext_var_call(game, action, value);
    return json_encode(r);
}

inline void ext_do_event(Game &game, var evt) {
    // A web answer's body can be megabytes: the log keeps its start and its size. Its bytes and the script's
    // event name are escaped, so a body holding a line end cannot forge a log line of its own.
    // A text value is read where it is, not copied whole for its first 256 bytes.
    const var &v = evt["value"];
    std::string other;
    const std::string *text = var_text(v);
    if (!text)
        text = &(other = v.__str__());
    size_t size = text->size();
    std::string value = kiv_log_text(text->data(), size > 256 ? 256 : size);
    if (size > 256)
        value += "... (" + std::to_string(size) + " bytes)";
    kiv_printf("ext_do_event: %s, value=%s\n", kiv_log_text(evt["type"].__str__()).c_str(), value.c_str());
    mods_event(game, evt);
}
