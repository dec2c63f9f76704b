-- The game's top module: a placeholder scene (a square bouncing inside the view) until the game lands.
require("api")

local box = {x = 0, y = 0, dx = 120, dy = 90, size = 48}

function init()
    print("game: init")
end

function loop(t)
    local w = kiv.params("view_w") or 0
    local h = kiv.params("view_h") or 0
    box.x = box.x + box.dx * t
    box.y = box.y + box.dy * t
    if box.x < 0 or box.x + box.size > w then
        box.dx = -box.dx
        box.x = math.max(0, math.min(box.x, w - box.size))
    end
    if box.y < 0 or box.y + box.size > h then
        box.dy = -box.dy
        box.y = math.max(0, math.min(box.y, h - box.size))
    end
end

function event(e)
    if e.type == "keydown" and e.name == "Escape" then
        kiv.ext_call("exit")
    end
end

function paint()
    local w = kiv.params("view_w") or 0
    local h = kiv.params("view_h") or 0
    kiv.rect_draw(0x203040, 0, 0, w, h)
    kiv.rect_draw(0xE0A020, box.x, box.y, box.size, box.size)
end
