-- The game's top module: loads the other modules in a fixed order, turns strict globals on and defines the four
-- entry points. "-server PORT" (headless) hosts a co-operative game; "-join HOST:PORT" joins one at start-up
-- ("-bot 1" lets the computer steer there, or in a game of its own without -join); otherwise the title menu opens.
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

function init()
    math.randomseed(os.time())
    shared.load_save()
    local server = kiv.params("server")
    if server ~= nil then
        local port = tonumber(server)
        if port and port >= 1 and port <= 65535 and port % 1 == 0 then
            switcher.go("server", {port = port})
            return
        end
        print("game: -server wants a port from 1 to 65535, not " .. tostring(server))
    end
    atlas.load()
    shared.music()
    if shared.save.options.full then
        menus.set_full(true)
    end
    local join = kiv.params("join")
    if join then
        local host, p = util.parse_address(join)
        if host then
            switcher.go("play", {mode = "net", host = host, port = p, address = join, bot = kiv.params("bot") == "1"})
            return
        end
        print("game: -join wants HOST:PORT, not " .. tostring(join))
    end
    if kiv.params("bot") == "1" then
        switcher.go("play", {mode = "local", players = 1, bot = true})
        return
    end
    switcher.go("menu")
end

function loop(t)
    switcher.loop(t)
end

function event(e)
    if e.type == "keydown" and e.name == "F12" then
        local path = json.try_decode(kiv.ext_call("screenshot", json.encode({filename = "kivgame_screenshot.png"})))
        print("screenshot: " .. (path ~= nil and path ~= "" and tostring(path) or "not written"))
        return
    end
    switcher.event(e)
end

function paint()
    switcher.paint()
end
