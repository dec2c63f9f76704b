-- The embedded game, headless, played by keys from the command line: "-keys" holds "SECONDS NAME" pairs apart by
-- commas, NAME a key's name or "ctrl+" and one, each logged as "keys: NAME" when pressed. "-patience N" sets how
-- long a demonstration may score nothing. "-steps S" logs the playing world's step count every S seconds as
-- "steps: N".
require("game")

local plan, clock, game_loop = {}, 0, loop
for at, key in (kiv.params("keys") or ""):gmatch("([%d.]+) ([^,]+)") do
    plan[#plan + 1] = {tonumber(at), key}
end
data.demo_patience = tonumber(kiv.params("patience")) or data.demo_patience
local steps_every, steps_next = tonumber(kiv.params("steps")), 0

function loop(t)
    clock = clock + t
    while plan[1] and clock >= plan[1][1] do
        local key = table.remove(plan, 1)[2]
        local ctrl = key:match("^ctrl%+(.+)$")
        print("keys: " .. key)
        event({type = "keydown", key = 1, name = ctrl or key, button = ctrl and 2 or 0, text = ""})
    end
    game_loop(t)
    local w = steps_every and switcher.name == "play" and play.s.world
    if w and clock >= steps_next then
        steps_next = clock + steps_every
        print("steps: " .. w.tick)
    end
end
