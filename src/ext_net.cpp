// Script networking: placeholder; registers no globals yet.
#include "ext_net.h"

void lua_net_init(lua_State *L) {}

void net_deinit() {}
