-- Atlas loader: loads the generated tile sheet with sharp (nearest) sampling and cuts it into named images with
-- the "image:sub" extension verb: "game_wall", "game_floor", ... one per cell of data.cells.
atlas = {loaded = false}

function atlas.name(cell)
    return "game_" .. cell
end

function atlas.load()
    -- Without a window there are no images to cut (servers, bots, tests).
    if atlas.loaded or kiv.params("idiom") ~= "desktop" then
        return
    end
    kiv.ext_call("image:load", json.encode({name = data.sheet, filter = "nearest"}))
    local n = #data.cells
    for i, cell in ipairs(data.cells) do
        kiv.ext_call("image:sub", json.encode({name = atlas.name(cell), source = data.sheet, x = (i - 1) / n, y = 0,
            width = 1 / n, height = 1}))
    end
    atlas.loaded = true
end

function atlas.draw(cell, x, y, w, h, color, alpha)
    kiv.image_draw(atlas.name(cell), x, y, w, h, 0, color or 0xFFFFFF, alpha or 255)
end
