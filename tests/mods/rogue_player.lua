-- A hostile player of the embedded game on the engine's own ENet functions: joins 127.0.0.1:PORT and then, by
-- "-attack", sends nothing at all ("silent"), 10,000-byte messages ("big"), 2,000 valid inputs a frame ("flood")
-- or 50 malformed texts a frame ("junk") for 6 s; prints "rogue done" when it stops or is let go.
local port, attack = tonumber(kiv_params_get("port")), kiv_params_get("attack")
local clock, joined = 0, nil
local sends = {big = {1, "[" .. string.rep("1,", 4999) .. "1]"}, flood = {2000, '{"t":"input","dx":1,"dy":0}'},
    junk = {50, '{"t":"input",'}, silent = {0, ""}}

local function done()
    print("rogue done")
    net_close()
    kiv_ext_call("exit")
end

function _init()
    net_open("127.0.0.1", port)
end

function _loop(t)
    clock = clock + t
    for e in net_poll do
        if e.type == "connect" and attack ~= "silent" then
            net_send(nil, '{"t":"hello"}')
        elseif e.type == "disconnect" then
            return done()
        end
        joined = joined or clock
    end
    if joined and clock - joined > 6 and attack ~= "silent" then
        return done()
    end
    for i = 1, joined and sends[attack][1] or 0 do
        net_send(nil, sends[attack][2], 0)
    end
end
