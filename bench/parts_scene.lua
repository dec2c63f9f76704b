-- The particle benchmark's emitter, shared by every side: 10,000 live particles of lifetime 1 s at a fixed step of
-- 1/60 s, born at the window's centre with random velocities. spawn(emit) calls emit(x, y, vx, vy) for the births
-- of one step; the "lua" side also ages and draws its own particles with kiv_image_draw.
local M = {n = 10000, life = 1, dt = 1 / 60, r = 4}
local seed, carry = 4242, 0

local function rnd()
    seed = (seed * 16807) % 2147483647
    return seed / 2147483647
end

function M.spawn(emit)
    carry = carry + M.n * M.dt / M.life
    while carry >= 1 do
        carry = carry - 1
        local a, s = rnd() * 2 * math.pi, 40 + rnd() * 260
        emit(400, 300, math.cos(a) * s, math.sin(a) * s)
    end
end

-- The same particles kept in Lua tables and drawn one kiv_image_draw each, additive and fading.
local xs, ys, vxs, vys, ts = {}, {}, {}, {}, {}
function M.lua_frame(draw)
    local n = #xs
    M.spawn(function(x, y, vx, vy)
        n = n + 1
        xs[n], ys[n], vxs[n], vys[n], ts[n] = x, y, vx, vy, 0
    end)
    local i, r, life, dt = 1, M.r, M.life, M.dt
    while i <= n do
        local t = ts[i] + dt
        if t >= life then
            xs[i], ys[i], vxs[i], vys[i], ts[i] = xs[n], ys[n], vxs[n], vys[n], ts[n]
            xs[n], ys[n], vxs[n], vys[n], ts[n] = nil, nil, nil, nil, nil
            n = n - 1
        else
            ts[i] = t
            draw("bench_sprite", xs[i] + vxs[i] * t - r, ys[i] + vys[i] * t - r, 2 * r, 2 * r, 0, 0xFF9933,
                -math.floor((1 - t / life) * 255))
            i = i + 1
        end
    end
end

function M.parts_frame()
    parts_clip(0, 0, 800, 600)
    M.spawn(function(x, y, vx, vy)
        parts_add("bench_sprite", x, y, M.r, vx, vy, M.life, 0xFF9933)
    end)
    parts_loop(M.dt)
    parts_draw()
end

return M
