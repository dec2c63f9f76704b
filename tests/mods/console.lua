-- The console test's mod: a white frame, one line at every start.
function _init()
    print("console mod init")
end

function _loop(dt)
end

function _event(e)
end

function _paint()
    kiv_rect_draw(0xFFFFFF, 0, 0, 640, 480)
end
