-- The comparison side of the particle benchmark: same window size, no vsync, no audio.
function love.conf(t)
    t.window.title = "parts_bench"
    t.window.width = 800
    t.window.height = 600
    t.window.vsync = 0
    t.modules.audio = false
    t.modules.sound = false
    t.modules.joystick = false
    t.modules.physics = false
end
