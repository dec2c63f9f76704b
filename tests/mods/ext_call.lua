-- Calls the extension verb named by the parameter "verb" with the text of "arg" in _init and prints the answer
-- between brackets; prints each event and then exits, or exits after "frames" passes.
local frames = 0
function _init()
    print("answer [" .. kiv_ext_call(kiv_params_get("verb"), kiv_params_get("arg") or "") .. "]")
end
function _event(e)
    print("event " .. e.type .. " " .. tostring(e.value))
    kiv_ext_call("exit")
end
function _loop(t)
    frames = frames + 1
    if frames >= tonumber(kiv_params_get("frames") or 60) then kiv_ext_call("exit") end
end
function _paint() end
