// Sound names over the audio driver: suffix search in the data and document directories, cached ids and misses,
// change detection for hot reload. Called by the shell (init, deinit, reload) and the script bindings.
#include "kiv_mixer.h"
#include "kiv_mixer_int.h"

#include <cstdio>
#include <cstring>

#include "kiv_driver.h"
#include "kiv_printf.h"

// --- constants

static const char *const SOUND_SUFFIXES[] = {"", ".wav", ".ogg", ".mp3", ".aac", ".caf", ".raw"};
static const size_t NAME_MAX_LEN = 511;

// --- state

_MixerData *_mixer = nullptr;

// --- internal helpers

// The full path of the first candidate (name + suffix) found, data directories before the document directory for
// each suffix; empty when none is found or the name is too long to form a candidate.
static std::string _mixer_find(const char *name) {
    for (const char *suffix : SOUND_SUFFIXES) {
        std::string candidate = std::string(name) + suffix;
        if (candidate.size() > NAME_MAX_LEN)
            return "";
        const char *path = nullptr;
        if (driver_data_exists(candidate.c_str()))
            path = driver_data_fname(candidate.c_str());
        else if (driver_doc_exists(candidate.c_str()))
            path = driver_doc_fname(candidate.c_str());
        if (path && *path)
            return path;
    }
    return "";
}

static char *_sample_fname(MixerSample &r) {
    return r.sample_fname;
}
static DriverFileStamp *_sample_stamp(MixerSample &r) {
    return &r.sample_stamp;
}
static char *_stream_fname(MixerStream &r) {
    return r.stream_fname;
}
static DriverFileStamp *_stream_stamp(MixerStream &r) {
    return &r.stream_stamp;
}

// Records the file's stamp of an entry, with its whole-second time.
static void _mixer_note(MixerSample &r, const DriverFileStamp &s) {
    r.sample_stamp = s;
    r.sample_mtime = driver_file_stamp_time(s);
}
static void _mixer_note(MixerStream &r, const DriverFileStamp &s) {
    r.stream_stamp = s;
    r.stream_mtime = driver_file_stamp_time(s);
}

// Shared by samples and streams: look up, search and load a name once, caching misses.
template <class Rec, class Load>
static int _mixer_load(std::map<std::string, Rec> &table, const char *name, const char *kind, const char *prefix,
                       Load load, char *(*fname)(Rec &)) {
    if (!_mixer || !name)
        return 0;
    auto it = table.find(name);
    if (it != table.end())
        return it->second.n;
    kiv_printf("%strying load %s %s\n", prefix, kind, name);
    if (strlen(name) > NAME_MAX_LEN)
        kiv_printf("%s name too long: %.40s...\n", kind, name);
    std::string path = strlen(name) > NAME_MAX_LEN ? "" : _mixer_find(name);
    if (path.empty()) {
        kiv_printf("unable to find %s %s\n", kind, name);
        table[name] = Rec(0);
        return 0;
    }
    kiv_printf("doing load %s %s\n", kind, name);
    Rec rec(load(path.c_str()));
    snprintf(fname(rec), 512, "%s", path.c_str());
    _mixer_note(rec, driver_file_stamp(path.c_str()));
    table[name] = rec;
    return rec.n;
}

// Shared by samples and streams: reads every settled changed file of a table again.
template <class Rec, class Reload, class Load>
static void _mixer_reload_table(std::map<std::string, Rec> &table, time_t now, const char *kind, char *(*fname)(Rec &),
                                DriverFileStamp *(*stamp)(Rec &), Reload reload, Load load) {
    for (auto &kv : table) {
        Rec &r = kv.second;
        const char *path = fname(r);
        if (!path[0])
            continue;
        DriverFileStamp seen = driver_file_stamp(path);
        if (!driver_file_settled(*stamp(r), seen, now))
            continue;
        kiv_printf("%s reload: %s\n", kind, path);
        // A file that did not decode at first has no id to reload: a repaired one is loaded now.
        if (r.n)
            reload(r.n);
        else
            r.n = load(path);
        _mixer_note(r, seen);
    }
}

// --- public functions

void mixer_init() {
    delete _mixer;
    _mixer = new _MixerData();
}

void mixer_deinit() {
    delete _mixer;
    _mixer = nullptr;
}

void mixer_loop() {
    driver_audio_loop();
}

void mixer_reload_auto() {
    mixer_reload_check(time(nullptr));
}

void mixer_reload_check(time_t now) {
    if (!_mixer || !driver_file_check_due(&_mixer->last_check, now))
        return;
    _mixer_reload_table(
        _mixer->sample_map, now, "sample", _sample_fname, _sample_stamp, [](int n) { driver_audio_sample_reload(n); },
        [](const char *path) { return driver_audio_sample_load(path); });
    _mixer_reload_table(
        _mixer->stream_map, now, "stream", _stream_fname, _stream_stamp, [](int n) { driver_audio_stream_reload(n); },
        [](const char *path) { return driver_audio_stream_load(path, false); });
}

int mixer_sample_load(const char *name) {
    if (!_mixer)
        return 0;
    return _mixer_load(
        _mixer->sample_map, name, "sample", ":: ", [](const char *path) { return driver_audio_sample_load(path); },
        _sample_fname);
}

void mixer_sample_play(int v, float vol, float pan) {
    driver_audio_sample_play(v, vol, pan);
}

int mixer_stream_load(const char *name) {
    if (!_mixer)
        return 0;
    return _mixer_load(
        _mixer->stream_map, name, "stream", "", [](const char *path) { return driver_audio_stream_load(path, false); },
        _stream_fname);
}

void mixer_stream_play(int v, float vol) {
    driver_audio_stream_play(v, vol, 0);
}
void mixer_stream_stop(int v) {
    driver_audio_stream_stop(v);
}
void mixer_stream_pause(int v, int pause) {
    driver_audio_stream_pause(v, pause);
}
void mixer_stream_volume(int v, float vol) {
    driver_audio_stream_volume(v, vol);
}
