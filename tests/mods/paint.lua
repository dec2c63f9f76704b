-- Paints the whole view in the colour named by the global colour; counts its _paint calls.
colour = colour or 0xFF0000
paints = paints or 0
function _init() end
function _loop(t) end
function _paint()
    paints = paints + 1
    kiv_rect_draw(colour, 0, 0, kiv_params_get("view_w"), kiv_params_get("view_h"))
end
