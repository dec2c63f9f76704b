// What the mod services' source shares with the rest of the mod runtime and its tests: the view placement the
// draw-command queue and the mod lifecycle call, the name rule of embedded scripts, the texture filters of a mod.
#pragma once

#include <string>

class Game;

// Places the script's view from the running mod's view parameters.
void _mods_view_init(Game &game);
// A script's name as an identifier: up to its first dot and at most 16 bytes, every byte but an ASCII letter or
// digit made '_'; "_" when nothing is left.
std::string _name_clean(std::string s);
// The texture filters the running mod's "filter" parameter asks for, which the driver's texture loader calls.
int _KIV_GL_TEXTURE_MIN_FILTER();
int _KIV_GL_TEXTURE_MAG_FILTER();
