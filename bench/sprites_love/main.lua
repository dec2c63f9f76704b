-- The comparison side of the sprite benchmark: KIV_BENCH_SCENE = "sprites N SIZE", "opaque N" or "text"; the data files and
-- sprites_scene.lua are copied next to this file by sprites_bench.sh. Prints one result line and quits.
local scene = require("sprites_scene")
local spec = os.getenv("KIV_BENCH_SCENE") or "sprites 10000 4"
local kind, n, size = spec:match("^(%a+)%s*(%d*)%s*(%d*)")
n, size = tonumber(n) or 0, tonumber(size) or 0
local warm = tonumber(os.getenv("KIV_BENCH_WARM") or "") or 60
local frames = tonumber(os.getenv("KIV_BENCH_FRAMES") or "") or 600
local ww, wh = love.graphics.getDimensions()

function love.run()
    local file = "bench_sprite.png"
    if kind == "opaque" then
        file, size = "bench_opaque.png", 8
    end
    scene.init(kind, n, size, ww, wh)
    local img = love.graphics.newImage(file)
    local iw = img:getWidth()
    local font = love.graphics.newFont("small.fnt")
    love.graphics.setFont(font)
    local draw = love.graphics.draw
    local print_ = love.graphics.print
    local function sprite(x, y, s)
        draw(img, x, y, 0, s / iw, s / iw)
    end
    local function text(t, x, y)
        print_(t, x, y)
    end
    local count, t0, c0 = 0, 0, 0
    return function()
        love.event.pump()
        for name in love.event.poll() do
            if name == "quit" then
                return 0
            end
        end
        love.graphics.origin()
        love.graphics.clear(0, 0, 0, 1)
        scene.paint(sprite, text)
        love.graphics.present()
        count = count + 1
        if count == warm then
            t0, c0 = love.timer.getTime(), os.clock()
        elseif count == warm + frames then
            io.write(string.format("love    %-18s cpu %8.3f ms/frame  wall %8.3f ms/frame\n", spec,
                (os.clock() - c0) * 1000 / frames, (love.timer.getTime() - t0) * 1000 / frames))
            io.flush()
            return 0
        end
    end
end
