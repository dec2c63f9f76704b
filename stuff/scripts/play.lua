-- The play screen: the tile map, players, enemies and the score line, drawn to scale in the view; local play runs
-- the world here at a fixed step, network play draws the server's snapshots and sends this player's direction.
-- Player 1 steers with the arrows (or anything when alone), player 2 with W A S D, players 3 and 4 with joysticks.
-- Escape, P, Pause or joystick button 1 or 2 (the second and third) open the pause menu; it stops a local world
-- (the server's goes on), and a local game opens it by itself when the window loses the focus or is minimised.
-- Escape while connecting goes back to the join menu. A demonstration ("demo") keeps no score, starts again when
-- it ends or scores nothing for data.demo_patience seconds, and gives way to the title on a key.
play = {}

local T, TOP = data.tile, data.hud_h
local GEM_COLOR, HIT_COLOR = 0x40E0D0, 0xFF5030
-- Beyond this many lives the score line shows one heart and their number.
local MAX_HEARTS = 5

-- The fastest a spark may fly from c along the unit step u for its life and still end, radius included, inside
-- lo to hi: the engine clips where sparks are born, not where they fly.
local function reach(c, u, life, radius, lo, hi)
    if u > 0 then
        return (hi - radius - c) / (u * life)
    elseif u < 0 then
        return (c - radius - lo) / (-u * life)
    end
    return math.huge
end

local function burst(x, y, n, color, speed, life)
    local cx, cy = (x - 0.5) * T, TOP + (y - 0.5) * T
    local r = util.random(math.floor(x * 977 + y * 131 + switcher.time * 1000))
    for i = 1, n do
        local a, s, radius, d = r() * 2 * math.pi, speed * (0.3 + r()), 3 + r() * 3, life * (0.5 + r())
        local ux, uy = math.cos(a), math.sin(a)
        s = math.max(0, math.min(s, reach(cx, ux, d, radius, 0, data.view_w), reach(cy, uy, d, radius, TOP,
            data.view_h)))
        parts_add(atlas.name("spark"), cx, cy, radius, ux * s, uy * s, d, color)
    end
end

-- Sounds and sparks for what happened in the world since the last frame.
local function react(s, events)
    for _, ev in ipairs(events) do
        if ev.k == "pickup" then
            shared.sound("pickup", ev.x)
            burst(ev.x, ev.y, 14, GEM_COLOR, 60, 0.6)
        elseif ev.k == "hit" then
            shared.sound("hit", ev.x)
            burst(ev.x, ev.y, 24, HIT_COLOR, 90, 0.8)
        elseif ev.k == "open" then
            shared.sound("click")
        elseif ev.k == "cleared" or ev.k == "won" then
            shared.sound("pickup", ev.x)
            for i = 0, 3 do
                burst(ev.x, ev.y, 16, data.player_colors[i + 1], 120, 1.2)
            end
        end
    end
end

-- --- input

local function held(s, ...)
    for _, k in ipairs({...}) do
        if s.keys[k] then
            return true
        end
    end
    return false
end

local function key_dir(s, up, down, left, right)
    local dx = (held(s, right) and 1 or 0) - (held(s, left) and 1 or 0)
    local dy = (held(s, down) and 1 or 0) - (held(s, up) and 1 or 0)
    return dx, dy
end

local function joy_dir(s, n)
    local j = s.joys[n]
    if not j then
        return 0, 0
    end
    local x, y = j.hx ~= 0 and j.hx or j.sx, j.hy ~= 0 and j.hy or j.sy
    local dx = math.abs(x) > 0.4 and util.sign(x) or 0
    local dy = math.abs(y) > 0.4 and util.sign(y) or 0
    return dx, dy
end

local function pick(dx, dy, ...)
    if dx ~= 0 or dy ~= 0 then
        return dx, dy
    end
    local more = {...}
    if #more >= 2 then
        return pick(more[1], more[2], select(3, ...))
    end
    return 0, 0
end

-- The wanted direction of local player i.
local function wanted(s, i)
    local ax, ay = key_dir(s, "Up", "Down", "Left", "Right")
    local wx, wy = key_dir(s, "W", "S", "A", "D")
    if s.local_players == 1 then
        local jx, jy = joy_dir(s, 1)
        return {pick(ax, ay, wx, wy, jx, jy)}
    end
    if i == 1 then
        return {ax, ay}
    elseif i == 2 then
        return {wx, wy}
    end
    return {joy_dir(s, i - 2)}
end

local function joy(s, device)
    if not s.joys.by_device[device] then
        s.joys[#s.joys + 1] = {sx = 0, sy = 0, hx = 0, hy = 0}
        s.joys.by_device[device] = #s.joys
    end
    return s.joys[s.joys.by_device[device]]
end

-- --- the screen

function play.start(args)
    -- A restart (after "resize") keeps the running session.
    local s = args.session
    if not s then
        s = {mode = args.mode, keys = {}, joys = {by_device = {}}, acc = 0, level = 0, score = 0, ticks = 0,
            clock = 0, demo = args.demo, still = 0, alpha = 1}
        args.session = s
        if s.mode == "net" then
            s.client = netplay.connect(args.host, args.port)
            s.bot = args.bot
            s.local_players = 1
        else
            s.bot = args.bot
            s.local_players = util.clamp(math.floor(args.players or 1), 1, data.max_players)
            s.world = shared.new_world(data.levels[args.level or 1] and args.level or 1, 0, args.lives)
            for i = 1, s.local_players do
                shared.join(s.world, i)
            end
        end
    end
    play.s = s
    parts_clip(0, TOP, data.view_w, data.view_h - TOP)
end

local function demo_again()
    util.log("play: the demonstration starts again")
    local a = switcher.args
    switcher.go("play", {mode = "local", players = 1, bot = true, demo = true, level = a.level, lives = a.lives})
end

local function finish(s, w)
    util.log(string.format("play: game %s with score %d on level %d", w.state, w.score, w.level))
    if s.demo then
        -- A demonstration's score is nobody's: it only starts again, as on a title screen.
        demo_again()
        return
    end
    -- Saved at once, so the score is kept even when the game is closed before the initials are given.
    local rank = shared.add_score(w.score, w.level)
    switcher.go("over", {won = w.state == "won", score = w.score, level = w.level, rank = rank,
        entry = rank and shared.save.scores[rank], players = s.local_players})
end

-- --- the pause menu: a list of its own over the play field, with the options as a second page

local function resume(s)
    s.pause = nil
    s.keys = {}
end

local function quit(s)
    if s.client then
        s.client:close()
    end
    switcher.go("menu")
end

local function pause_page(s)
    local items = {
        {kind = "button", label = "RESUME", on = function()
            resume(s)
        end},
        {kind = "button", label = "OPTIONS", on = function()
            s.pause.list = menus.options_list(112, function()
                pause_page(s)
                s.pause.list.focus = 2
            end)
            s.pause.page = "options"
        end},
        {kind = "button", label = "QUIT TO TITLE", on = function()
            quit(s)
        end},
    }
    s.pause.list = widgets.list(items, (data.view_w - 240) / 2, 120, 240)
    s.pause.list.on_back = function()
        resume(s)
    end
    s.pause.page = "pause"
end

local function open_pause(s)
    s.pause = {}
    pause_page(s)
    shared.sound("click")
end

local PAUSE_KEYS = {Escape = true, P = true, Pause = true}

local function note_changes(s, w)
    if w.level ~= s.level then
        s.level, s.still = w.level, 0
        util.log(string.format("%s: level %d", s.mode == "net" and "client" or "play", w.level))
    end
    if w.score ~= s.score then
        s.score, s.still = w.score, 0
        util.log(string.format("%s: score %d", s.mode == "net" and "client" or "play", w.score))
    end
end

function play.loop(t)
    local s = play.s
    if s.pause and s.mode ~= "net" then
        return -- the world, its sparks and its clock stand still
    end
    s.clock = s.clock + t
    parts_loop(t)
    if s.mode == "net" then
        local c = s.client
        local events = c:poll(t)
        s.alpha = c:alpha()
        react(s, events)
        if c.world then
            note_changes(s, c.world)
            if c.world.tick % 30 == 0 and c.world.tick ~= s.ticks then
                s.ticks = c.world.tick
                util.log(string.format("client: tick %d level %d score %d", c.world.tick, c.world.level,
                    c.world.score))
            end
        end
        local dir = s.bot and bot.think(c.world, c.slot) or s.pause and {0, 0} or wanted(s, 1)
        c:input(dir[1], dir[2], t)
        if c.state == "closed" and s.bot then
            -- Nobody watches a bot client: it ends, with a failure status for whoever started it. Scripts have no
            -- exit status of their own, so this is Lua's os.exit; the host is closed and nothing is being saved.
            print("client: the bot stops, " .. (c.reason or "disconnected"))
            os.exit(1)
        elseif c.state == "closed" then
            switcher.go("join", {message = c.reason or "disconnected", address = switcher.args.address})
        end
        return
    end
    local w = s.world
    s.acc = math.min(s.acc + t, 0.25)
    while s.acc >= data.tick do
        s.acc = s.acc - data.tick
        shared.remember(w)
        local inputs = {}
        for i = 1, s.local_players do
            inputs[i] = s.bot and i == 1 and bot.think(w, 1) or wanted(s, i)
        end
        shared.step(w, inputs, data.tick)
        react(s, w.events)
        s.still = s.still + data.tick
        note_changes(s, w)
        if s.demo and s.still >= data.demo_patience then
            -- Whatever keeps the bot from its gems, a demonstration that shows nothing happening must not last.
            util.log(string.format("play: the demonstration scored nothing on level %d for %g s", w.level,
                data.demo_patience))
            demo_again()
            return
        end
        if w.state ~= "play" and w.timer <= 0 then
            local nw = shared.next_world(w)
            if not nw then
                finish(s, w)
                return
            end
            s.world, w = nw, nw
        end
    end
    -- What is drawn lies between the last two steps, by the share of a step the clock has run past the last.
    s.alpha = s.acc / data.tick
end

-- Escape (or joystick button 2) while connecting gives up the connection: there is no game to pause yet.
local function connecting_event(s, e)
    if e.type == "keydown" and e.name == "Escape" or e.type == "joydown" and e.button == 1 then
        util.log("client: connecting given up")
        s.client:close()
        switcher.go("join", {address = switcher.args.address})
    end
end

function play.event(e)
    local s = play.s
    if e.type == "reset" then
        s.remade = switcher.time
    elseif e.type == "blur" then
        -- The keys held now are released where this game no longer hears them. The window that Ctrl+F replaced
        -- loses the focus as it goes: that is no reason to pause.
        s.keys, s.joys = {}, {by_device = {}}
        local remade = s.remade and switcher.time - s.remade < 1
        if s.mode ~= "net" and not s.demo and not s.pause and not remade then
            util.log("play: paused, the window lost the focus")
            open_pause(s)
        end
        return
    end
    if s.client and not s.client.world then
        connecting_event(s, e)
        return
    end
    if s.demo and (e.type == "keydown" and (PAUSE_KEYS[e.name] or e.name == "Return" or e.name == "Space") or
        e.type == "joydown") then
        switcher.go("menu")
        return
    end
    if s.pause then
        if e.type == "keyup" then
            s.keys[e.name] = false
        elseif e.type == "keydown" and s.pause.page == "pause" and (e.name == "P" or e.name == "Pause") or
            e.type == "joydown" and e.button == 2 then
            resume(s)
        else
            s.pause.list:event(e)
        end
        return
    end
    if e.type == "keydown" and e.key ~= 0 then
        s.keys[e.name] = true
        if PAUSE_KEYS[e.name] then
            open_pause(s)
        end
    elseif e.type == "joydown" and (e.button == 1 or e.button == 2) then
        open_pause(s)
    elseif e.type == "keyup" then
        s.keys[e.name] = false
    elseif e.type == "joymotion" and e.button == 0 then
        local j = joy(s, e.device)
        j.sx, j.sy = e.x, e.y
    elseif e.type == "joyhat" then
        local j = joy(s, e.device)
        j.hx, j.hy = e.x, e.y
    end
end

-- --- drawing

-- The map: the level's picture (walls, floors and spikes, made from its map when the game was built) as one
-- opaque quad, the exits from the opaque tile sheet over it, then the sprites.
local function draw_world(w, t, alpha)
    kiv.image_draw(atlas.name("level" .. w.level), 0, TOP, w.cols * T, w.rows * T)
    -- Exits and gems in one pass: a gem stays inside its own tile however it bobs.
    for y = 1, w.rows do
        local row = w.tiles[y]
        for x = 1, w.cols do
            local c = row[x]
            if c == "X" then
                atlas.draw("exit", (x - 1) * T, TOP + (y - 1) * T, T, T, w.open and 0xFFFFFF or 0x606060)
            elseif c == "g" then
                local bob = math.sin(t * 4 + x + y) * 2
                atlas.draw("gem", (x - 1) * T + 3, TOP + (y - 1) * T + 3 + bob, T - 6, T - 6)
            end
        end
    end
    for _, e in ipairs(w.enemies) do
        local x, y = shared.drawn(e, alpha)
        atlas.draw("enemy", (x - 1) * T + 1, TOP + (y - 1) * T + 1, T - 2, T - 2)
    end
    for i, p in ipairs(w.players) do
        if p.active then
            local x, y = shared.drawn(p, alpha)
            local blink = p.safe > 0 and math.floor(t * 10) % 2 == 0
            atlas.draw("player", (x - 1) * T + 2, TOP + (y - 1) * T + 1, T - 4, T - 2, data.player_colors[i],
                blink and 90 or 255)
        end
    end
end

-- Who is who when more than one plays: each player's number over its figure, "YOU" with this client's own and
-- "AWAY" with one who has not moved on this level, on a dark backing that keeps them readable over bricks.
local function labels(w, you, alpha)
    local f, size = data.font, data.font_size
    local on_tile = {} -- labels already drawn for a tile: players standing together get theirs stacked
    for i, p in ipairs(w.players) do
        if p.active then
            local x, y = shared.drawn(p, alpha)
            local key = util.key(math.floor(x + 0.5), math.floor(y + 0.5))
            local k = on_tile[key] or 0
            on_tile[key] = k + 1
            local text = i .. (i == you and " YOU" or "") .. (shared.away(p) and " AWAY" or "")
            local tw = kiv.font_size(f, size, text) or 0
            local cx, top = (x - 0.5) * T, TOP + (y - 1) * T - (size + 2) * (k + 1)
            if top < TOP then -- no room above the figure: below it
                top = TOP + y * T + (size + 2) * k
            end
            local left = util.clamp(cx - tw / 2, 1, data.view_w - tw - 1)
            kiv.image_draw("black", left - 1, top - 1, tw + 2, size + 2, 0, 0xFFFFFF, 190)
            kiv.font_draw(f, size, text, left, top, data.player_colors[i])
        end
    end
end

local function hud(w, s)
    kiv.rect_draw(0x181E2C, 0, 0, data.view_w, TOP)
    local f, size = data.font, data.font_size
    kiv.font_draw(f, size, string.format("LEVEL %d  %s", w.level, w.name or data.levels[w.level].name), 8, 10,
        0xFFD040)
    kiv.font_draw(f, size, "SCORE " .. util.digits(w.score), 250, 10, 0xFFFFFF)
    if w.time then -- the sooner the exit is reached, the bigger the bonus
        local secs = math.floor(w.time)
        local text = string.format("TIME %d:%02d", math.floor(secs / 60), secs % 60)
        kiv.font_draw(f, size, text, 238 - (kiv.font_size(f, size, text) or 0), 10, 0x8CB4FF)
    end
    for i = 1, w.lives > MAX_HEARTS and 1 or w.lives do
        atlas.draw("heart", data.view_w - 20 * i, 8, 16, 16)
    end
    if w.lives > MAX_HEARTS then
        local text = tostring(w.lives)
        kiv.font_draw(f, size, text, data.view_w - 24 - (kiv.font_size(f, size, text) or 0), 10, 0xFFFFFF)
    end
    local msg = ({cleared = "LEVEL CLEARED!", won = "ALL LEVELS CLEARED!", lost = "NO LIVES LEFT"})[w.state]
    if msg then
        widgets.label(msg, TOP + 110, 0xFFFFFF, true, true)
    end
    if w.state == "cleared" or w.state == "won" then
        local gems, level, bonus = shared.breakdown(w)
        local text = string.format("GEMS %d + LEVEL %d", gems, level) ..
                         (bonus and string.format(" + TIME BONUS %d", bonus) or "")
        widgets.label(text, TOP + 146, 0xFFD040, false, true)
    end
    if s.demo then
        widgets.label("DEMONSTRATION - press Return", data.view_h - 22, 0xFFD040, false, true)
    end
end

local function pause_paint(s)
    -- The play field dimmed under the menu.
    kiv.image_draw("black", 0, TOP, data.view_w, data.view_h - TOP, 0, 0xFFFFFF, 170)
    local p = s.pause
    if p.page == "pause" then
        widgets.label(s.mode == "net" and "MENU" or "PAUSED", 60, 0xFFD040, true)
        if s.mode == "net" then
            widgets.label("the game goes on meanwhile", 94, 0x8090A8)
        end
        local keys = s.local_players > 1 and "1: arrows   2: W A S D   3 and 4: joysticks" or
                         "move: arrows, W A S D or a joystick"
        widgets.label(keys, 232, 0xC8D2E6)
        widgets.label("Escape, P or Pause: back to the game", 250, 0x8090A8)
        widgets.label("menus: Up and Down choose, Left and Right change, Return", 268, 0x8090A8)
    else
        widgets.label("OPTIONS", 60, 0xFFD040, true)
    end
    p.list:paint(switcher.time)
end

-- The world covers the whole view, so the switcher need not clear it first.
function play.covers()
    local s = play.s
    return s and (s.world or s.client and s.client.world) and true or false
end

function play.paint()
    local s = play.s
    local w = s.world or (s.client and s.client.world)
    if w then
        draw_world(w, s.mode == "net" and switcher.time or s.clock, s.alpha)
        parts_draw()
        if s.client or s.local_players > 1 then
            labels(w, s.client and s.client.slot, s.alpha)
        end
        hud(w, s)
        if s.client then
            s.client:paint(w)
        end
    else
        parts_draw()
        local c = s.client
        widgets.label(c.state == "closed" and (c.reason or "disconnected") or "connecting to " .. c.host .. ":" ..
                          c.port .. " ...", 150, 0xFFFFFF)
    end
    if s.pause then
        pause_paint(s)
    end
end

function play.stop()
end

switcher.register("play", play)
