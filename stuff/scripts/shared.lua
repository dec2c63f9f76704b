-- Shared functions: the world of one level and its fixed-step rules, run the same way by local play and by the
-- server, the world snapshot that the server sends, and the saved options and best scores.
shared = {}


local function tile_at(w, x, y)
    local row = w.tiles[y]
    return row and row[x] or "#"
end

function shared.walkable(w, x, y)
    local t = tile_at(w, x, y)
    return t ~= "#" and (t ~= "X" or w.open)
end

local function new_mover(x, y, dx, dy)
    return {x = x, y = y, fx = x, fy = y, p = 1, dx = dx or 0, dy = dy or 0}
end

-- The position of a mover: between the tile it left and the tile it is heading for.
function shared.pos(m)
    return util.lerp(m.fx, m.x, m.p), util.lerp(m.fy, m.y, m.p)
end

-- Keeps every mover's position as the one to draw from, before the world steps (or takes a snapshot) again.
function shared.remember(w, alpha)
    for _, list in ipairs({w.players, w.enemies}) do
        for _, m in ipairs(list) do
            if m.active == false then -- one who comes back appears at the start, from nowhere
                m.ox, m.oy = nil, nil
            else
                m.ox, m.oy = shared.drawn(m, alpha or 1)
            end
        end
    end
end

-- A mover's position drawn a share t (0 to 1) of a step on from the remembered one. The world steps more slowly
-- than the screen is drawn; a jump of more than a tile and a half (back to the start after a hit) is drawn at once.
function shared.drawn(m, t)
    local x, y = shared.pos(m)
    if not m.ox or math.abs(x - m.ox) + math.abs(y - m.oy) > 1.5 then
        return x, y
    end
    t = util.clamp(t, 0, 1)
    return util.lerp(m.ox, x, t), util.lerp(m.oy, y, t)
end

-- A fresh world on level n (1-based) for up to data.max_players players; score and lives carry over when given.
function shared.new_world(n, score, lives)
    local lv = data.levels[n]
    local w = {level = n, name = lv.name, tiles = {}, rows = #lv.map, cols = #lv.map[1], gems = 0, starts = {},
        enemies = {}, players = {}, score = score or 0, lives = lives or data.lives, tick = 0, time = 0,
        state = "play", timer = 0, open = false, events = {}}
    for y, line in ipairs(lv.map) do
        local row = {}
        for x = 1, #line do
            local c = line:sub(x, x)
            if c:match("%d") then
                w.starts[tonumber(c)] = {x, y}
                c = "."
            elseif c == "H" or c == "V" then
                w.enemies[#w.enemies + 1] = new_mover(x, y, c == "H" and 1 or 0, c == "V" and 1 or 0)
                c = "."
            elseif c == "g" then
                w.gems = w.gems + 1
            end
            row[x] = c
        end
        w.tiles[y] = row
    end
    for i = 1, data.max_players do
        local s = w.starts[i] or w.starts[1]
        w.players[i] = new_mover(s[1], s[2])
        w.players[i].active = false
        w.players[i].safe = 0
    end
    return w
end

function shared.join(w, slot)
    local p = w.players[slot]
    if p and not p.active then
        local s = w.starts[slot] or w.starts[1]
        w.players[slot] = new_mover(s[1], s[2])
        w.players[slot].active = true
        w.players[slot].safe = data.invulnerable
    end
end

function shared.leave(w, slot)
    if w.players[slot] then
        w.players[slot].active = false
    end
end

function shared.active_count(w)
    local n = 0
    for _, p in ipairs(w.players) do
        if p.active then
            n = n + 1
        end
    end
    return n
end

local function event(w, kind, x, y)
    w.events[#w.events + 1] = {k = kind, x = x, y = y}
end

-- Advances a mover towards its target tile; true when it arrived this step.
local function advance(m, speed, dt)
    if m.p >= 1 then
        return false
    end
    m.p = math.min(1, m.p + speed * dt)
    return m.p >= 1
end

local function start_move(m, dx, dy)
    m.fx, m.fy = m.x, m.y
    m.x, m.y = m.x + dx, m.y + dy
    m.p = 0
    m.moved = true
end

-- A player who has not moved on this level (since it began or since joining) is away: nothing hurts a figure
-- nobody steers, so players who stand by do not spend the lives the others share.
function shared.away(p)
    return p.active and not p.moved
end

local function hurt(w, p)
    local x, y = shared.pos(p)
    event(w, "hit", x, y)
    w.lives = w.lives - 1
    local slot = 1
    for i, q in ipairs(w.players) do
        if q == p then
            slot = i
        end
    end
    local s = w.starts[slot] or w.starts[1]
    p.x, p.y, p.fx, p.fy, p.p = s[1], s[2], s[1], s[2], 1
    p.safe = data.invulnerable
    if w.lives <= 0 then
        w.lives = 0
        w.state, w.timer = "lost", data.pause_after
        event(w, "lost")
    end
end

local function arrive(w, p)
    local t = tile_at(w, p.x, p.y)
    if t == "g" then
        w.tiles[p.y][p.x] = "."
        w.gems = w.gems - 1
        w.score = w.score + data.gem_points
        event(w, "pickup", p.x, p.y)
        if w.gems == 0 then
            w.open = true
            event(w, "open")
        end
    elseif t == "^" and p.safe <= 0 and not shared.away(p) then
        hurt(w, p)
    elseif t == "X" and w.open then
        w.bonus = math.max(0, data.time_bonus - math.floor(w.time * 2))
        w.score = w.score + data.level_bonus + w.bonus
        w.state, w.timer = w.level < #data.levels and "cleared" or "won", data.pause_after
        event(w, w.state, p.x, p.y)
    end
end

-- One fixed step. inputs[slot] = {dx, dy} holds each player's wanted direction (0, 0 for none).
function shared.step(w, inputs, dt)
    w.events = {}
    w.tick = w.tick + 1
    if w.state ~= "play" then
        w.timer = w.timer - dt
        return
    end
    w.time = w.time + dt
    for slot, p in ipairs(w.players) do
        if p.active then
            p.safe = math.max(0, p.safe - dt)
            if advance(p, data.player_speed, dt) then
                arrive(w, p)
            end
            local want = inputs[slot]
            if w.state == "play" and p.p >= 1 and want and (want[1] ~= 0 or want[2] ~= 0) then
                local dx, dy = util.sign(want[1]), want[1] ~= 0 and 0 or util.sign(want[2])
                if shared.walkable(w, p.x + dx, p.y + dy) then
                    start_move(p, dx, dy)
                end
            end
        end
    end
    for _, e in ipairs(w.enemies) do
        advance(e, data.enemy_speed, dt)
        if e.p >= 1 then
            if not shared.walkable(w, e.x + e.dx, e.y + e.dy) or tile_at(w, e.x + e.dx, e.y + e.dy) == "X" then
                e.dx, e.dy = -e.dx, -e.dy
            end
            if shared.walkable(w, e.x + e.dx, e.y + e.dy) then
                start_move(e, e.dx, e.dy)
            end
        end
    end
    for _, p in ipairs(w.players) do
        if p.active and p.safe <= 0 and w.state == "play" and not shared.away(p) then
            local px, py = shared.pos(p)
            for _, e in ipairs(w.enemies) do
                local ex, ey = shared.pos(e)
                if math.abs(px - ex) < 0.6 and math.abs(py - ey) < 0.6 then
                    hurt(w, p)
                    break
                end
            end
        end
    end
end

-- After "cleared" the next level with the same players, score and lives; after "won" or "lost", nil.
function shared.next_world(w)
    if w.state ~= "cleared" then
        return nil
    end
    local nw = shared.new_world(w.level + 1, w.score, w.lives)
    for i, p in ipairs(w.players) do
        if p.active then
            shared.join(nw, i)
        end
    end
    nw.tick = w.tick
    return nw
end

-- The world as the server sends it: what a client needs to draw it and to notice changes.
function shared.snapshot(w)
    local gems = {}
    for y = 1, w.rows do
        for x = 1, w.cols do
            if w.tiles[y][x] == "g" then
                gems[#gems + 1] = util.key(x, y)
            end
        end
    end
    local r2 = function(v)
        return math.floor(v * 100 + 0.5) / 100
    end
    local ps, es = {}, {}
    for i, p in ipairs(w.players) do
        local x, y = shared.pos(p)
        ps[i] = {p.active and 1 or 0, r2(x), r2(y), p.safe > 0 and 1 or 0, shared.away(p) and 1 or 0}
    end
    for i, e in ipairs(w.enemies) do
        local x, y = shared.pos(e)
        es[i] = {r2(x), r2(y)}
    end
    -- "time" (seconds on the level), "bonus" (the time bonus of a cleared level) and a player's fifth field
    -- (away) are newer than the rest: a client reads them when they are there.
    return {t = "state", tick = w.tick, level = w.level, score = w.score, lives = w.lives, state = w.state,
        gems = gems, players = ps, enemies = es, events = w.events, time = math.floor(w.time * 10) / 10,
        bonus = w.bonus}
end

-- What a level's end adds up to: the points of its gems taken, the level's points and the time bonus (nil when
-- unknown, from a server that does not send it).
function shared.breakdown(w)
    local all = 0
    for _, line in ipairs(data.levels[w.level].map) do
        all = all + select(2, line:gsub("g", ""))
    end
    return (all - w.gems) * data.gem_points, data.level_bonus, w.bonus
end

-- What one network message may hold. The game's own messages stay far below these (a snapshot is under 1.5 KB),
-- so anything longer is refused before it is decoded, and a snapshot carries at most this many of each list.
shared.limits = {message = 4096, events = 32, enemies = 32, gems = 240}

-- A network message decoded as a table, or nil and why not (escaped for the log: the decoder's text quotes the
-- peer's bytes); too long a text is refused without decoding it.
function shared.read_message(text)
    if type(text) ~= "string" then
        return nil, "not a text"
    end
    if #text > shared.limits.message then
        return nil, "too long: " .. #text .. " bytes"
    end
    local m, err = json.try_decode(text)
    if type(m) ~= "table" then
        return nil, util.log_text(err or "not an object")
    end
    return m
end

local STATES = {play = true, cleared = true, won = true, lost = true}
-- The events a world makes, and whether each happens at a place (then it carries x and y on the map).
local EVENT_AT = {pickup = true, hit = true, cleared = true, won = true, open = false, lost = false}

-- v when it is a number from lo to hi (a whole one when asked), else raises "bad <what>"; NaN and the infinities
-- fail the range test.
local function num(v, lo, hi, what, whole)
    if type(v) ~= "number" or not (v >= lo and v <= hi) or whole and v % 1 ~= 0 then
        error("bad " .. what, 0)
    end
    return v
end

-- A snapshot checked field by field against its level's map: the lists it holds, in plain tables, or raises.
local function check_snapshot(s)
    local lv = type(s.level) == "number" and data.levels[s.level]
    if not lv then
        error("bad level", 0)
    end
    if not STATES[s.state] then
        error("bad state", 0)
    end
    local lim = shared.limits
    for key, most in pairs({events = lim.events, enemies = lim.enemies, gems = lim.gems, players = data.max_players}) do
        if s[key] ~= nil and type(s[key]) ~= "table" then
            error("bad " .. key, 0)
        elseif s[key] ~= nil and #s[key] > most then
            error("too many " .. key, 0)
        end
    end
    local cols, rows = #lv.map[1], #lv.map
    local c = {tick = num(s.tick, 0, 1e9, "tick", true), score = num(s.score, 0, 1e9, "score", true),
        lives = num(s.lives, 0, 99, "lives", true), left = {}, players = {}, enemies = {}, events = {},
        time = s.time ~= nil and num(s.time, 0, 1e9, "time") or nil,
        bonus = s.bonus ~= nil and num(s.bonus, 0, data.time_bonus, "bonus", true) or nil}
    for _, g in ipairs(s.gems or {}) do
        local k = num(g, util.key(1, 1), util.key(cols, rows), "gems", true)
        local x, y = k % 100, math.floor(k / 100)
        if lv.map[y]:sub(x, x) ~= "g" then
            error("bad gems", 0)
        end
        c.left[k] = true
    end
    local function place(t, what, from)
        return num(t[from], 1, cols, what), num(t[from + 1], 1, rows, what)
    end
    for i, p in ipairs(s.players or {}) do
        if type(p) ~= "table" or i > data.max_players then
            error("bad player", 0)
        end
        local x, y = place(p, "player", 2)
        c.players[i] = {num(p[1], 0, 1, "player", true), x, y, num(p[4], 0, 1, "player", true),
            num(p[5] or 0, 0, 1, "player", true)}
    end
    for i, e in ipairs(s.enemies or {}) do
        if type(e) ~= "table" then
            error("bad enemy", 0)
        end
        c.enemies[i] = {place(e, "enemy", 1)}
    end
    for _, ev in ipairs(s.events or {}) do
        local at = EVENT_AT[type(ev) == "table" and ev.k or ""]
        if at == nil then
            error("bad event", 0)
        end
        local e = {k = ev.k}
        if at then
            e.x, e.y = num(ev.x, 1, cols, "event"), num(ev.y, 1, rows, "event")
        end
        c.events[#c.events + 1] = e
    end
    return c
end

-- A client's world rebuilt from a snapshot: the level's tiles, then what moved. Every field is checked before
-- the world changes (raising "bad <field>" otherwise), so a bad message from a peer never reaches the drawing,
-- the sounds or the bot: events of known kinds with their places on the map, players and enemies on it.
function shared.apply(w, s)
    local c = check_snapshot(s)
    if not w or w.level ~= s.level then
        w = shared.new_world(s.level)
    end
    w.gems = 0
    for y = 1, w.rows do
        for x = 1, w.cols do
            local t = w.tiles[y][x]
            if t == "g" or t == "G" then
                w.tiles[y][x] = c.left[util.key(x, y)] and "g" or "G" -- "G": taken, remembered as a gem place
                w.gems = w.gems + (c.left[util.key(x, y)] and 1 or 0)
            end
        end
    end
    w.open = w.gems == 0
    w.tick, w.score, w.lives, w.state, w.time, w.bonus = c.tick, c.score, c.lives, s.state, c.time, c.bonus
    for i, p in ipairs(c.players) do
        local m = w.players[i]
        m.active, m.x, m.y, m.fx, m.fy, m.p, m.safe = p[1] == 1, p[2], p[3], p[2], p[3], 1, p[4] == 1 and 1 or 0
        m.moved = p[5] ~= 1
    end
    for i, e in ipairs(c.enemies) do
        local m = w.enemies[i]
        if m then
            m.x, m.y, m.fx, m.fy, m.p = e[1], e[2], e[1], e[2], 1
        end
    end
    w.events = c.events
    return w
end

-- Options and best scores: kept in one saved JSON file; a missing or damaged file gives the defaults.
shared.save = {options = {sound = 0.8, music = 0.5, full = false, players = 1}, scores = setmetatable({}, json.list)}

local function valid_save(s)
    if type(s) ~= "table" or type(s.options) ~= "table" or type(s.scores) ~= "table" then
        return false
    end
    local o = s.options
    if type(o.sound) ~= "number" or type(o.music) ~= "number" or type(o.full) ~= "boolean" or
        type(o.players) ~= "number" then
        return false
    end
    for _, e in ipairs(s.scores) do
        if type(e) ~= "table" or type(e.score) ~= "number" or type(e.level) ~= "number" then
            return false
        end
    end
    return true
end

function shared.load_save()
    local text = kiv.file_load(data.save_file)
    if text == "" then
        return
    end
    local s, err = json.try_decode(text)
    if not valid_save(s) then
        util.notice("save: ignoring damaged " .. data.save_file .. " (" .. util.log_text(err or "unexpected content") ..
                        ")")
        return
    end
    local o = s.options
    shared.save.options = {sound = util.clamp(o.sound, 0, 1), music = util.clamp(o.music, 0, 1), full = o.full,
        players = util.clamp(math.floor(o.players), 1, data.max_players)}
    shared.save.scores = setmetatable({}, json.list)
    for i = 1, math.min(#s.scores, data.best_scores) do
        shared.save.scores[i] = {score = math.floor(s.scores[i].score), level = math.floor(s.scores[i].level),
            name = shared.initials(s.scores[i].name)}
    end
end

function shared.write_save()
    kiv.file_save(data.save_file, json.encode(shared.save))
end

-- A best score's name as saved: data.initials capital letters, or nil for anything else (saves made before
-- scores had names load without one).
function shared.initials(name)
    if type(name) == "string" and #name == data.initials and not name:find("[^A-Z]") then
        return name
    end
end

-- The rank a finished game's score would take among the best, or nil when it would not be among them.
function shared.score_rank(score)
    local list = shared.save.scores
    local rank = #list + 1
    for i, e in ipairs(list) do
        if score > e.score then
            rank = i
            break
        end
    end
    if rank > data.best_scores or score <= 0 then
        return nil
    end
    return rank
end

-- Enters a finished game's score, without a name until its player gives the initials; answers its rank, or nil
-- when it is not among the best.
function shared.add_score(score, level)
    local list = shared.save.scores
    local rank = shared.score_rank(score)
    if not rank then
        return nil
    end
    table.insert(list, rank, {score = score, level = level})
    while #list > data.best_scores do
        table.remove(list)
    end
    shared.write_save()
    return rank
end

function shared.sound(name, x)
    local o = shared.save.options
    if o.sound > 0 then
        local pan = x and util.clamp((x - 10) / 10, -1, 1) or 0
        kiv.sample_play(data.sounds[name], o.sound, pan)
    end
end

function shared.music()
    local vol = shared.save.options.music
    if vol > 0 then
        kiv.stream_play(data.sounds.music, vol)
    else
        kiv.stream_stop(data.sounds.music)
    end
end
