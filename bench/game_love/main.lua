-- Opens the window and clears it to the colour of the game's title screen, every frame; with KIV_LOVE_FPS set it
-- holds that many frames a second, as the engine's frame limiter does. With KIV_LOVE_LEVEL naming a level picture
-- of the game, it also draws that picture where and as large as the game's play screen does (a 480 by 320 view
-- fitted into the window, tiles of 24 units from 16 texels, below a 32-unit score line), unsmoothed.
local fps = tonumber(os.getenv("KIV_LOVE_FPS") or "")
local next_frame = nil
local level = nil

function love.load()
    local path = os.getenv("KIV_LOVE_LEVEL")
    if path then
        local f = assert(io.open(path, "rb"))
        level = love.graphics.newImage(love.image.newImageData(love.filesystem.newFileData(f:read("*a"), "level.png")))
        f:close()
        level:setFilter("nearest", "nearest")
    end
end

function love.update(dt)
    if fps then
        local now = love.timer.getTime()
        next_frame = math.max((next_frame or now) + 1 / fps, now)
        love.timer.sleep(next_frame - now)
    end
end

function love.draw()
    love.graphics.clear(0x0C / 255, 0x10 / 255, 0x18 / 255, 1)
    if level then
        local w, h = love.graphics.getDimensions()
        local v = math.min(w / 480, h / 320)
        love.graphics.draw(level, (w - 480 * v) / 2, (h - 320 * v) / 2 + 32 * v, 0, v * 1.5, v * 1.5)
    end
end
