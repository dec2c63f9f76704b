-- Network play over the net_* functions: the headless server screen that owns the world and sends a snapshot
-- every step, and the client that joins it, sends its player's direction and keeps the latest snapshot.
-- Messages are JSON: client "hello" and "input", server "welcome", "full" and "state".
netplay = {}

local function send(cid, msg, mode)
    net_send(cid, json.encode(msg), mode or 1, 0)
end

-- --- server

-- Work the server does per frame, so that no peer can keep it from stepping the world: it stops reading the
-- network after this many events or this many seconds of the frame (the clock is read after every event; the
-- rest waits in the queue for the next frame), and decodes at most this many messages and bytes of one peer per
-- frame (its further messages are dropped unread), so that costly valid JSON cannot stretch a frame.
netplay.frame_events, netplay.frame_seconds, netplay.peer_messages = 400, 0.004, 16
netplay.peer_bytes = 4096
-- One log line per peer per this many seconds about its malformed messages; a peer that takes no slot this long
-- after connecting is let go, as is one whose first message is not a hello, so that connections holding no
-- player cannot fill the host.
netplay.log_every, netplay.hello_wait = 5, 2

local server = {}

function server.start(args)
    server.port = args.port
    server.world = shared.new_world(1)
    server.slots = {} -- cid -> slot
    server.inputs = {}
    server.acc = 0
    server.clock = 0
    -- cid -> {since = connect time, read = messages and bytes this frame, bad = its malformed messages' lines}
    server.peers = {}
    net_host(server.port)
    print("server: listening on port " .. server.port)
end

local function free_slot()
    local used = {}
    for _, s in pairs(server.slots) do
        used[s] = true
    end
    for i = 1, data.max_players do
        if not used[i] then
            return i
        end
    end
end

local function peer(cid)
    local p = server.peers[cid]
    if not p then
        p = {since = server.clock, read = 0, bytes = 0, bad = util.note_limit(netplay.log_every)}
        server.peers[cid] = p
    end
    return p
end

-- The end of a malformed message's line: how many before it were not logged.
local function not_logged(n)
    return n > 0 and string.format("; %d more not logged", n) or ""
end

-- Logs a malformed message at most once per peer per netplay.log_every seconds; the others are counted and
-- their number is logged when the next line is due.
local function malformed(cid, why)
    local more = peer(cid).bad:note(server.clock)
    if more then
        print(string.format("server: dropped a malformed message from %d (%s%s)", cid, why, not_logged(more)))
    end
end

local function held_lines()
    for cid, p in pairs(server.peers) do
        if p.bad:waiting(server.clock) then
            print(string.format("server: dropped %d more malformed messages from %d", p.bad:take(server.clock), cid))
        end
    end
end

local function server_message(cid, text)
    local p = peer(cid)
    p.read = p.read + 1
    if p.read > netplay.peer_messages or p.gone then
        return
    end
    -- A message over the size limit is refused unread below and costs nothing to decode.
    if #text <= shared.limits.message then
        if p.bytes + #text > netplay.peer_bytes then
            return
        end
        p.bytes = p.bytes + #text
    end
    local m, why = shared.read_message(text)
    if not m then
        malformed(cid, why)
    end
    if not server.slots[cid] and not (m and m.t == "hello") then
        p.gone = true
        net_kick(cid)
        print(string.format("server: player %d sent no hello first, let go", cid))
        return
    end
    if not m then
        return
    end
    if m.t == "hello" and not server.slots[cid] then
        local slot = free_slot()
        if not slot then
            send(cid, {t = "full"})
            net_kick(cid)
            p.gone = true
            return
        end
        server.slots[cid] = slot
        shared.join(server.world, slot)
        send(cid, {t = "welcome", slot = slot})
        print(string.format("server: player %d joined as %d", cid, slot))
    elseif m.t == "input" and server.slots[cid] and type(m.dx) == "number" and type(m.dy) == "number" then
        server.inputs[server.slots[cid]] = {util.clamp(m.dx, -1, 1), util.clamp(m.dy, -1, 1)}
    end
end

local function server_left(cid)
    local p = server.peers[cid]
    if p and p.bad.held > 0 then
        print(string.format("server: dropped %d more malformed messages from %d", p.bad.held, cid))
    end
    server.peers[cid] = nil
    local slot = server.slots[cid]
    if not slot then
        return
    end
    server.slots[cid] = nil
    server.inputs[slot] = nil
    shared.leave(server.world, slot)
    print(string.format("server: player %d left", cid))
    if next(server.slots) == nil then
        -- The next player starts a new game, not the old one's level and score.
        server.world, server.acc = shared.new_world(1), 0
        print("server: everyone left, the world starts afresh")
    end
end

local function server_read()
    for _, p in pairs(server.peers) do
        p.read, p.bytes = 0, 0
    end
    local started, n = os.clock(), 0
    while n < netplay.frame_events and os.clock() - started < netplay.frame_seconds do
        local e = net_poll()
        if not e then
            break
        end
        n = n + 1
        if e.type == "message" then
            server_message(e.cid, e.value)
        elseif e.type == "connect" then
            peer(e.cid)
        elseif e.type == "disconnect" then
            server_left(e.cid)
        end
    end
    held_lines()
    for cid, p in pairs(server.peers) do
        if not server.slots[cid] and not p.gone and server.clock - p.since > netplay.hello_wait then
            p.gone = true
            net_kick(cid)
            print(string.format("server: player %d took no slot in %d s, let go", cid, netplay.hello_wait))
        end
    end
end

function server.loop(t)
    server.clock = server.clock + t
    server_read()
    local w = server.world
    if shared.active_count(w) == 0 then
        return -- nobody to play for: the world waits
    end
    server.acc = math.min(server.acc + t, 0.25)
    while server.acc >= data.tick do
        server.acc = server.acc - data.tick
        local level, score = w.level, w.score
        shared.step(w, server.inputs, data.tick)
        if w.state ~= "play" and w.timer <= 0 then
            local nw = shared.next_world(w)
            if not nw then
                print(string.format("server: game over (%s) with score %d, starting again", w.state, w.score))
                nw = shared.new_world(1)
                for _, slot in pairs(server.slots) do
                    shared.join(nw, slot)
                end
                nw.tick = w.tick
            end
            server.world, w = nw, nw
        end
        -- Only the players get the world; a peer without a slot has no use for it.
        local text = json.encode(shared.snapshot(w))
        for cid in pairs(server.slots) do
            net_send(cid, text, 0, 0)
        end
        if w.level ~= level or w.score ~= score or w.tick % 30 == 0 then
            print(string.format("server: tick %d level %d score %d lives %d players %d", w.tick, w.level, w.score,
                w.lives, shared.active_count(w)))
        end
    end
    net_flush()
end

function server.stop()
    net_close()
end

switcher.register("server", server)

-- --- client

local Client = {}
Client.__index = Client

function netplay.connect(host, port)
    local c = setmetatable({host = host, port = port, state = "connecting", slot = nil, world = nil, snapshots = 0,
        sent = {0, 0}, since = 0, wait = 0, clock = 0, bad = util.note_limit(1), lag = 0}, Client)
    net_open(host, port)
    util.log(string.format("client: connecting to %s:%d", host, port))
    return c
end

-- A client reads at most this many events per frame, and takes the server for gone when no snapshot came for
-- this many seconds, counted from connecting (a welcome alone does not count).
netplay.client_events, netplay.server_wait = 200, 5
-- Of the snapshots that arrived in one frame a client handles only the newest few: each holds the whole world, so
-- the newest says all, and decoding is what a flood would cost. The skipped ones' events (sounds and sparks of a
-- moment already past) are dropped unread; those of the handled ones go to the game together, at most
-- shared.limits.events a frame. Other messages are decoded up to frame_messages a frame; the rest are dropped.
netplay.frame_snapshots, netplay.frame_messages = 3, 4
netplay.notice_seconds = 3 -- how long "PLAYER 2 JOINED" stays up
netplay.lost_after = 1 -- seconds without a snapshot before the player is told the connection is lost

function Client:closed(reason)
    self.state, self.reason = "closed", self.reason or reason
    util.log("client: disconnected (" .. self.reason .. ")")
    net_close()
end

-- Which players were in the last snapshot, or nil before the first one.
function Client:actives()
    if not self.world then
        return nil
    end
    local on = {}
    for i, p in ipairs(self.world.players) do
        on[i] = p.active
    end
    return on
end

-- A short notice when another player joins or leaves; the ones there at the first snapshot are not news.
function Client:note_players(was)
    for i, p in ipairs(was and self.world.players or {}) do
        if p.active ~= was[i] and i ~= self.slot then
            local text = string.format("player %d %s", i, p.active and "joined" or "left")
            self.notice, self.notice_until = text:upper(), self.clock + netplay.notice_seconds
            util.log("client: " .. text)
        end
    end
end

-- Whether the server has sent nothing for a while in a running game (it is taken for gone later).
function Client:lost()
    return self.state == "playing" and self.world ~= nil and self.wait >= netplay.lost_after
end

-- The latest notice over the play field: a player come or gone, or the connection lost.
function Client:paint(w)
    if self:lost() then
        widgets.label("CONNECTION LOST... WAITING FOR THE SERVER", data.hud_h + 4, 0xFF8070, false, true)
    elseif self.notice and self.clock < self.notice_until then
        widgets.label(self.notice, data.hud_h + 4, 0xFFFFFF, false, true)
    end
end

-- One log line a second at most about what a server sent wrong (a "snapshot" or another "message"), with the
-- number of the others. why is safe to log: a fixed text or one read_message escaped.
function Client:malformed(why, what)
    local more = self.bad:note(self.clock)
    if more then
        util.log("client: dropped a malformed " .. (what or "snapshot") .. " (" .. why .. not_logged(more) .. ")")
    end
end

-- How far to draw the world from the positions before the latest snapshot to its own: snapshots come once a
-- step, so the figures move on smoothly however unevenly they arrive, at most one step behind.
function Client:alpha()
    return util.clamp(self.lag / data.tick, 0, 1)
end

-- A snapshot taken into the world when every field of it is sound; its events join the frame's.
function Client:snapshot(m, events)
    if self.state ~= "playing" then
        return self:malformed("before the welcome")
    end
    if self:lost() then
        util.log("client: the server answers again")
    end
    local was = self:actives()
    if self.world then
        -- From where the figures are drawn now, so a snapshot that comes early or late moves nothing back.
        shared.remember(self.world, self:alpha())
    end
    local ok, w = pcall(shared.apply, self.world, m)
    if not ok then
        return self:malformed((tostring(w):gsub("^.-:%d+: ", "")))
    end
    self.world, self.snapshots, self.wait, self.lag = w, self.snapshots + 1, 0, 0
    self:note_players(was)
    for _, ev in ipairs(w.events) do
        if #events < shared.limits.events then
            events[#events + 1] = ev
        end
    end
end

-- One message of the server's; what names it in the log line when it cannot be read.
function Client:message(text, events, what)
    local m, why = shared.read_message(text)
    if not m then
        self:malformed(why, what)
    elseif m.t == "state" then
        self:snapshot(m, events)
    elseif m.t == "welcome" and self.state == "joining" then
        if type(m.slot) ~= "number" or not (m.slot >= 1 and m.slot <= data.max_players) or m.slot % 1 ~= 0 then
            return self:malformed("bad welcome", "message")
        end
        self.slot, self.state = m.slot, "playing"
        util.log("client: joined as player " .. m.slot)
    elseif m.t == "welcome" then
        self:malformed("a second welcome", "message")
    elseif m.t == "full" then
        self.reason = "the game is full"
    end
end

-- Drains the network; answers the events of the worlds it took in, in order.
function Client:poll(t)
    local was_lost = self:lost()
    local events, states, others = {}, {}, 0
    self.wait, self.clock, self.lag = self.wait + t, self.clock + t, self.lag + t
    for _ = 1, netplay.client_events do
        if self.state == "closed" then
            break
        end
        local e = net_poll()
        if not e then
            break
        end
        if e.type == "connect" then
            self.state, self.wait = "joining", 0
            send(0, {t = "hello"})
        elseif e.type == "disconnect" then
            -- A reason the server gave first ("the game is full") wins over the bare disconnect.
            self:closed(e.value ~= "" and e.value or "the server closed the game")
        elseif e.type == "message" and #e.value <= shared.limits.message and e.value:find('"t"%s*:%s*"state"') then
            -- What looks like a snapshot waits for the frame's newest few; the decoded message says what it is.
            states[#states + 1] = e.value
            if #states > netplay.frame_snapshots then
                table.remove(states, 1)
            end
        elseif e.type == "message" then
            others = others + 1
            if others <= netplay.frame_messages then
                self:message(e.value, events, "message")
            else
                self:malformed("over " .. netplay.frame_messages .. " in one frame", "message")
            end
        end
    end
    for _, text in ipairs(states) do
        if self.state ~= "closed" then
            self:message(text, events, "snapshot")
        end
    end
    if self:lost() and not was_lost then
        util.log(string.format("client: connection lost, no snapshot for %g s", netplay.lost_after))
    end
    if self.state == "connecting" and self.wait > netplay.server_wait then
        self.state, self.reason = "closed", "no answer from " .. self.host .. ":" .. self.port
        util.log("client: " .. self.reason)
        net_close()
    elseif (self.state == "joining" or self.state == "playing") and self.wait > netplay.server_wait then
        self:closed("the server stopped answering")
    end
    return events
end

-- Sends the wanted direction when it changes, and again twice a second in case a message was lost.
function Client:input(dx, dy, t)
    if self.state ~= "playing" then
        return
    end
    self.since = self.since + t
    if dx ~= self.sent[1] or dy ~= self.sent[2] or self.since > 0.5 then
        self.sent, self.since = {dx, dy}, 0
        send(0, {t = "input", dx = dx, dy = dy})
    end
end

function Client:close()
    net_close()
    self.state = "closed"
end
