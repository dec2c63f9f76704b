-- The scene of the sprite benchmark, shared by both engines so that they draw the same things with the same calls:
-- init(kind, n, size, w, h) places n sprites of size pixels (or 50 lines of text); paint(sprite, text) draws them.
local M = {}

function M.init(kind, n, size, w, h)
    M.kind, M.n, M.size = kind, n, size
    M.xs, M.ys, M.lines = {}, {}, {}
    local seed = 12345
    local function rnd(m)
        seed = (seed * 16807) % 2147483647
        return seed % m
    end
    for i = 1, n do
        M.xs[i] = rnd(w - size)
        M.ys[i] = rnd(h - size)
    end
    local chars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789 .,:;!?"
    for i = 1, 50 do
        local t = {}
        for k = 1, 54 do
            local c = rnd(#chars) + 1
            t[k] = chars:sub(c, c)
        end
        M.lines[i] = table.concat(t)
    end
end

function M.paint(sprite, text)
    if M.kind == "text" then
        local lines = M.lines
        for i = 1, 50 do
            text(lines[i], 0, (i - 1) * 12)
        end
    else
        local xs, ys, s = M.xs, M.ys, M.size
        for i = 1, M.n do
            sprite(xs[i], ys[i], s)
        end
    end
end

return M
