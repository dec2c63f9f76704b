-- A grey field with particles of the bench sprite over it; the display test sets the globals and reads pixels.
spawn = spawn or {}
function _init() end
function _loop(t) end
function _paint()
    kiv_rect_draw(0x204060, 0, 0, kiv_params_get("view_w"), kiv_params_get("view_h"))
    for _, p in ipairs(spawn) do
        parts_add("bench_sprite", p[1], p[2], p[3], 0, 0, p[4], p[5])
    end
    spawn = {}
    parts_draw()
end
