-- Extension calls whose arguments are broken or odd JSON: each answers "null" and the mod keeps running.
function _init()
    print("stray=" .. kiv_ext_call("nobody:knows", "]"))
    print("extra=" .. kiv_ext_call("nobody:knows", "[1]]"))
    print("phantom=" .. kiv_ext_call("nobody:knows", "[1,[]]"))
    print("empty=" .. kiv_ext_call("nobody:knows", ""))
    print("string=" .. kiv_ext_call("nobody:knows", "\"abc\""))
    print("deep=" .. kiv_ext_call("nobody:knows", string.rep("[", 40)))
end
function _loop(t)
    print("alive")
    kiv_ext_call("exit")
end
