-- The menus: title (play, join, options, best scores, quit), the join field, options, the best scores and the end
-- of a game. Each is a screen module of the switcher, laid out from the view size when it starts.
menus = {}

local function centred_list(items, y, w)
    w = w or 240
    return widgets.list(items, (data.view_w - w) / 2, y, w)
end

local function backdrop()
    -- A slow field of sparks behind every menu.
    local t = switcher.time
    for i = 1, 24 do
        local x = (i * 97 + t * (10 + i % 7) * 3) % data.view_w
        local y = (i * 53 + t * (6 + i % 5)) % data.view_h
        kiv.image_draw(atlas.name("spark"), x - 4, y - 4, 8, 8, 0, data.player_colors[i % 4 + 1], -90)
    end
end

-- --- title

local title = {}

function title.start(args)
    local o = shared.save.options
    title.list = centred_list({
        {kind = "button", label = "PLAY", on = function()
            switcher.go("play", {mode = "local", players = o.players})
        end},
        {kind = "slider", label = "PLAYERS", value = o.players, min = 1, max = data.max_players, step = 1,
            format = function(v)
                return tostring(math.floor(v))
            end, on = function(it)
                o.players = math.floor(it.value)
                shared.write_save()
            end},
        {kind = "button", label = "JOIN A GAME", on = function()
            switcher.go("join")
        end},
        {kind = "button", label = "OPTIONS", on = function()
            switcher.go("options")
        end},
        {kind = "button", label = "BEST SCORES", on = function()
            switcher.go("scores")
        end},
        {kind = "button", label = "QUIT", on = function()
            kiv.ext_call("exit")
        end},
    }, 104)
end

function title.event(e)
    title.list:event(e)
end

function title.paint()
    backdrop()
    widgets.label(data.title, 40, 0xFFD040, true)
    widgets.label("arrows, mouse or joystick - Return to choose", 74, 0x8090A8)
    title.list:paint(switcher.time)
end

switcher.register("menu", title)

-- --- join

local join = {}

function join.start(args)
    join.message = args.message or ""
    join.list = centred_list({
        {kind = "field", label = "SERVER", value = args.address or ("127.0.0.1:" .. data.default_port), max_len = 40},
        {kind = "button", label = "JOIN", on = function(_, l)
            local address = l.items[1].value
            local host, port = util.parse_address(address)
            if not host then
                join.message = "type a host and port, as 127.0.0.1:" .. data.default_port
                return
            end
            switcher.go("play", {mode = "net", host = host, port = port, address = address})
        end},
        {kind = "button", label = "BACK", on = function()
            switcher.go("menu")
        end},
    }, 120, 320)
    join.list.on_back = function()
        switcher.go("menu")
    end
end

function join.event(e)
    join.list:event(e)
end

function join.paint()
    backdrop()
    widgets.label("JOIN A GAME", 40, 0xFFD040, true)
    widgets.label("host a game with: kivgame -headless -server " .. data.default_port, 84, 0x8090A8)
    join.list:paint(switcher.time)
    widgets.label(join.message, 230, 0xFF8070)
end

switcher.register("join", join)

-- --- options

local options = {}

local function set_full(on)
    if kiv.params("headless") == nil then
        kiv.ext_call("video:resize", json.encode({width = kiv.params("window_w"), height = kiv.params("window_h"),
            full = on and 1 or 0}))
    end
end
menus.set_full = set_full

function options.start(args)
    local o = shared.save.options
    options.list = centred_list({
        {kind = "slider", label = "SOUND", value = o.sound, on = function(it)
            o.sound = it.value
            shared.sound("pickup")
            shared.write_save()
        end},
        {kind = "slider", label = "MUSIC", value = o.music, on = function(it)
            o.music = it.value
            shared.music()
            shared.write_save()
        end},
        {kind = "toggle", label = "FULL SCREEN", value = o.full, on = function(it)
            o.full = it.value
            shared.write_save()
            set_full(o.full)
        end},
        {kind = "button", label = "BACK", on = function()
            switcher.go("menu")
        end},
    }, 110, 300)
    options.list.on_back = function()
        switcher.go("menu")
    end
end

function options.event(e)
    options.list:event(e)
end

function options.paint()
    backdrop()
    widgets.label("OPTIONS", 40, 0xFFD040, true)
    options.list:paint(switcher.time)
end

switcher.register("options", options)

-- --- best scores

local scores = {}

function scores.start(args)
    scores.list = centred_list({{kind = "button", label = "BACK", on = function()
        switcher.go("menu")
    end}}, 260, 160)
    scores.list.on_back = function()
        switcher.go("menu")
    end
    scores.mark = args.rank
end

function scores.event(e)
    scores.list:event(e)
end

function scores.paint()
    backdrop()
    widgets.label("BEST SCORES", 40, 0xFFD040, true)
    local list = shared.save.scores
    if #list == 0 then
        widgets.label("no scores yet", 120, 0x8090A8)
    end
    for i, s in ipairs(list) do
        local line = string.format("%d.  %s   level %d", i, util.digits(s.score), s.level)
        widgets.label(line, 90 + i * 24, i == scores.mark and 0xFFD040 or 0xFFFFFF)
    end
    scores.list:paint(switcher.time)
end

switcher.register("scores", scores)

-- --- end of a game

local over = {}

function over.start(args)
    over.args = args
    over.list = centred_list({
        {kind = "button", label = "BEST SCORES", on = function()
            switcher.go("scores", {rank = args.rank})
        end},
        {kind = "button", label = "MENU", on = function()
            switcher.go("menu")
        end},
    }, 200, 200)
    over.list.on_back = function()
        switcher.go("menu")
    end
end

function over.event(e)
    over.list:event(e)
end

function over.paint()
    backdrop()
    local a = over.args
    widgets.label(a.won and "YOU WIN!" or "GAME OVER", 60, a.won and 0x70E070 or 0xFF7060, true)
    widgets.label("score " .. util.digits(a.score) .. "   level " .. a.level, 110, 0xFFFFFF)
    if a.rank then
        widgets.label("a new best score: number " .. a.rank, 140, 0xFFD040)
    end
    over.list:paint(switcher.time)
end

switcher.register("over", over)
