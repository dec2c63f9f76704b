-- The menus: title (play, join, options, best scores, how to play, quit), the join field, options, the best
-- scores, how to play and the end of a game with the initials of a new best score. Each is a screen module of the
-- switcher, laid out from the view size when it starts; a restart (after "resize") keeps the focused entry, and the
-- title keeps it also when a screen it opened comes back to it.
menus = {full = false}

local function keep_focus(list, args)
    list.focus = util.clamp(args.focus or 1, 1, #list.items)
end

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

local title = {focus = 1}

function title.start(args)
    local o = shared.save.options
    title.list = centred_list({
        {kind = "button", label = "PLAY", on = function()
            switcher.go("play", {mode = "local", players = o.players})
        end},
        {kind = "slider", label = "PLAYERS", value = o.players, min = 1, max = data.max_players, step = 1, base = 0,
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
        {kind = "button", label = "HOW TO PLAY", on = function()
            switcher.go("help")
        end},
        {kind = "button", label = "QUIT", on = function()
            kiv.ext_call("exit")
        end},
    }, 92)
    keep_focus(title.list, {focus = args.focus or title.focus})
end

function title.stop()
    switcher.args.focus = title.list.focus
    title.focus = title.list.focus
end

function title.event(e)
    title.list:event(e)
end

function title.paint()
    backdrop()
    widgets.label(data.title, 40, 0xFFD040, true)
    widgets.label("take every gem to open the door - arrows and Return", 68, 0x8090A8)
    title.list:paint(switcher.time)
end

switcher.register("menu", title)

-- --- join

-- The address typed last is kept for the session.
local join = {address = "127.0.0.1:" .. data.default_port}

-- JOIN, and Return in the address field.
local function join_address(_, l)
    local address = l.items[1].value
    local host, port = util.parse_address(address)
    if not host then
        join.message = "type a host and port, as 127.0.0.1:" .. data.default_port
        return
    end
    switcher.go("play", {mode = "net", host = host, port = port, address = address})
end

function join.start(args)
    join.message = args.message or ""
    join.list = centred_list({
        {kind = "field", label = "SERVER", value = args.address or join.address, max_len = 40, on = join_address},
        {kind = "button", label = "JOIN", on = join_address},
        {kind = "button", label = "BACK", on = function()
            switcher.go("menu")
        end},
    }, 120, 320)
    join.list.on_back = function()
        switcher.go("menu")
    end
    keep_focus(join.list, args)
end

function join.stop()
    switcher.args.focus = join.list.focus
    join.address = join.list.items[1].value
end

function join.event(e)
    join.list:event(e)
end

function join.paint()
    backdrop()
    widgets.label("JOIN A GAME", 40, 0xFFD040, true)
    widgets.label("host a game with: kivgame -headless -server " .. data.default_port, 84, 0x8090A8)
    widgets.label("type host:port, Return joins; Escape goes back", 100, 0x8090A8)
    join.list:paint(switcher.time)
    widgets.label(join.message, 230, 0xFF8070)
end

switcher.register("join", join)

-- --- options

local options = {}

-- The window's mode as the game knows it. The engine's own full-screen flag flips on Ctrl+F only (which sends
-- "reset" and opens the window in that mode), and "video:resize" with "full" 1 asks for the mode other than that
-- flag's, so the game keeps both to ask for the one it wants. The size of the window before full screen is kept
-- to come back to.
local engine_full = false
local windowed = {480, 320}

local function note_windowed()
    local w, h = tonumber(kiv.params("window_w")), tonumber(kiv.params("window_h"))
    if w and h and w > 0 and h > 0 then
        windowed = {w, h}
    end
end
menus.window_init = note_windowed

local function set_full(on)
    if kiv.params("headless") ~= nil then
        return
    end
    if on and not menus.full then
        note_windowed()
    end
    menus.full = on
    kiv.ext_call("video:resize", json.encode({width = windowed[1], height = windowed[2],
        full = on ~= engine_full and 1 or 0}))
end
menus.set_full = set_full

-- "reset" is Ctrl+F: the option and the save follow the window. The sizes in the parameters are still the
-- window's before the switch.
function menus.window_event()
    local was = menus.full
    if not was then
        note_windowed()
    end
    engine_full = not engine_full
    if engine_full == was then
        -- The window's mode came from the menu, which asked for the mode other than the engine's flag: the
        -- reset left it as it was, so the switch the player asked for is made here.
        set_full(not was)
    end
    menus.full = not was
    shared.save.options.full = menus.full
    shared.write_save()
    if menus.full_item then
        menus.full_item.value = menus.full
    end
end

-- The entries of the options, also shown by the pause menu; back is the BACK entry's action.
function menus.options_items(back)
    local o = shared.save.options
    menus.full_item = {kind = "toggle", label = "FULL SCREEN", value = menus.full, on = function(it)
        o.full = it.value
        shared.write_save()
        set_full(o.full)
    end}
    return {
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
        menus.full_item,
        {kind = "button", label = "BACK", on = back},
    }
end

function menus.options_list(y, back)
    local l = centred_list(menus.options_items(back), y, 300)
    l.on_back = back
    return l
end

function options.start(args)
    options.list = menus.options_list(110, function()
        switcher.go("menu")
    end)
    keep_focus(options.list, args)
end

function options.stop()
    switcher.args.focus = options.list.focus
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

-- --- how to play

local help = {}

local HELP = {
    {"Take every gem: the green door opens. Walk through it.", 0xFFFFFF},
    {"Red blobs and spikes cost one of the shared lives", 0xFFFFFF},
    {"and send you back to your start.", 0xFFFFFF},
    {"The sooner a level is cleared, the bigger its bonus.", 0xFFFFFF},
    {"Players who have not moved on a level are away: not hurt.", 0x8090A8},
    {"Player 1: arrows (alone also W A S D or a joystick)", 0xC8D2E6},
    {"Player 2: W A S D    players 3 and 4: joysticks", 0xC8D2E6},
    {"Escape, P or Pause: pause the game", 0xC8D2E6},
    {"Menus: Up and Down choose, Left and Right change a value,", 0x8090A8},
    {"Return chooses, Escape goes back (and stops connecting)", 0x8090A8},
}

function help.start()
    help.list = centred_list({{kind = "button", label = "BACK", on = function()
        switcher.go("menu")
    end}}, 276, 160)
    help.list.on_back = function()
        switcher.go("menu")
    end
end

function help.event(e)
    help.list:event(e)
end

function help.paint()
    backdrop()
    widgets.label("HOW TO PLAY", 24, 0xFFD040, true)
    for i, line in ipairs(HELP) do
        widgets.label(line[1], 42 + i * 21, line[2])
    end
    help.list:paint(switcher.time)
end

switcher.register("help", help)

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

function scores.stop()
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
        local line = string.format("%d.  %s  %s   level %d", i, s.name or "---", util.digits(s.score), s.level)
        widgets.label(line, 90 + i * 24, i == scores.mark and 0xFFD040 or 0xFFFFFF)
    end
    scores.list:paint(switcher.time)
end

switcher.register("scores", scores)

-- --- end of a game

local over = {}

local A, Z = string.byte("A"), string.byte("Z")

-- args: won, score, level, rank (of the score already saved among the best, without a name) and entry (that
-- saved record); while args.letters is set the player gives the record its initials.
function over.start(args)
    over.args = args
    if args.entry and not args.named then
        if not args.letters then
            args.letters = {}
            for i = 1, data.initials do
                args.letters[i] = 0 -- an empty box
            end
        end
        args.at = args.at or 1
    end
    over.list = centred_list({
        {kind = "button", label = "PLAY AGAIN", on = function()
            switcher.go("play", {mode = "local", players = args.players or shared.save.options.players})
        end},
        {kind = "button", label = "BEST SCORES", on = function()
            switcher.go("scores", {rank = args.rank})
        end},
        {kind = "button", label = "MENU", on = function()
            switcher.go("menu")
        end},
    }, 196, 200)
    over.list.on_back = function()
        switcher.go("menu")
    end
    keep_focus(over.list, args)
end

function over.stop()
    switcher.args.focus = over.list.focus
end

-- The name saved: the letters given, an empty box as A (the first letter the arrows offer).
local function initials_done(a)
    local name = {}
    for i, b in ipairs(a.letters) do
        name[i] = b ~= 0 and b or A
    end
    a.entry.name = string.char(unpack(name))
    a.named = true
    shared.write_save()
    shared.sound("pickup")
end

-- The initials entry: a.letters (0 for an empty box) and a.at, the box being filled; a.at is one past the last
-- box once every box was typed, so further letters are refused until Backspace takes one away.
function menus.initials_event(a, e)
    local l, n = a.letters, data.initials
    local function turn(d)
        a.at = math.min(a.at, n)
        local b = l[a.at] ~= 0 and l[a.at] or (d > 0 and Z or A) -- from an empty box, Up gives A and Down Z
        l[a.at] = (b - A + d) % (Z - A + 1) + A
        shared.sound("click")
    end
    local function go(d)
        a.at = util.clamp(math.min(a.at, n) + d, 1, n)
    end
    if e.type == "keydown" and e.key == 0 and e.text ~= "" then
        local b = e.text:upper():byte()
        if b >= A and b <= Z and a.at <= n then
            l[a.at] = b
            a.at = a.at + 1
            shared.sound("click")
        end
    elseif e.type == "keydown" then
        local k = e.name
        if k == "Up" then
            turn(1)
        elseif k == "Down" then
            turn(-1)
        elseif k == "Backspace" then
            -- Takes away the letter before the box being filled, as in a line of text.
            a.at = a.at > 1 and a.at - 1 or 1
            l[a.at] = 0
            shared.sound("click")
        elseif k == "Delete" then
            l[math.min(a.at, n)] = 0
        elseif k == "Left" then
            go(-1)
        elseif k == "Right" then
            go(1)
        elseif k == "Return" or k == "Keypad Enter" or k == "Escape" then
            initials_done(a)
        end
    elseif e.type == "joyhat" then
        if e.y ~= 0 then
            turn(e.y > 0 and -1 or 1)
        elseif e.x ~= 0 then
            go(e.x > 0 and 1 or -1)
        end
    elseif e.type == "joydown" and (e.button == 0 or e.button == 1) then
        initials_done(a)
    end
end

function over.event(e)
    local a = over.args
    if a.letters and not a.named then
        menus.initials_event(a, e)
        return
    end
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
    if a.letters and not a.named then
        widgets.label("your initials: type them (Backspace erases) or choose with the arrows", 170, 0x8090A8)
        local size, cw, top, bh = data.title_size, 34, 196, 36
        local x0 = (data.view_w - cw * data.initials) / 2
        local at = math.min(a.at, data.initials)
        for i, b in ipairs(a.letters) do
            local x = x0 + (i - 1) * cw
            kiv.rect_draw(i == at and 0x3C5A8C or 0x242C40, x + 2, top, cw - 4, bh)
            if i == at then
                kiv.rect_draw(0x8CB4FF, x + 2, top + bh - 2, cw - 4, 2)
            end
            if b ~= 0 then
                -- Centred in the box by the capital's height: the top 7 of every 12 units of the game's lines.
                local ch = string.char(b)
                local w = kiv.font_size(data.title_font, size, ch) or 0
                kiv.font_draw(data.title_font, size, ch, x + (cw - w) / 2, top + (bh - 2 - size * 7 / 12) / 2,
                    0xFFFFFF)
            end
        end
        return
    end
    over.list:paint(switcher.time)
end

switcher.register("over", over)
