-- Bot player: picks a direction for one player of a world by a breadth-first search to the nearest gem (or to the
-- open exit), keeping off spikes and away from the enemies near it. Used by "-bot 1" clients, the demonstration
-- and the tests.
bot = {}

local DIRS = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}
-- An enemy's tile and the four beside it.
local NEAR = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}}

-- When no path keeps clear of every enemy at once, the enemies count only this many steps ahead: the bot plans
-- again at every tile, and an enemy farther on moves before it gets there. Enemies patrol in fixed cycles, so a
-- path that must be clear end to end can stay closed for good (the last gem on a row that two enemies patrol).
bot.lookahead = 3

local function mark(d, px, py)
    local x, y = math.floor(px + 0.5), math.floor(py + 0.5)
    for _, o in ipairs(NEAR) do
        d[util.key(x + o[1], y + o[2])] = true
    end
end

-- The tiles near where each enemy is and where it is going.
local function danger(w)
    local d = {}
    for _, e in ipairs(w.enemies) do
        mark(d, e.x, e.y)
        mark(d, e.fx, e.fy)
    end
    return d
end

local function open(w, x, y)
    local t = w.tiles[y] and w.tiles[y][x]
    return shared.walkable(w, x, y) and t ~= "^"
end

-- With no way on and an enemy at hand, the neighbour tile out of its reach that is farthest from every enemy.
local function flee(w, sx, sy, bad)
    local best, far = {0, 0}, -1
    for _, d in ipairs(DIRS) do
        local nx, ny = sx + d[1], sy + d[2]
        if open(w, nx, ny) and not bad[util.key(nx, ny)] then
            local near = math.huge
            for _, e in ipairs(w.enemies) do
                near = math.min(near, math.abs(e.x - nx) + math.abs(e.y - ny))
            end
            if near > far then
                best, far = d, near
            end
        end
    end
    return best
end

-- The first step {dx, dy} of a shortest path from (sx, sy) to a goal tile that keeps off the dangerous tiles
-- within horizon steps of the start, or nil.
local function search(w, sx, sy, bad, horizon)
    local goal = w.open and "X" or "g"
    local first, depth = {[util.key(sx, sy)] = {0, 0}}, {[util.key(sx, sy)] = 0}
    local queue, head = {{sx, sy}}, 1
    while head <= #queue do
        local x, y = queue[head][1], queue[head][2]
        head = head + 1
        local k = util.key(x, y)
        if head > 2 and w.tiles[y][x] == goal then
            return first[k]
        end
        for _, d in ipairs(DIRS) do
            local nx, ny = x + d[1], y + d[2]
            local nk = util.key(nx, ny)
            if not first[nk] and open(w, nx, ny) and not (depth[k] < horizon and bad[nk]) then
                first[nk], depth[nk] = head == 2 and d or first[k], depth[k] + 1
                queue[#queue + 1] = {nx, ny}
            end
        end
    end
end

-- The first step {dx, dy} of a shortest path to a goal that keeps away from every enemy; when there is none,
-- of one that keeps away from the enemies within bot.lookahead steps; else a step away from an enemy at hand,
-- or {0, 0}.
function bot.think(w, slot)
    local p = w and w.players[slot]
    if not p or not p.active or w.state ~= "play" then
        return {0, 0}
    end
    local sx, sy = math.floor(p.x + 0.5), math.floor(p.y + 0.5)
    local bad = danger(w)
    return search(w, sx, sy, bad, math.huge) or search(w, sx, sy, bad, bot.lookahead) or
               bad[util.key(sx, sy)] and flee(w, sx, sy, bad) or {0, 0}
end
