-- Bot player: picks a direction for one player of a world by a breadth-first search to the nearest gem (or to the
-- open exit), keeping off spikes and away from enemies. Used by "-bot 1" clients and by the headless test.
bot = {}

local DIRS = {{1, 0}, {-1, 0}, {0, 1}, {0, -1}}

local function danger(w)
    local d = {}
    for _, e in ipairs(w.enemies) do
        for _, p in ipairs({{e.x, e.y}, {e.fx, e.fy}}) do
            local x, y = math.floor(p[1] + 0.5), math.floor(p[2] + 0.5)
            -- The enemy's tile and the four beside it.
            for _, q in ipairs({{x, y}, {x + 1, y}, {x - 1, y}, {x, y + 1}, {x, y - 1}}) do
                d[util.key(q[1], q[2])] = true
            end
        end
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
