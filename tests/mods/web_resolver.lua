-- A web request to a name (parameter "host") made on frame 3 and again every "every" frames: prints a tick with
-- the longest frame step so far every 20 frames, so a test sees whether frames go on while the name is looked up.
local frames, longest, every = 0, 0, tonumber(kiv_params_get("every"))

function _init() end

function _loop(t)
    frames = frames + 1
    if frames > 2 and t > longest then longest = t end
    if frames % every == 3 then
        kiv_ext_call("web:request", '{"host":"' .. kiv_params_get("host") .. '","path":"/","callback":"got"}')
    end
    if frames % 20 == 0 then print(string.format("tick %d %.3f", frames, longest)) end
end
