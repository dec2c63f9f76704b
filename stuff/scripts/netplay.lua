-- Network play over the net_* functions: the headless server screen that owns the world and sends a snapshot
-- every step, and the client that joins it, sends its player's direction and keeps the latest snapshot.
-- Messages are JSON: client "hello" and "input", server "welcome", "full" and "state".
netplay = {}

local function send(cid, msg, mode)
    net_send(cid, json.encode(msg), mode or 1, 0)
end

-- --- server

local server = {}

function server.start(args)
    server.port = args.port
    server.world = shared.new_world(1)
    server.slots = {} -- cid -> slot
    server.inputs = {}
    server.acc = 0
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

local function server_message(cid, text)
    local m = json.try_decode(text)
    if type(m) ~= "table" then
        print("server: dropped a malformed message from " .. cid)
        return
    end
    if m.t == "hello" and not server.slots[cid] then
        local slot = free_slot()
        if not slot then
            send(cid, {t = "full"})
            net_kick(cid)
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

function server.loop(t)
    while true do
        local e = net_poll()
        if not e then
            break
        end
        if e.type == "message" then
            server_message(e.cid, e.value)
        elseif e.type == "disconnect" and server.slots[e.cid] then
            local slot = server.slots[e.cid]
            server.slots[e.cid] = nil
            server.inputs[slot] = nil
            shared.leave(server.world, slot)
            print(string.format("server: player %d left", e.cid))
        end
    end
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
        send(0, shared.snapshot(w), 0)
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
        sent = {0, 0}, since = 0, wait = 0}, Client)
    net_open(host, port)
    util.log(string.format("client: connecting to %s:%d", host, port))
    return c
end

-- Drains the network; answers the worlds' events of every snapshot that arrived, in order.
function Client:poll(t)
    local events = {}
    self.wait = self.wait + t
    while true do
        local e = net_poll()
        if not e then
            break
        end
        if e.type == "connect" then
            self.state = "joining"
            send(0, {t = "hello"})
        elseif e.type == "disconnect" then
            self.state = "closed"
            self.reason = e.value ~= "" and e.value or "the server closed the game"
            util.log("client: disconnected (" .. self.reason .. ")")
        elseif e.type == "message" then
            local m = json.try_decode(e.value)
            if type(m) == "table" and m.t == "welcome" and type(m.slot) == "number" then
                self.slot, self.state = m.slot, "playing"
                util.log("client: joined as player " .. m.slot)
            elseif type(m) == "table" and m.t == "full" then
                self.reason = "the game is full"
            elseif type(m) == "table" and m.t == "state" then
                local ok, w = pcall(shared.apply, self.world, m)
                if ok then
                    self.world, self.snapshots, self.wait = w, self.snapshots + 1, 0
                    for _, ev in ipairs(w.events) do
                        events[#events + 1] = ev
                    end
                else
                    util.log("client: dropped a malformed snapshot")
                end
            end
        end
    end
    if self.state == "connecting" and self.wait > 5 then
        self.state, self.reason = "closed", "no answer from " .. self.host .. ":" .. self.port
        util.log("client: " .. self.reason)
        net_close()
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
