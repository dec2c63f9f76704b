-- The comparison side of the start-up benchmark: a 480 by 320 window, as the game opens with -width/-height.
function love.conf(t)
    t.window.title = "game_start"
    t.window.width = 480
    t.window.height = 320
    t.window.vsync = 0
end
