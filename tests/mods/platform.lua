-- Platform verbs from a headless script: the signed-in user, the overlay, the store page, a cloud file, the
-- tick count and a screenshot without a window.
function _init()
    print("uuid=" .. kiv_ext_call("social:uuid", "null"))
    kiv_ext_call("steam:overlay", '{"type":"dialog","value":"Friends"}')
    kiv_ext_call("store:init", '[{"id":480,"name":"Game"}]')
    print("products=" .. kiv_ext_call("store:products", "null"))
    kiv_ext_call("store:buy", "480.9")
    kiv_file_save("cloud.txt", "saved", true)
    print("cloud=" .. kiv_file_load("cloud.txt", true))
    print("ticks=" .. type(tonumber(kiv_ext_call("timer:get_ticks", "null"))))
    print("shot=" .. kiv_ext_call("screenshot", '{"filename":"x.png"}'))
end
function _loop(t)
    kiv_ext_call("exit")
end
