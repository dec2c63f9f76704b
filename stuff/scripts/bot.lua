-- Bot player: picks a direction for one player of a world by a breadth-first search to the nearest gem (or to the
-- open exit), keeping off spikes and away from enemies. Used by "-bot 1" clients and by the headless test.
bot = {}

local DIRS = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}
-- An enemy's tile and the four beside it.
local NEAR = {{0, 0}, {1, 0}, {-1, 0}, {0, 1}, {0, -1}}

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

-- The first step {dx, dy} of a shortest safe path from the player's tile to a goal, or {0, 0}.
function bot.think(w, slot)
    local p = w and w.players[slot]
    if not p or not p.active or w.state ~= "play" then
        return {0, 0}
    end
    local sx, sy = math.floor(p.x + 0.5), math.floor(p.y + 0.5)
    local bad = danger(w)
    local goal = w.open and "X" or "g"
    local seen, queue, head = {[util.key(sx, sy)] = {0, 0}}, {{sx, sy}}, 1
    while head <= #queue do
        local x, y = queue[head][1], queue[head][2]
        head = head + 1
        local first = seen[util.key(x, y)]
        if head > 2 and w.tiles[y][x] == goal then
            return first
        end
        for _, d in ipairs(DIRS) do
            local nx, ny = x + d[1], y + d[2]
            local k = util.key(nx, ny)
            local t = w.tiles[ny] and w.tiles[ny][nx]
            if not seen[k] and shared.walkable(w, nx, ny) and t ~= "^" and not bad[k] then
                seen[k] = head == 2 and d or first
                queue[#queue + 1] = {nx, ny}
            end
        end
    end
    return {0, 0}
end
