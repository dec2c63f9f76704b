-- The comparison side of the start-up and frame benchmarks: a 480 by 320 window, as the game opens with
-- -width/-height, or the size in KIV_LOVE_W and KIV_LOVE_H.
function love.conf(t)
    t.window.title = "game_start"
    t.window.width = tonumber(os.getenv("KIV_LOVE_W") or "") or 480
    t.window.height = tonumber(os.getenv("KIV_LOVE_H") or "") or 320
    t.window.vsync = 0
end
