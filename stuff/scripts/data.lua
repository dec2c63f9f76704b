-- The game's data table: view and tile sizes, timing, colours, sounds, the sheet's cells and the levels.
-- Level maps: '#' wall, '.' floor, 'g' gem, 'X' exit (opens when every gem is taken), '^' spikes,
-- 'H' enemy patrolling left and right, 'V' enemy patrolling up and down, '1' to '4' player starts.
data = {
    title = "GEM DELVERS",
    caption = "Gem Delvers", -- the window title
    save_file = "kivgame_save.json",
    view_w = 480,
    view_h = 320,
    tile = 24,
    hud_h = 32,
    tick = 1 / 30, -- seconds per simulation step, on the server and in local play
    player_speed = 7, -- tiles per second
    enemy_speed = 3.5,
    lives = 3,
    gem_points = 10,
    level_bonus = 100,
    time_bonus = 200, -- less 2 per second spent on the level
    invulnerable = 1.5, -- seconds after a hit
    pause_after = 2.5, -- seconds shown between levels and after the end
    demo_patience = 30, -- seconds a demonstration goes on without a point before it starts again
    max_players = 4,
    best_scores = 5,
    default_port = 7777,
    player_colors = {0x60A0FF, 0xFFD040, 0x70E070, 0xFF70D0},
    font = "small",
    font_size = 12,
    title_font = "console",
    title_size = 24,
    -- The generated sheets, cut into 16 by 16 cells that each have a 2-pixel border repeating their edge pixels
    -- (so no scale reads a neighbour): the fully opaque tiles of the map, which draw without blending, and the
    -- sprites with transparent texels. The spike tile holds its floor.
    sheets = {
        {name = "game_tiles", cells = {"wall", "floor", "spike", "exit"}},
        {name = "game_sheet", cells = {"gem", "enemy", "player", "spark", "heart"}},
    },
    cell = 16,
    cell_border = 2,
    initials = 3, -- letters of a best score's name
    sounds = {pickup = "game_pickup", hit = "game_hit", click = "game_click", music = "game_music"},
    levels = {
        {
            name = "The Cellar",
            map = {
                "####################",
                "#1.......g........X#",
                "#.####.#####.####..#",
                "#2.g...............#",
                "#..##.##..##.##.#..#",
                "#3.......H......g..#",
                "#..##.##..##.##.#..#",
                "#4.................#",
                "#..####.####.####..#",
                "#......^...........#",
                "#.........g....g...#",
                "####################",
            },
        },
        {
            name = "Twin Halls",
            map = {
                "####################",
                "#1...g.#....#.g...X#",
                "#.##.#.#.##.#.#.##.#",
                "#2...#...gg...#....#",
                "#.##.###.##.###.##.#",
                "#3..H........^.....#",
                "#.##.###.##.###.##.#",
                "#4...#..........#.g#",
                "#.##.#.#.##.#.#.##.#",
                "#....V.#....#.V....#",
                "#g.....^..g.......g#",
                "####################",
            },
        },
        {
            name = "The Furnace",
            map = {
                "####################",
                "#1..g..^....^..g..X#",
                "#.#####.####.####..#", -- the gem by the exit is reached without passing it
                "#2..H.....g.....H..#",
                "#.###.##.##.##.###.#",
                "#3g..V....^....V..g#",
                "#.###.##.##.##.###.#",
                "#4.....H....H......#",
                "#.#####.####.#####.#",
                "#g....^..gg..^....g#",
                "#.......H....H.....#",
                "####################",
            },
        },
    },
}
