-- The embedded game, headless, played by keys from the command line: "-keys" holds "SECONDS KEY" pairs apart by
-- commas, a KEY being a key name ("Down", "Escape"), "ctrl+NAME" or "text:CHARACTERS" (typed text). Each is
-- logged as "keys: KEY" when it is pressed, and "keys: done" follows the last. "-patience N" sets how long a
-- demonstration may score nothing.
require("game")

local plan = {}
for at, key in (kiv.params("keys") or ""):gmatch("%s*([%d.]+) ([^,]+)") do
    plan[#plan + 1] = {tonumber(at), key}
end
if kiv.params("patience") then
    data.demo_patience = tonumber(kiv.params("patience"))
end

local function press(key)
    local text = key:match("^text:(.+)$")
    if text then
        for c in text:gmatch(".") do
            event({type = "keydown", key = 0, name = "", button = 0, text = c})
        end
        return
    end
    local name = key:match("^ctrl%+(.+)$")
    local e = {type = "keydown", key = 1, name = name or key, button = name and 2 or 0, text = ""}
    event(e)
    event({type = "keyup", key = 1, name = e.name, button = e.button, text = ""})
end

local clock, game_loop = 0, loop
function loop(t)
    clock = clock + t
    while plan[1] and clock >= plan[1][1] do
        local key = table.remove(plan, 1)[2]
        print("keys: " .. key)
        press(key)
        if not plan[1] then
            print("keys: done")
        end
    end
    game_loop(t)
end
