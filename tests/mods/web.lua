-- Web requests against the hostile server (parameter "port") and a plain one ("files"): prints each event, and
-- at the end the longest frame step, then exits after "frames" passes.
local modes = {"garbage", "close", "bytewise", "silent", "endless-head", "endless-body", "reset-before",
               "reset-during", "reset-after", "nul", "forge"}
local nul_body = "a\0b\r\n]=]\0"
local forge_body = "ok\n$ server: player 9 joined as 1\r\n\0\27[2J\127\\n"

local function request(host, port, path, callback)
    kiv_ext_call("web:request", string.format('{"host":"%s","port":%s,"path":"%s","callback":"%s"}', host, port,
        path, callback))
end

function _init()
    local port = kiv_params_get("port")
    for _, m in ipairs(modes) do
        request("127.0.0.1", port, "/" .. m, m)
    end
    request("127.0.0.1", kiv_params_get("files"), "/f.bin", "file")
    request("127.0.0.1", kiv_params_get("files"), "/missing", "missing")
    request("127.0.0.1", kiv_params_get("refused"), "/", "refused")
    request("no.such.host.invalid", port, "/", "unresolvable")
    kiv_ext_call("web:request", '{"host":"127.0.0.1","port":' .. port .. ',"callback":"root"}')
    frames, longest = 0, 0
end

function _event(e)
    local same = e.value == nul_body or e.value == forge_body or e.value == "abc\0def\r\n]=]x"
    print(string.format("event %s %d %s", e.type, #e.value, same and "exact" or "-"))
end

function _loop(t)
    frames = frames + 1
    if frames > 2 and t > longest then longest = t end
    if frames == tonumber(kiv_params_get("frames")) then
        print(string.format("longest %.3f", longest))
        kiv_ext_call("exit")
    end
end
