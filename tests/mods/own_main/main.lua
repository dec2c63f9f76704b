-- A mod whose main script has the embedded main script's name: the file named by -mod runs, and require keeps
-- its order (embedded api first, then this folder).
require("api")
require("helper")
function init()
    print("own main: kiv=" .. type(kiv) .. " helper=" .. helper_from)
    kiv_ext_call("exit")
end
function loop(t) end
