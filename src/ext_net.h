// Script networking (net_* globals): placeholder until the ENet functions land.
#pragma once

struct lua_State;

void lua_net_init(lua_State *L);
void net_deinit();
