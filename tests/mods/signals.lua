-- A mod for the stop-signal tests; "-role" picks what it does: "host" serves peers on "-port" and prints their
-- events, "fail" raises an error in its first pass, "hang" never returns from its "suspend" event, "chatty" prints
-- every pass and, once a save named "closed" is there, saves "after.sav" and exits.
local role = kiv_params_get("role") or ""
local passes = 0
function _init()
    print("init " .. role)
    if role == "host" then net_host(tonumber(kiv_params_get("port"))) end
end
function _loop(t)
    passes = passes + 1
    if passes == 1 then print("ready") end
    if role == "fail" then error("failing on purpose") end
    for e in net_poll do print("host " .. e.type .. " " .. e.cid) end
    if role ~= "chatty" then return end
    print("pass " .. passes)
    if kiv_file_load("closed") ~= "" then
        kiv_file_save("after.sav", "pass " .. passes)
        kiv_ext_call("exit")
    end
end
function _event(e)
    if e.type ~= "suspend" then return end
    print("suspend")
    while role == "hang" do end
end
function _paint() end
