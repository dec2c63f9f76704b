-- One side of a session between two engine processes: "-role host" echoes every message back to its sender on
-- the same channel and ends when its peer leaves; "-role join" sends two messages, checks the echoes, closes.
local role, port = kiv_params_get("role"), tonumber(kiv_params_get("port"))
local payload = "a\0b\r\n]=]"
local echoes = 0

function _init()
    if role == "host" then net_host(port) else net_open("127.0.0.1", port) end
end

function _loop(t)
    while true do
        local e = net_poll()
        if not e then break end
        print(string.format("%s %s %d %d", role, e.type, e.cid, #e.value))
        if role == "host" and e.type == "message" then
            net_send(e.cid, "echo:" .. e.value)
        elseif role == "host" and e.type == "disconnect" then
            kiv_ext_call("exit")
        elseif role == "join" and e.type == "connect" then
            net_send(nil, payload)
            net_send(e.cid, payload, 0, 259)
        elseif role == "join" and e.type == "message" then
            echoes = echoes + 1
            print("join echo " .. (e.value == "echo:" .. payload and "exact" or "wrong"))
            if echoes == 2 then
                net_close()
                kiv_ext_call("exit")
            end
        end
    end
end
