-- A hostile peer of the embedded game, speaking its messages over the engine's own ENet functions.
-- "-role client -attack A": joins 127.0.0.1:PORT and then, by A, sends nothing at all ("silent"), a few
-- 10,000-byte messages ("big"), 2,000 valid inputs a frame ("flood") or 50 malformed texts a frame ("junk"),
-- for "-seconds" seconds (default 6), then leaves. "-role server": a game server that welcomes its one player,
-- sends it an oversized snapshot, good snapshots, one with too many events, more good ones, then closes.
local role, port = kiv_params_get("role"), tonumber(kiv_params_get("port"))
local attack, seconds = kiv_params_get("attack"), tonumber(kiv_params_get("seconds")) or 6
local clock, joined, player, tick = 0, nil, nil, 0

local function state(events)
    tick = tick + 1
    return string.format('{"t":"state","tick":%d,"level":1,"score":0,"lives":3,"state":"play","gems":[],' ..
        '"players":[[1,2,2,0]],"enemies":[],"events":[%s]}', tick, events or "")
end

function _init()
    if role == "server" then net_host(port) else net_open("127.0.0.1", port) end
end

local function client_frame()
    if not joined or attack == "silent" then
        return
    end
    if clock - joined > seconds then
        print("rogue done")
        net_close()
        kiv_ext_call("exit")
        return
    end
    if attack == "big" and clock - joined < 1 then
        net_send(nil, "[" .. string.rep("1,", 4999) .. "1]")
    elseif attack == "flood" then
        for i = 1, 2000 do
            net_send(nil, '{"t":"input","dx":1,"dy":0}', 0)
        end
    elseif attack == "junk" then
        for i = 1, 50 do
            net_send(nil, '{"t":"input",' .. i, 0)
        end
    end
end

local function server_frame()
    if not player then
        return
    end
    local at = clock - player
    if at > 4 then
        print("rogue done")
        net_close()
        kiv_ext_call("exit")
        return
    end
    if at > 2 and at < 2.5 then
        net_send(player, state(string.rep('{"k":"hit","x":2,"y":2},', 99) .. '{"k":"hit","x":2,"y":2}'), 0)
    else
        net_send(player, state(), 0)
    end
    if at < 0.1 then
        net_send(player, '{"t":"state","pad":"' .. string.rep("x", 6000) .. '"}')
    end
end

function _loop(t)
    clock = clock + t
    while true do
        local e = net_poll()
        if not e then break end
        if e.type ~= "message" then print(string.format("rogue %s %d", e.type, e.cid)) end
        if role == "client" and e.type == "connect" then
            joined = clock
            if attack ~= "silent" then
                net_send(nil, '{"t":"hello"}')
            end
        elseif role == "client" and e.type == "disconnect" then
            kiv_ext_call("exit")
        elseif role == "server" and e.type == "message" and not player then
            player = clock
            net_send(e.cid, '{"t":"welcome","slot":1}')
        end
    end
    if role == "server" then server_frame() else client_frame() end
end
