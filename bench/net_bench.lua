-- Engine side of the network benchmark. "-role send": joins and queues "-per" 64-byte reliable messages every
-- frame. "-role recv": hosts, drains net_poll every frame and after one second of warm-up counts messages for
-- "-seconds" seconds of frame time, prints the rate and ends.
local role, port = kiv_params_get("role"), tonumber(kiv_params_get("port"))
local per, seconds = tonumber(kiv_params_get("per") or 0), tonumber(kiv_params_get("seconds") or 4)
local msg = string.rep("m", 64)
local connected, clock, counted = false, 0, 0

function _init()
    if role == "recv" then net_host(port) else net_open("127.0.0.1", port) end
end

function _loop(t)
    if role == "send" and connected then
        for i = 1, per do net_send(nil, msg) end
    end
    local got = 0
    while true do
        local e = net_poll()
        if not e then break end
        if e.type == "message" then got = got + 1
        elseif e.type == "connect" then connected = true
        elseif e.type == "disconnect" and role == "send" then kiv_ext_call("exit") end
    end
    if role == "recv" and connected then
        clock = clock + t
        if clock > 1 then counted = counted + got end
        if clock > 1 + seconds then
            print(string.format("engine rate %.0f msg/s", counted / (clock - 1)))
            kiv_ext_call("exit")
        end
    end
end
