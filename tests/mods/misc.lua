-- Draws the images listed in draws ({name, x, y, w, h} each) and records every resize it hears of.
draws = draws or {}
resizes = resizes or ""
function _init() end
function _loop(t) end
function _paint()
    for _, d in ipairs(draws) do kiv_image_draw(d[1], d[2], d[3], d[4], d[5]) end
end
function _event(e)
    if e.type == "resize" then resizes = resizes .. e.w .. "x" .. e.h .. ";" end
end
