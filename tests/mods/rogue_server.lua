-- A hostile server of the embedded game on the engine's own ENet functions: hosts PORT, welcomes the first client
-- as player 1 and then, by "-attack", sends only welcomes ("welcome"), 200 snapshots of 32 events a frame
-- ("burst"), a good snapshot then a bad one each frame (the other names, see BAD), or a good snapshot each frame
-- and every 1.5 s a text of one raw control byte ("bytes"). "-attack player" instead joins a game server at PORT
-- once per text of BYTES, sends the text and leaves; it prints "rogue done" at the end.
local port, attack = tonumber(kiv_params_get("port")), kiv_params_get("attack")
local BYTES = {"\27", "\7", "\8", "\255", "\194\155"}
-- Level 1: 20 by 12 tiles, a gem at 10,2. A bad snapshot scores 666, so the client's log shows one that got in.
local STATE = '{"t":"state","tick":%s,"level":1,"score":%s,"lives":3,"state":"play","gems":%s,' ..
                  '"players":%s,"enemies":%s,"events":[%s]}'
local GOOD = {tick = "%d", score = "10", gems = "[210]", players = "[[1,2,2,0]]", enemies = "[[10,6]]", events = ""}
local BAD = {
    hit = {events = '{"k":"hit"}'},
    kind = {events = '{"k":"boom","x":3,"y":3}'},
    tick = {tick = '"7"'},
    off_map = {players = "[[1,21,2,0]]"},
    enemy = {enemies = "[[1e999,6]]"},
    gem = {gems = "[210.5]"},
}

local clock, frame, client, sent = 0, 0, nil, 0

local function state(over)
    local f = function(key)
        return (over or {})[key] or GOOD[key]
    end
    return string.format(STATE, string.format(f("tick"), frame * 30), f("score"), f("gems"), f("players"),
        f("enemies"), f("events"))
end

function _init()
    if attack == "player" then
        net_open("127.0.0.1", port)
    else
        net_host(port)
        print("rogue listening")
    end
end

local function player_event(e)
    if e.type == "connect" then
        sent = sent + 1
        net_send(nil, BYTES[sent])
        net_flush()
        if sent == #BYTES then
            net_close()
            print("rogue done")
            kiv_ext_call("exit")
        else
            net_open("127.0.0.1", port) -- a new connection: the server logs each one's first bad text
        end
    end
end

function _loop(t)
    clock, frame = clock + t, frame + 1
    for e in net_poll do
        if attack == "player" then
            return player_event(e)
        elseif e.type == "message" and not client and e.value:find('"hello"') then
            client = e.cid
            net_send(client, '{"t":"welcome","slot":1}')
        end
    end
    if not client then
        return
    end
    if attack == "welcome" then
        net_send(client, '{"t":"welcome","slot":1}')
    elseif attack == "burst" then
        local events = string.rep('{"k":"hit","x":3.5,"y":4},', 31) .. '{"k":"hit","x":3.5,"y":4}'
        local text = state({events = events})
        for _ = 1, 200 do
            net_send(client, text, 0)
        end
    else
        net_send(client, state(), 0)
        if BAD[attack] then
            net_send(client, state(setmetatable({score = "666"}, {__index = BAD[attack]})), 0)
        elseif attack == "bytes" and clock > 1.5 * (sent + 1) and sent < #BYTES then
            sent = sent + 1
            net_send(client, BYTES[sent])
        end
    end
    net_flush()
end

function _event(e)
end

function _paint()
end
