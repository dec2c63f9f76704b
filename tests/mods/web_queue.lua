-- Many web requests at once against the hostile server (parameters "port", "path", "count"): queued on the
-- frame "start", after "$ ready"; with "save" set, a save is written and read back while they are under way.
local count, events, frames = tonumber(kiv_params_get("count")), 0, 0
local data = string.rep("0123456789", 1000) .. "\0\r\n]=]"

function _init() end

function _event(e)
    if e.type ~= "done" then return end
    events = events + 1
    if events == count then print("all answered") end
end

function _loop(t)
    frames = frames + 1
    if frames == 3 then print("ready") end
    if frames == tonumber(kiv_params_get("start")) then
        local arg = string.format('{"host":"127.0.0.1","port":%s,"path":"%s","callback":"done"}',
            kiv_params_get("port"), kiv_params_get("path"))
        for i = 1, count do kiv_ext_call("web:request", arg) end
        print("queued")
        if kiv_params_get("save") == "1" then
            kiv_file_save("web_queue.sav", data)
            local back = kiv_file_load("web_queue.sav")
            print(back == data and "save intact" or ("save broken " .. #back))
        end
    end
end
