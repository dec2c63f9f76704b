-- LÖVE's ParticleSystem with the emitter of parts_scene.lua: 10,000 live particles, lifetime 1 s, additive, fading.
local warm, frames = 60, 600

function love.run()
    local scene = require("parts_scene")
    local img = love.graphics.newImage("bench_sprite.png")
    local ps = love.graphics.newParticleSystem(img, scene.n)
    ps:setEmissionRate(scene.n / scene.life)
    ps:setParticleLifetime(scene.life, scene.life)
    ps:setSpeed(40, 300)
    ps:setSpread(2 * math.pi)
    ps:setSizes(2 * scene.r / 32)
    ps:setColors(1, 0.6, 0.2, 1, 1, 0.6, 0.2, 0)
    ps:setPosition(400, 300)
    local count, t0, c0 = 0, 0, 0
    return function()
        love.event.pump()
        for name in love.event.poll() do
            if name == "quit" then
                return 0
            end
        end
        ps:update(scene.dt)
        love.graphics.origin()
        love.graphics.clear(0, 0, 0, 1)
        love.graphics.setBlendMode("add")
        love.graphics.draw(ps)
        love.graphics.present()
        count = count + 1
        if count == warm then
            t0, c0 = love.timer.getTime(), os.clock()
        elseif count == warm + frames then
            io.write(string.format("love    parts 10000        cpu %8.3f ms/frame  wall %8.3f ms/frame  live %d\n",
                (os.clock() - c0) * 1000 / frames, (love.timer.getTime() - t0) * 1000 / frames, ps:getCount()))
            io.flush()
            return 0
        end
    end
end
