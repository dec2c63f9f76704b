-- JSON library: encodes plain Lua data (tables with keys 1..n become arrays) and decodes JSON text with errors that
-- name the position. Saves and network messages go through here.
json = {}

local escapes = {['"'] = '\\"', ["\\"] = "\\\\", ["\b"] = "\\b", ["\f"] = "\\f", ["\n"] = "\\n", ["\r"] = "\\r",
    ["\t"] = "\\t"}

local function encode_string(s)
    return '"' .. s:gsub('[%c"\\]', function(c)
        return escapes[c] or string.format("\\u%04x", c:byte())
    end) .. '"'
end

local function is_array(t)
    local n = 0
    for k in pairs(t) do
        if type(k) ~= "number" or k < 1 or k % 1 ~= 0 then
            return false
        end
        n = n + 1
    end
    for i = 1, n do
        if t[i] == nil then
            return false
        end
    end
    return true, n
end

local number_forms = {"%.14g", "%.15g", "%.16g"}

local function encode(v, depth)
    local kind = type(v)
    if kind == "nil" then
        return "null"
    elseif kind == "boolean" then
        return v and "true" or "false"
    elseif kind == "number" then
        if v ~= v or v == math.huge or v == -math.huge then
            return "null"
        end
        if v % 1 == 0 and v > -1e15 and v < 1e15 then
            return string.format("%d", v)
        end
        -- The shortest of these that reads back as the same number; 17 digits always do.
        for _, form in ipairs(number_forms) do
            local text = string.format(form, v)
            if tonumber(text) == v then
                return text
            end
        end
        return string.format("%.17g", v)
    elseif kind == "string" then
        return encode_string(v)
    elseif kind == "table" then
        -- As deep as the decoder reads, so every decoded value encodes; deeper is a table that holds itself.
        if depth > 64 then
            error("json: nesting too deep")
        end
        local arr, n = is_array(v)
        local out = {}
        if arr and (n > 0 or getmetatable(v) == json.list) then
            for i = 1, n do
                out[i] = encode(v[i], depth + 1)
            end
            return "[" .. table.concat(out, ",") .. "]"
        end
        local keys = {}
        for k in pairs(v) do
            keys[#keys + 1] = tostring(k)
        end
        table.sort(keys)
        for _, k in ipairs(keys) do
            local x = v[k]
            if x == nil then
                x = v[tonumber(k)]
            end
            out[#out + 1] = encode_string(k) .. ":" .. encode(x, depth + 1)
        end
        return "{" .. table.concat(out, ",") .. "}"
    end
    error("json: cannot encode a " .. kind)
end

-- A table with this metatable is written as a list even when empty.
json.list = {}

function json.encode(v)
    return encode(v, 0)
end

-- Decoding: a recursive descent over the text; every failure raises "json: <what> at <position>".
local decode_value

local function fail(s, i, what)
    error(string.format("json: %s at %d", what, i), 0)
end

local function skip(s, i)
    return s:find("[^ \t\r\n]", i) or #s + 1
end

local function decode_string(s, i)
    local out, j = {}, i + 1
    while true do
        local c = s:sub(j, j)
        if c == "" then
            fail(s, j, "unterminated string")
        elseif c == '"' then
            return table.concat(out), j + 1
        elseif c == "\\" then
            local e = s:sub(j + 1, j + 1)
            local map = {b = "\b", f = "\f", n = "\n", r = "\r", t = "\t", ['"'] = '"', ["\\"] = "\\", ["/"] = "/"}
            if map[e] then
                out[#out + 1] = map[e]
                j = j + 2
            elseif e == "u" then
                local hex = s:sub(j + 2, j + 5)
                if not hex:match("^%x%x%x%x$") then
                    fail(s, j, "bad escape")
                end
                local n = tonumber(hex, 16)
                if n < 128 then
                    out[#out + 1] = string.char(n)
                elseif n < 2048 then
                    out[#out + 1] = string.char(192 + math.floor(n / 64), 128 + n % 64)
                else
                    out[#out + 1] = string.char(224 + math.floor(n / 4096), 128 + math.floor(n / 64) % 64, 128 + n % 64)
                end
                j = j + 6
            else
                fail(s, j, "bad escape")
            end
        elseif c:byte() < 32 then
            fail(s, j, "control character in string")
        else
            -- Plain bytes up to the next quote, backslash or control character (DEL, 127, is plain text here).
            local k = s:find('[\0-\31"\\]', j) or #s + 1
            out[#out + 1] = s:sub(j, k - 1)
            j = k
        end
    end
end

local function decode_number(s, i)
    local text = s:match("^-?%d+%.?%d*[eE]?[-+]?%d*", i)
    local n = text and tonumber(text)
    -- 1e999 reads as infinity, which no JSON text can hold: it would come back as null. n - n is 0 for a finite n
    -- only (NaN for the infinities).
    if not n or n - n ~= 0 then
        fail(s, i, "bad number")
    end
    return n, i + #text
end

local function decode_list(s, i, depth, close, item)
    local t, n = {}, 0
    i = skip(s, i + 1)
    if s:sub(i, i) == close then
        return t, i + 1
    end
    while true do
        n = n + 1
        i = item(t, n, i)
        i = skip(s, i)
        local c = s:sub(i, i)
        if c == close then
            return t, i + 1
        elseif c ~= "," then
            fail(s, i, "expected ',' or '" .. close .. "'")
        end
        i = skip(s, i + 1)
    end
end

decode_value = function(s, i, depth)
    if depth > 64 then
        fail(s, i, "nesting too deep")
    end
    i = skip(s, i)
    local c = s:sub(i, i)
    if c == "{" then
        return decode_list(s, i, depth, "}", function(t, n, j)
            if s:sub(j, j) ~= '"' then
                fail(s, j, "expected a key")
            end
            local k
            k, j = decode_string(s, j)
            j = skip(s, j)
            if s:sub(j, j) ~= ":" then
                fail(s, j, "expected ':'")
            end
            t[k], j = decode_value(s, j + 1, depth + 1)
            return j
        end)
    elseif c == "[" then
        return decode_list(s, i, depth, "]", function(t, n, j)
            t[n], j = decode_value(s, j, depth + 1)
            return j
        end)
    elseif c == '"' then
        return decode_string(s, i)
    elseif c == "-" or c:match("%d") then
        return decode_number(s, i)
    elseif s:sub(i, i + 3) == "true" then
        return true, i + 4
    elseif s:sub(i, i + 4) == "false" then
        return false, i + 5
    elseif s:sub(i, i + 3) == "null" then
        return nil, i + 4
    end
    fail(s, i, c == "" and "unexpected end" or "unexpected '" .. c .. "'")
end

function json.decode(s)
    if type(s) ~= "string" then
        error("json: not a text", 0)
    end
    local v, i = decode_value(s, 1, 0)
    i = skip(s, i)
    if i <= #s then
        fail(s, i, "trailing text")
    end
    return v
end

-- Decoding that never raises: the value, or nil and the error text.
function json.try_decode(s)
    local ok, v = pcall(json.decode, s)
    if ok then
        return v
    end
    return nil, v
end
