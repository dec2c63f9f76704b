-- The comparison side of the sprite benchmark: same window size, no vsync, no audio.
function love.conf(t)
    t.window.title = "sprites_bench"
    local w, h = (os.getenv("KIV_BENCH_WINDOW") or "800x600"):match("^(%d+)x(%d+)$")
    t.window.width = tonumber(w) or 800
    t.window.height = tonumber(h) or 600
    t.window.vsync = 0
    t.modules.audio = false
    t.modules.sound = false
    t.modules.joystick = false
    t.modules.physics = false
end
