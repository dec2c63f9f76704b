kiv_params_set("altdir", "/home/kiv/dev/kivgame/data")
require("game")
