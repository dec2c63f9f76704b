-- Plays the sample "blip" at start and the looping stream "tune" twenty frames later, then ends the run.
local pass = 0
function _init()
    kiv_sample_play("blip", 1, 0)
end
function _loop(dt)
    pass = pass + 1
    if pass == 20 then
        kiv_stream_play("tune", 1)
    end
    if pass == 90 then
        kiv_ext_call("exit")
    end
end
function _event(e)
end
function _paint()
end
