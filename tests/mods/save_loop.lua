-- Saves one 2 MB file over and over, each version a single repeated letter, until it is killed; with the
-- parameter "once" it saves one version and exits.
local n = 0
function _init()
    print("saving")
end
function _loop(t)
    for i = 1, 4 do
        n = n + 1
        kiv_file_save("big.sav", string.rep(string.char(97 + n % 26), 2 * 1024 * 1024))
    end
    if kiv_params_get("once") then
        print("saved")
        kiv_ext_call("exit")
    end
end
