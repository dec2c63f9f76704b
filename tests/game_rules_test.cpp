// The embedded game's own rules and JSON in a real Lua state: pickups, the exit, spikes and lives, enemies turning
// at walls, level changes, the snapshot a client rebuilds the world from, the bot, and the JSON texts.
#include <gtest/gtest.h>

#include <lauxlib.h>
#include <lua.h>
#include <lualib.h>

#include <string>

#include "mods_embed.h"

namespace {

// Test levels and a helper that steps a world n times with one player's wanted direction.
const char *_rules_setup = R"(
game_levels = data.levels
data.levels = {
    {name = "a", map = {"######", "#1g.X#", "######"}},
    {name = "b", map = {"######", "#1^..#", "######"}},
    {name = "c", map = {"#####", "#H..#", "#1..#", "#####"}},
    {name = "d", map = {"#####", "#1H.#", "#####"}},
}
levels_for_rules = data.levels
function run(w, dx, dy, n)
    local seen = {}
    for i = 1, n do
        shared.step(w, {{dx, dy}}, data.tick)
        for _, e in ipairs(w.events) do seen[#seen + 1] = e.k end
    end
    return table.concat(seen, ",")
end
kiv = {sample_play = function() end, file_save = function() end}
-- The initials entry after the keys (a lower-case letter is typed, anything else a key's name): the boxes ('_'
-- empty), the box being filled and the name saved.
function initials(keys)
    local a = {letters = {0, 0, 0}, at = 1, entry = {}}
    for k in keys:gmatch('%S+') do
        local typed = k:match('^%l$')
        menus.initials_event(a, {type = 'keydown', key = typed and 0 or 1, text = typed or '', name = k})
    end
    return string.char(unpack(a.letters)):gsub('%z', '_') .. ' ' .. a.at .. (a.entry.name and ' ' .. a.entry.name or '')
end
function fresh(n, lives)
    local w = shared.new_world(n, 0, lives)
    shared.join(w, 1)
    w.players[1].safe = 0
    return w
end
)";

TEST(GameRules, ScriptTable) {
    struct Row {
        const char *name, *code, *want;
    } rows[] = {
        {"gem: points, then the exit opens",
         "local w = fresh(1) local ev = run(w, 1, 0, 6) return ev .. ' ' .. w.score .. ' ' .. tostring(w.open)",
         "pickup,open 10 true"},
        {"closed exit is a wall",
         "local w = fresh(1) w.tiles[2][3] = 'g' w.gems = 2 run(w, 1, 0, 30) "
         "return w.players[1].x .. ' ' .. w.state",
         "4 play"},
        // 10 for the gem, 100 for the level, 200 less 2 a second for the half second it took.
        {"through the open exit of level 1 of 3: cleared, next level keeps score and lives",
         "local w = fresh(1, 2) run(w, 1, 0, 30) local n = shared.next_world(w) "
         "return w.state .. ' ' .. n.level .. ' ' .. n.score .. ' ' .. n.lives .. ' ' .. tostring(n.players[1].active)",
         "cleared 2 309 2 true"},
        {"spike: one life, back to the start, safe for a while",
         "local w = fresh(2) local ev = run(w, 1, 0, 6) local p = w.players[1] "
         "return ev .. ' ' .. w.lives .. ' ' .. p.fx .. ' ' .. tostring(p.safe > 1)",
         "hit 2 2 true"},
        {"spike while safe costs nothing", "local w = fresh(2) w.players[1].safe = 5 run(w, 1, 0, 6) return w.lives",
         "3"},
        {"the last life: lost, and no next world",
         "local w = fresh(2, 1) local ev = run(w, 1, 0, 6) return ev .. ' ' .. w.state .. ' ' .. "
         "tostring(shared.next_world(w))",
         "hit,lost lost nil"},
        {"enemy turns at the wall",
         "local w = fresh(3) local xs = {} for i = 1, 6 do run(w, 0, 0, 9) xs[#xs + 1] = w.enemies[1].x end "
         "return table.concat(xs, ',')",
         "3,4,3,2,3,4"}, // the tile each is heading for, about one tile per 9 steps
        {"enemy touching the player", "local w = fresh(3) return run(w, 0, -1, 6) .. ' ' .. w.lives", "hit 2"},
        {"snapshot rebuilds the world on a client",
         "local w = fresh(1) run(w, 1, 0, 6) local c = shared.apply(nil, json.decode(json.encode(shared.snapshot(w)))) "
         "return c.level .. ' ' .. c.score .. ' ' .. c.gems .. ' ' .. tostring(c.open) .. ' ' .. c.tiles[2][3]",
         "1 10 0 true G"},
        // A step moves a player 7/30 of a tile: drawn from 2.233 (the step before) to 2.467.
        {"drawn between the last two steps; a jump back to the start drawn at once",
         "local w = fresh(1) run(w, 1, 0, 2) shared.remember(w) run(w, 1, 0, 1) local p = w.players[1] "
         "local a = string.format('%.3f %.3f %.3f', shared.drawn(p, 0), (shared.drawn(p, 0.5)), (shared.drawn(p, 1))) "
         "p.x, p.fx = 5, 5 return a .. ' ' .. shared.drawn(p, 0.5)",
         "2.233 2.350 2.467 5"},
        {"a player who never moved is away: the enemy passes, no life lost, the snapshot says so; once moved, hit",
         "local w = fresh(4) local ev = run(w, 0, 0, 60) local c = shared.apply(nil, json.decode(json.encode("
         "shared.snapshot(w)))) return ev .. '|' .. w.lives .. ' ' .. tostring(shared.away(w.players[1])) .. ' ' .. "
         "tostring(shared.away(c.players[1])) .. ' ' .. run(w, 1, 0, 1) .. ' ' .. w.lives",
         "|3 true true hit 2"},
        {"a cleared level's gems, level points and time bonus, on the client too",
         "local w = fresh(1) run(w, 1, 0, 30) local c = shared.apply(nil, json.decode(json.encode("
         "shared.snapshot(w)))) return table.concat({shared.breakdown(w)}, ' ') .. ' | ' .. "
         "table.concat({shared.breakdown(c)}, ' ') .. ' ' .. c.time",
         "10 100 199 | 10 100 199 0.5"},
        {"initials: typed, past the last box, Backspace, arrows, empty boxes saved as A",
         "return table.concat({initials('q w e r t y'), initials('q w e r t y Backspace Backspace z'), "
         "initials('Backspace'), initials('Up Right Down Right Up Up Return'), initials('q Return')}, ' | ')",
         "QWE 4 | QZ_ 3 | ___ 1 | AZB 3 AZB | Q__ 2 QAA"},
        {"malformed snapshot leaves the world as it was",
         "local w = fresh(1) local s = shared.snapshot(w) s.score = 99 s.players[1][2] = 'x' "
         "local ok = pcall(shared.apply, w, s) return tostring(ok) .. ' ' .. w.score",
         "false 0"},
        // A gem walled in by spikes and the closed exit can never be taken without losing a life.
        {"every gem of the game's levels is reachable from a start without spikes or the exit",
         "data.levels = game_levels local out = {} for n = 1, #game_levels do local w = shared.new_world(n) "
         "local seen, q = {}, {} for _, s in pairs(w.starts) do q[#q + 1] = s seen[s[2] * 100 + s[1]] = true end "
         "for _, c in ipairs(q) do for _, d in ipairs({{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) do "
         "local x, y = c[1] + d[1], c[2] + d[2] local t = w.tiles[y][x] "
         "if not seen[y * 100 + x] and not t:match('[#X^]') then seen[y * 100 + x] = true q[#q + 1] = {x, y} end "
         "end end for y = 1, w.rows do for x = 1, w.cols do if w.tiles[y][x] == 'g' and not seen[y * 100 + x] then "
         "out[#out + 1] = n .. ':' .. x .. ',' .. y end end end end data.levels = levels_for_rules "
         "return #out .. ' ' .. table.concat(out, ' ')",
         "0 "},
        // A full minute per level at most; the bot once waited for ever before a gem on a row two enemies patrol.
        {"the bot clears each of the game's levels whatever the phase of its enemies when it joins",
         "data.levels = game_levels local out = {} for n = 1, #game_levels do for phase = 0, 90, 30 do "
         "local w = shared.new_world(n, 0, 9) for i = 1, phase do shared.step(w, {}, data.tick) end "
         "shared.join(w, 1) local t = 0 while w.state == 'play' and t < 1800 do "
         "shared.step(w, {bot.think(w, 1)}, data.tick) t = t + 1 end out[#out + 1] = w.state end end "
         "data.levels = levels_for_rules return table.concat(out, ' ')",
         "cleared cleared cleared cleared cleared cleared cleared cleared won won won won"},
        {"JSON text out", "return json.encode({b = 1, a = {1, 2.5, 'x\\n\"'}, c = {}, d = true})",
         "{\"a\":[1,2.5,\"x\\n\\\"\"],\"b\":1,\"c\":{},\"d\":true}"},
        {"JSON text in",
         "local v = json.decode(' {\"a\": [1, -2.5e1, \"\\\\u00e9\\\\t\"], \"b\": null} ') "
         "return v.a[2] .. ' ' .. v.a[3] .. ' ' .. tostring(v.b)",
         "-25 \xc3\xa9\t nil"},
        // 2^53 + 1 is 2^53 as a number; the sweep covers every exponent with all 17 digits in use.
        {"JSON numbers read back as the same number, in the shortest of their forms",
         "local out, same = {}, true "
         "for _, x in ipairs({123456789012345.6, 0.1, 1e300, -0.0, 2^53 + 1, 5e-324, 1/3, -2.5, 1e15}) do "
         "local text = json.encode(x) same = same and json.decode(text) == x out[#out + 1] = text end "
         "for i = 1, 20000 do local x = (math.random() - 0.5) * 10 ^ math.random(-320, 300) "
         "if json.decode(json.encode({x}))[1] ~= x then same = false out[#out + 1] = string.format('%.17g', x) end end "
         "return tostring(same) .. ' ' .. table.concat(out, ' ')",
         "true 123456789012345.6 0.1 1e+300 0 9007199254740992 4.9406564584125e-324 0.3333333333333333 -2.5 1e+15"},
        {"JSON errors name the place",
         "local _, a = json.try_decode('[1,') local _, b = json.try_decode('{\"a\" 1}') "
         "local _, c = json.try_decode(string.rep('[', 70)) local _, d = json.try_decode('[1] x') "
         "return a .. '|' .. b .. '|' .. c .. '|' .. d",
         "json: unexpected end at 4|json: expected ':' at 6|json: nesting too deep at 66|json: trailing text at 5"},
        // [1,1e999,2] once came back as an object: infinity encodes as null, and a list with a hole as an object.
        {"JSON numbers that do not read back finite are refused; the deepest text read encodes and reads back",
         "local out = {} for _, t in ipairs({'[1e999]', '[1,1e999,2]', '-1E+400', '{\"a\":-1e309}'}) do "
         "local v, e = json.try_decode(t) out[#out + 1] = tostring(v) .. ' ' .. e end "
         "local deep = string.rep('[1,', 64) .. '{}' .. string.rep(']', 64) local e1 = json.encode(json.decode(deep)) "
         "return table.concat(out, '|') .. '|' .. tostring(e1 == deep and json.encode(json.decode(e1)) == e1)",
         "nil json: bad number at 2|nil json: bad number at 4|nil json: bad number at 1|nil json: bad number at 6|true"},
    };
    lua_State *L = luaL_newstate();
    luaL_openlibs(L);
    for (const char *name :
         {"util.lua", "json.lua", "data.lua", "shared.lua", "bot.lua", "widgets.lua", "switcher.lua", "menus.lua"})
        ASSERT_EQ(luaL_dostring(L, my_mods_embed(name).c_str()), LUA_OK) << name << ": " << lua_tostring(L, -1);
    ASSERT_EQ(luaL_dostring(L, _rules_setup), LUA_OK) << lua_tostring(L, -1);
    for (const Row &r : rows) {
        bool ok = luaL_dostring(L, r.code) == LUA_OK;
        std::string got = lua_tostring(L, -1) ? lua_tostring(L, -1) : "(not a text)";
        lua_settop(L, 0);
        EXPECT_TRUE(ok) << r.name << ": " << got;
        EXPECT_EQ(got, r.want) << r.name;
    }
    lua_close(L);
}

} // namespace
