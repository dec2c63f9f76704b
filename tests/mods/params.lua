-- Prints the parameters from the command line and the fixed start values, then ends the run.
function _init()
    for _, k in ipairs({"foo", "platform", "n", "headless", "vinfo", "speed", "ticks", "view_scale"}) do
        local v = kiv_params_get(k)
        print(k .. "=" .. tostring(v) .. " " .. type(v))
    end
end
function _loop(t)
    kiv_ext_call("exit")
end
