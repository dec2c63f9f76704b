-- The game's top module: loads the other modules in a fixed order, turns strict globals on and defines the four
-- entry points. "-server PORT" (headless) hosts a co-operative game; "-join HOST:PORT" joins one at start-up
-- ("-bot 1" lets the computer steer there, or plays a demonstration without -join, "-level N" starting it on level
-- N, "-lives N" with N lives); otherwise the title menu opens.
require("api")
require("util")
require("json")
require("data")
require("shared")
require("widgets")
require("atlas")
require("switcher")
require("netplay")
require("bot")
require("menus")
require("play")
strict(true)

-- The widget library draws with the game's fonts and clicks with its sounds.
widgets.look = {
    font = data.font,
    font_size = data.font_size,
    title_font = data.title_font,
    title_size = data.title_size,
    view_w = data.view_w,
    sound = function(name)
        shared.sound(name)
    end,
}

-- The demonstration's start level and lives: "-level N" when N names a level, else the first; "-lives N" from 1
-- to 9, else the usual lives. A value given but not taken is logged with the one played.
local function demo_number(name, most, usual, played)
    local given = kiv.params(name)
    local n = tonumber(given)
    if n and n >= 1 and n <= most and n % 1 == 0 then
        return n
    end
    if given ~= nil then
        util.notice(string.format("game: -%s wants 1 to %d, not %s; " .. played, name, most, given, usual))
    end
    return usual
end

-- "-level" and "-lives" set up a demonstration only; elsewhere each one given is logged as not taken.
local function demo_only()
    for _, name in ipairs({"level", "lives"}) do
        local given = kiv.params(name)
        if given ~= nil then
            util.notice(string.format("game: -%s %s not taken: it starts a demonstration only (-bot 1 without -join)",
                name, util.log_text(given)))
        end
    end
end

function init()
    math.randomseed(os.time())
    if kiv.params("caption") == nil then -- a -caption of the command line wins
        kiv.params("caption", data.caption)
    end
    shared.load_save()
    local server = kiv.params("server")
    if server ~= nil then
        local port = tonumber(server)
        if port and port >= 1 and port <= 65535 and port % 1 == 0 then
            demo_only()
            switcher.go("server", {port = port})
            return
        end
        util.notice("game: -server wants a port from 1 to 65535, not " .. tostring(server))
    end
    atlas.load()
    shared.music()
    menus.window_init()
    if shared.save.options.full then
        menus.set_full(true)
    end
    local join = kiv.params("join")
    if join then
        local host, p = util.parse_address(join)
        if host then
            demo_only()
            switcher.go("play", {mode = "net", host = host, port = p, address = join, bot = kiv.params("bot") == "1"})
            return
        end
        util.notice("game: -join wants HOST:PORT, not " .. tostring(join))
        if kiv.params("bot") == "1" then
            -- A bot that cannot join ends as one whose server is gone, with a failure status (nothing is open
            -- yet and nothing is being saved).
            os.exit(1)
        end
    end
    if kiv.params("bot") == "1" then
        switcher.go("play", {mode = "local", players = 1, bot = true, demo = true,
            level = demo_number("level", #data.levels, 1, "playing level %d"),
            lives = demo_number("lives", 9, data.lives, "playing with %d lives")})
        return
    end
    demo_only()
    switcher.go("menu")
end

function loop(t)
    switcher.loop(t)
end

-- A screenshot's file name: the date and time, with a count after it for more than one in a second.
local last_stamp, same_stamp = nil, 0
local function screenshot_name()
    local stamp = os.date("%Y-%m-%d_%H-%M-%S")
    same_stamp = stamp == last_stamp and same_stamp + 1 or 0
    last_stamp = stamp
    return "kivgame_" .. stamp .. (same_stamp > 0 and "_" .. same_stamp or "") .. ".png"
end

function event(e)
    if e.type == "keydown" and e.name == "F12" then
        local path = json.try_decode(kiv.ext_call("screenshot", json.encode({filename = screenshot_name()})))
        util.notice("screenshot: " .. (path ~= nil and path ~= "" and tostring(path) or "not written"))
        return
    end
    if e.type == "reset" then
        menus.window_event()
    end
    switcher.event(e)
end

function paint()
    switcher.paint()
end
