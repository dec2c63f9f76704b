-- Engine glue: the kiv table of engine functions, the entry points forwarded to the game, strict globals.

function _kiv_params(k, v)
    if v ~= nil then
        kiv_params_set(k, v)
    end
    return kiv_params_get(k)
end

kiv = {
    params = _kiv_params,
    file_load = kiv_file_load,
    file_save = kiv_file_save,
    view_set = kiv_view_set,
    rect_draw = kiv_rect_draw,
    image_draw = kiv_image_draw,
    sample_play = kiv_sample_play,
    stream_play = kiv_stream_play,
    stream_stop = kiv_stream_stop,
    font_draw = kiv_font_draw,
    font_size = kiv_font_size,
    ext_call = kiv_ext_call,
    log_text = kiv_log_text,
}

function _init() init() end
function _loop(t) loop(t) end
function _event(e) event(e) end
function _paint() paint() end

function _strict_init()
    local kept = getmetatable(_G)
    local declared = {}
    function global(k)
        declared[k] = true
    end
    function strict(enable)
        setmetatable(_G, kept)
        if enable == true then
            setmetatable(_G, {
                __newindex = function(t, k, v)
                    if type(v) == "function" or declared[k] then
                        rawset(t, k, v)
                    else
                        error("undeclared global '" .. tostring(k) .. "'", 2)
                    end
                end,
            })
        end
    end
end
_strict_init()
_strict_init = nil
