-- Opens the window and clears it to the colour of the game's title screen, every frame; with KIV_LOVE_FPS set it
-- holds that many frames a second, as the engine's frame limiter does.
local fps = tonumber(os.getenv("KIV_LOVE_FPS") or "")
local next_frame = nil

function love.update(dt)
    if fps then
        local now = love.timer.getTime()
        next_frame = math.max((next_frame or now) + 1 / fps, now)
        love.timer.sleep(next_frame - now)
    end
end

function love.draw()
    love.graphics.clear(0x0C / 255, 0x10 / 255, 0x18 / 255, 1)
end
