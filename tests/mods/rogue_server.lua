-- A hostile game server: hosts PORT, welcomes the first client as player 1, then each frame sends by "-attack" a
-- welcome again ("welcome"), 200 snapshots of 32 events ("burst"), one of 32 cleared levels ("sparks"), a good snapshot and a bad one (a name of BAD; it
-- scores 666), or a good one and every 1.5 s a raw control byte ("bytes"). "player" instead joins a game server at
-- PORT once per byte, sends it and leaves.
local port, attack = tonumber(kiv_params_get("port")), kiv_params_get("attack")
local BYTES = {"\27", "\7", "\8", "\255", "\194\155"}
-- On level 1: 20 by 12 tiles, a gem at 10,2.
local GOOD = {gems = "[210]", players = "[[1,2,2,0]]", enemies = "[[10,6]]", events = ""}
local BAD = {hit = {events = '{"k":"hit"}'}, kind = {events = '{"k":"boom","x":3,"y":3}'}, tick = {tick = '"7"'},
    off_map = {players = "[[1,21,2,0]]"}, enemy = {enemies = "[[1e300,6]]"}, gem = {gems = "[210.5]"}}
local BURST = {events = string.rep('{"k":"hit","x":3.5,"y":4}', 32, ","), score = 10}
local SENT = {burst = BURST, sparks = {events = string.rep('{"k":"cleared","x":3,"y":3}', 32, ","), score = 10}}
-- joined: the clock at the welcome, so that a client slow to start (as under Wine) still gets its bytes 1.5 s
-- apart; left: the clock at the player's last send, the next connection waits for it to be delivered.
local clock, frame, client, sent, joined, left = 0, 0, nil, 0, 0, nil

local function state(bad)
    local f = setmetatable(bad or {}, {__index = GOOD})
    return string.format('{"t":"state","tick":%s,"level":1,"score":%d,"lives":3,"state":"play","gems":%s,' ..
                             '"players":%s,"enemies":%s,"events":[%s]}', f.tick or frame * 30,
        f.score or (bad and 666 or 10), f.gems, f.players, f.enemies, f.events)
end

function _init()
    if attack == "player" then
        return net_open("127.0.0.1", port)
    end
    net_host(port)
    print("rogue listening")
end

function _loop(t)
    clock, frame = clock + t, frame + 1
    for e in net_poll do
        if attack == "player" and e.type == "connect" then
            sent = sent + 1
            net_send(nil, BYTES[sent])
            net_flush()
            left = clock
        elseif e.type == "message" and not client and e.value:find('"hello"') then
            client, joined = e.cid, clock
            net_send(client, '{"t":"welcome","slot":1}')
        end
    end
    -- A disconnect that reaches the server with the text still queued there drops the text unread.
    if left and clock - left > 0.3 then
        left = nil
        if sent == #BYTES then
            net_close()
            return kiv_ext_call("exit")
        end
        return net_open("127.0.0.1", port) -- the server logs each new connection's first bad text
    end
    if not client then
        return
    end
    for _ = 1, attack == "welcome" and 0 or attack == "burst" and 200 or 1 do
        net_send(client, state(SENT[attack]), 0)
    end
    if attack == "welcome" then
        net_send(client, '{"t":"welcome","slot":1}')
    elseif BAD[attack] then
        net_send(client, state(BAD[attack]), 0)
    elseif attack == "bytes" and clock - joined > 1.5 * (sent + 1) and sent < #BYTES then
        sent = sent + 1
        net_send(client, BYTES[sent])
    end
    net_flush()
end

function _event(e)
end

function _paint()
end
