-- Module switcher: runs one screen module at a time (start, loop, event, paint, stop) and starts the running one
-- again on "resize", so each screen lays itself out for the new window.
switcher = {screens = {}, name = nil, current = nil, args = nil, time = 0}

function switcher.register(name, screen)
    switcher.screens[name] = screen
end

function switcher.go(name, args)
    local s = switcher.screens[name]
    assert(s, "no screen named " .. tostring(name))
    if switcher.current and switcher.current.stop then
        switcher.current.stop()
    end
    switcher.name, switcher.current, switcher.args = name, s, args or {}
    util.log("screen: " .. name)
    s.start(switcher.args)
end

function switcher.restart()
    if switcher.current then
        if switcher.current.stop then
            switcher.current.stop()
        end
        switcher.current.start(switcher.args)
    end
end

function switcher.loop(t)
    switcher.time = switcher.time + t
    if switcher.current and switcher.current.loop then
        switcher.current.loop(t)
    end
end

function switcher.event(e)
    if e.type == "resize" then
        switcher.restart()
        return
    end
    if switcher.current and switcher.current.event then
        switcher.current.event(e)
    end
end

function switcher.paint()
    kiv.view_set(0, 0, data.view_w, data.view_h)
    -- A screen that covers the whole view with its own pixels draws over no background.
    if not (switcher.current and switcher.current.covers and switcher.current.covers()) then
        kiv.rect_draw(0x0C1018, 0, 0, data.view_w, data.view_h)
    end
    if switcher.current and switcher.current.paint then
        switcher.current.paint()
    end
end
