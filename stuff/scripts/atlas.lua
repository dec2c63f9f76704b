-- Atlas loader: loads the generated sheets with sharp (nearest) sampling and cuts them into named images with
-- the "image:sub" extension verb: "game_wall", "game_floor", ... one per cell of data.sheets, inside its border;
-- and each level's picture, "game_level1" on.
atlas = {loaded = false}

-- Names are made once: drawing asks for them every frame.
local names = setmetatable({}, {__index = function(t, cell)
    local n = "game_" .. cell
    t[cell] = n
    return n
end})

function atlas.name(cell)
    return names[cell]
end

function atlas.load()
    -- Without a window there are no images to cut (servers, bots, tests).
    if atlas.loaded or kiv.params("idiom") ~= "desktop" then
        return
    end
    local c, b = data.cell, data.cell_border
    local pitch = c + 2 * b
    for _, sheet in ipairs(data.sheets) do
        kiv.ext_call("image:load", json.encode({name = sheet.name, filter = "nearest"}))
        local w = #sheet.cells * pitch
        for i, cell in ipairs(sheet.cells) do
            kiv.ext_call("image:sub", json.encode({name = atlas.name(cell), source = sheet.name,
                x = ((i - 1) * pitch + b) / w, y = b / pitch, width = c / w, height = c / pitch}))
        end
    end
    for n = 1, #data.levels do
        kiv.ext_call("image:load", json.encode({name = atlas.name("level" .. n), filter = "nearest"}))
    end
    atlas.loaded = true
end

function atlas.draw(cell, x, y, w, h, color, alpha)
    kiv.image_draw(names[cell], x, y, w, h, 0, color or 0xFFFFFF, alpha or 255)
end
