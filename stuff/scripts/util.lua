-- Utilities: small helpers that every other module of the game uses (numbers, tables, text, a seeded random source).
util = {}

function util.clamp(v, lo, hi)
    if v < lo then
        return lo
    elseif v > hi then
        return hi
    end
    return v
end

function util.lerp(a, b, t)
    return a + (b - a) * t
end

function util.round(v)
    return math.floor(v + 0.5)
end

function util.sign(v)
    return v > 0 and 1 or v < 0 and -1 or 0
end

function util.trim(s)
    return (s:gsub("^%s+", ""):gsub("%s+$", ""))
end

-- One number for the tile place (x, y), for sets of places and the gem list peers exchange: rows are under 100
-- tiles wide.
function util.key(x, y)
    return y * 100 + x
end

-- Whether Ctrl was held in a key event (its modifier bits: 1 Shift, 2 Ctrl, 4 Alt, 8 GUI).
function util.ctrl(e)
    return math.floor(e.button / 2) % 2 == 1
end

-- "host:port" into its parts; nil when the port is not a number from 1 to 65535.
function util.parse_address(s)
    local host, port = util.trim(s or ""):match("^([^:]+):(%d+)$")
    port = tonumber(port)
    if not host or not port or port < 1 or port > 65535 then
        return nil
    end
    return host, port
end

-- A seeded linear congruential source: r() gives 0..1, r(n) gives 1..n. The same seed gives the same sequence on
-- every peer.
function util.random(seed)
    local s = math.floor(seed or 1) % 2147483647
    if s <= 0 then
        s = 1
    end
    return function(n)
        s = (s * 16807) % 2147483647
        if n then
            return s % n + 1
        end
        return s / 2147483647
    end
end

-- A number as text padded to width digits.
function util.digits(n, width)
    return string.format("%0" .. (width or 6) .. "d", math.floor(n))
end

-- Outside text (what a peer sent, what a file holds) made safe for one log line, escaped as the engine escapes
-- what it logs: the game's lines and the engine's read alike.
function util.log_text(s)
    return kiv_log_text(tostring(s))
end

-- A log line at most once per `every` seconds of the caller's clock, so that a flood of one event costs a line
-- now and then; the events in between are held and counted for the next line. The first line is due at once.
local NoteLimit = {}
NoteLimit.__index = NoteLimit

function util.note_limit(every)
    return setmetatable({every = every, next = 0, held = 0}, NoteLimit)
end

-- Counts an event at now: nil while no line is due, else the number of the earlier events not logged.
function NoteLimit:note(now)
    if now < self.next then
        self.held = self.held + 1
        return nil
    end
    return self:take(now)
end

-- Whether events are held and a line for them is due at now.
function NoteLimit:waiting(now)
    return self.held > 0 and now >= self.next
end

-- Marks a line logged at now and answers the events held for it.
function NoteLimit:take(now)
    local n = self.held
    self.next, self.held = now + self.every, 0
    return n
end

-- A progress line for the log when there is no window (servers, bots, tests). In a window the first log line
-- would open the console over the game, so only what a player must see is printed there.
function util.log(text)
    if kiv.params("idiom") ~= "desktop" then
        print(text)
    end
end

-- A notice for the player (a damaged save, a bad command line): in the log without a window, as the progress
-- lines; in a window on standard error, since the first log line would open the console over the title.
function util.notice(text)
    if kiv.params("idiom") ~= "desktop" then
        print(text)
    else
        io.stderr:write(text, "\n")
    end
end
