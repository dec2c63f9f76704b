-- Many web requests at once against the hostile server (parameters "port", "path", "count"): queued on the
-- frame "start", after "$ ready"; with "save" set, a save is written and read back while they are under way;
-- with "lead" set, two requests to that path go first.
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
        local function arg(path, callback)
            return string.format('{"host":"127.0.0.1","port":%s,"path":"%s","callback":"%s"}',
                kiv_params_get("port"), path, callback)
        end
        local lead = kiv_params_get("lead")
        if lead and lead ~= "" then
            for i = 1, 2 do kiv_ext_call("web:request", arg(lead, "lead")) end
        end
        local path = arg(kiv_params_get("path"), "done")
        for i = 1, count do kiv_ext_call("web:request", path) end
        print("queued")
        if kiv_params_get("save") == "1" then
            kiv_file_save("web_queue.sav", data)
            local back = kiv_file_load("web_queue.sav")
            print(back == data and "save intact" or ("save broken " .. #back))
        end
    end
end
