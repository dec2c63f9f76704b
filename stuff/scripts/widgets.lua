-- Widget library: a vertical list of buttons, sliders, toggles and text fields with one focused item, driven by
-- keyboard (arrows, Return, Escape, typed text), mouse (hover, click, drag) and joystick (hat, stick, buttons).
-- The owner calls list:event(e) and list:paint(); actions come back through each item's callback. The library
-- knows no game: the owner sets widgets.look (fonts, the view width, the click sound) before drawing.
widgets = {}

-- What the lists and labels draw with; a game puts its own in place.
widgets.look = {
    font = "console",
    font_size = 12,
    title_font = "console",
    title_size = 24,
    view_w = 480,
    sound = function(name) end,
}

local List = {}
List.__index = List

local ROW_H, GAP = 26, 6

local function text_w(s)
    local w = kiv.font_size(widgets.look.font, widgets.look.font_size, s)
    return w or 0
end

-- items: {kind = "button" | "slider" | "toggle" | "field", label, value, on = function(item), ...}; a slider has
-- min, max, step, an optional base its bar fills from and an optional format of its value.
function widgets.list(items, x, y, w)
    local l = setmetatable({items = items, x = x, y = y, w = w, focus = 1, stick = 0, drag = nil}, List)
    for _, it in ipairs(items) do
        it.value = it.value == nil and (it.kind == "field" and "" or it.kind == "toggle" and false or 0) or it.value
    end
    return l
end

function List:rect(i)
    return self.x, self.y + (i - 1) * (ROW_H + GAP), self.w, ROW_H
end

function List:hit(x, y)
    for i = 1, #self.items do
        local rx, ry, rw, rh = self:rect(i)
        if x >= rx and x < rx + rw and y >= ry and y < ry + rh then
            return i
        end
    end
end

function List:move(d)
    self.focus = (self.focus - 1 + d) % #self.items + 1
    widgets.look.sound("click")
end

local function fire(it, l)
    if it.on then
        it.on(it, l)
    end
end

-- Changes a slider or toggle by one step in direction d.
function List:adjust(it, d)
    if it.kind == "slider" then
        it.value = util.clamp(util.round((it.value + d * (it.step or 0.1)) * 100) / 100, it.min or 0, it.max or 1)
        fire(it, self)
    elseif it.kind == "toggle" then
        it.value = not it.value
        fire(it, self)
    end
end

function List:activate(it)
    if it.kind == "toggle" then
        self:adjust(it, 1)
    elseif it.kind ~= "slider" then
        widgets.look.sound("click")
        fire(it, self)
    end
end

local function slider_at(l, it, i, x)
    local rx, _, rw = l:rect(i)
    local t = util.clamp((x - rx - rw / 2) / (rw / 2 - 52), 0, 1)
    -- The same scale the bar is drawn on: from base (the minimum unless given) to the maximum.
    local lo, hi = it.min or 0, it.max or 1
    local base = it.base or lo
    local step = it.step or 0.1
    it.value = util.clamp(util.round((base + t * (hi - base)) / step) * step, lo, hi)
    fire(it, l)
end

-- The handlers of List:event by event type, each given the list, the event and the focused item; each answers
-- true when the event was used.
local on = {}

function on.keydown(l, e, it)
    local k = e.name
    if it and it.kind == "field" and e.key == 0 and e.text ~= "" then
        local b = e.text:byte()
        if b >= 32 and b < 127 and #it.value < (it.max_len or 32) then
            it.value = it.value .. e.text
        end
        return true
    elseif it and it.kind == "field" and k == "Backspace" then
        it.value = it.value:sub(1, -2)
        return true
    elseif it and it.kind == "field" and k == "V" and util.ctrl(e) then
        -- Ctrl+V pastes the clipboard's first line, printable bytes only.
        -- "null" is the verb's argument: without one the engine reads the first of no values (and logs it).
        local text = json.try_decode(kiv.ext_call("clipboard:get", "null")) or ""
        text = type(text) == "string" and text:match("^[^\r\n]*"):gsub("[^ -~]", "") or ""
        it.value = (it.value .. text):sub(1, it.max_len or 32)
        return true
    elseif k == "Up" then
        l:move(-1)
    elseif k == "Down" or k == "Tab" then
        l:move(1)
    elseif k == "Left" or k == "Right" then
        if it then
            l:adjust(it, k == "Left" and -1 or 1)
        end
    elseif k == "Return" or k == "Space" or k == "Keypad Enter" then
        if it then
            l:activate(it)
        end
    elseif k == "Escape" and l.on_back then
        l.on_back()
    else
        return false
    end
    return true
end

function on.motion(l, e)
    -- A motion that moved nothing is the pointer met by a window made anew (a mode switch): it must not take the
    -- focus from the entry chosen with the keys.
    if e.dx == 0 and e.dy == 0 and not l.drag then
        return false
    end
    local i = l:hit(e.x, e.y)
    if i then
        l.focus = i
    end
    if l.drag then
        slider_at(l, l.items[l.drag], l.drag, e.x)
    end
    return i ~= nil
end

function on.down(l, e)
    local i = l:hit(e.x, e.y)
    if not i then
        return false
    end
    l.focus = i
    local hit = l.items[i]
    if hit.kind == "slider" then
        l.drag = i
        slider_at(l, hit, i, e.x)
    else
        l:activate(hit)
    end
    return true
end

function on.up(l)
    l.drag = nil
    return false
end

function on.joyhat(l, e, it)
    if e.y ~= 0 then
        l:move(e.y > 0 and 1 or -1)
    elseif e.x ~= 0 and it then
        l:adjust(it, e.x > 0 and 1 or -1)
    end
    return true
end

function on.joymotion(l, e)
    -- The stick moves the focus once per push past half-way.
    local s = math.abs(e.y) > 0.5 and util.sign(e.y) or 0
    if s ~= 0 and l.stick == 0 then
        l:move(s)
    end
    l.stick = s
    return true
end

function on.joydown(l, e, it)
    if e.button == 0 and it then
        l:activate(it)
    elseif e.button == 1 and l.on_back then
        l.on_back()
    end
    return true
end

-- Answers true when the event was used; "back" (Escape or joystick button 1) goes to the owner's on_back.
function List:event(e)
    local handle = on[e.type]
    if not handle then
        return false
    end
    return handle(self, e, self.items[self.focus])
end

function List:paint(t)
    for i, it in ipairs(self.items) do
        local x, y, w, h = self:rect(i)
        local focused = i == self.focus
        kiv.rect_draw(focused and 0x3C5A8C or 0x242C40, x, y, w, h)
        if focused then
            kiv.rect_draw(0x8CB4FF, x, y + h - 2, w, 2)
        end
        local look = widgets.look
        local fy = y + (h - look.font_size) / 2
        local label = it.label
        if it.kind == "button" then
            kiv.font_draw(look.font, look.font_size, label, x + (w - text_w(label)) / 2, fy, 0xFFFFFF)
        else
            kiv.font_draw(look.font, look.font_size, label, x + 10, fy, 0xC8D2E6)
            local vx = x + w / 2
            if it.kind == "slider" then
                -- The bar fills from base (the minimum unless given), so a count of one shows as a share.
                local lo, hi = it.min or 0, it.max or 1
                local base = it.base or lo
                local f = (it.value - base) / (hi - base)
                local bw = w / 2 - 52
                kiv.rect_draw(0x101420, vx, y + h / 2 - 3, bw, 6)
                kiv.rect_draw(0x8CB4FF, vx, y + h / 2 - 3, bw * f, 6)
                local txt = it.format and it.format(it.value) or tostring(math.floor(f * 100 + 0.5)) .. "%"
                kiv.font_draw(look.font, look.font_size, txt, vx + bw + 8, fy, 0xFFFFFF)
            elseif it.kind == "toggle" then
                kiv.font_draw(look.font, look.font_size, it.value and "ON" or "OFF", vx, fy,
                    it.value and 0x70E070 or 0xE07070)
            elseif it.kind == "field" then
                kiv.rect_draw(0x101420, vx - 4, y + 3, w / 2 - 4, h - 6)
                -- A text longer than the box shows its end, where the caret is.
                local text, room = it.value, w / 2 - 12
                while text ~= "" and text_w(text .. "_") > room do
                    text = text:sub(2)
                end
                local caret = focused and (math.floor((t or 0) * 2) % 2 == 0) and "_" or ""
                kiv.font_draw(look.font, look.font_size, text .. caret, vx, fy, 0xFFFFFF)
            end
        end
    end
end

-- A centred line of text; with back, on a dark band that keeps it readable over whatever moves behind it.
function widgets.label(s, y, color, big, back)
    local look = widgets.look
    local font, size = big and look.title_font or look.font, big and look.title_size or look.font_size
    local w = kiv.font_size(font, size, s) or 0
    if back and s ~= "" then
        kiv.image_draw("black", (look.view_w - w) / 2 - 8, y - 4, w + 16, size + 8, 0, 0xFFFFFF, 190)
    end
    kiv.font_draw(font, size, s, (look.view_w - w) / 2, y, color or 0xFFFFFF)
end
