-- Fails in its second _loop; prints each step so the test can follow the crash policy.
print("init script")
function _init()
    print("init")
end
count = count or 0
function _loop(t)
    count = count + 1
    print("loop " .. count)
    if count == 2 then
        error("boom at two")
    end
    if count >= 3 then
        kiv_ext_call("exit")
    end
end
