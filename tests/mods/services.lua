-- Extension verbs, loop time and binary-safe saves; ends the run through "exit" on its third pass.
local pass = 0
local data = "a\0b\r\n]=" .. "\n" .. string.char(255) .. "end"
function _init()
    print("md5=" .. kiv_ext_call("md5_digest", "abc"))
    print("unknown=" .. kiv_ext_call("no_such:verb", ""))
    kiv_file_save("kiv_save_test.bin", data)
    local back = kiv_file_load("kiv_save_test.bin")
    print("save len=" .. #back .. " same=" .. tostring(back == data))
    print("missing=[" .. kiv_file_load("kiv_never_saved.bin") .. "]")
    local ok, e = pcall(require, "no_such_module")
    print("require=" .. tostring(ok) .. " " .. tostring(e))
    print("font=" .. table.concat({kiv_font_size("none", 12, "text")}, ","))
end
function _loop(t)
    pass = pass + 1
    print(string.format("pass %d dt %.6f", pass, t))
    if pass == 3 then
        kiv_ext_call("exit")
        print("after exit")
    end
end
