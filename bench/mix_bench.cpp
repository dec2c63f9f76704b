// Mix cost per 1024-frame block (memory-sample voices, one streamed Ogg) as a share of the block's real time, then
// a side-by-side render of 60 s through SDL's disk driver against SDL_mixer, each side in its own child process so
// its CPU time is measured alone. Usage: mix_bench [benchmark flags]; KIV_BUILD_DIR locates testdata/.
#include <SDL.h>
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#ifdef KIV_HAVE_SDL_MIXER
#include <SDL_mixer.h>
#endif

#include "kiv_driver-audio.h"
#include "kiv_driver-audio_int.h"
#include "kiv_driver.h"

extern char **environ;

static const int FRAMES = 1024;
static const double BLOCK_SECONDS = FRAMES / 44100.0;
static const int RENDER_SECONDS = 60;

static std::string _build_dir() {
    const char *b = getenv("KIV_BUILD_DIR");
    return b ? b : ".";
}

static std::string _music_path() {
    return _build_dir() + "/testdata/music44_stereo.ogg";
}

// One second of a 440 Hz stereo tone at amplitude 0.2, as 16-bit WAV.
static std::string _write_sample_wav() {
    std::string path = "/tmp/kiv_mix_bench_tone.wav";
    const int frames = 44100;
    std::vector<int16_t> v(2 * frames);
    for (int i = 0; i < frames; i++)
        v[2 * i] = v[2 * i + 1] = (int16_t)(6553 * sin(2 * M_PI * 440 * i / 44100.0));
    uint32_t data = (uint32_t)v.size() * 2;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        return path;
    auto u32 = [&](uint32_t x) { fwrite(&x, 4, 1, f); };
    auto u16 = [&](uint16_t x) { fwrite(&x, 2, 1, f); };
    fwrite("RIFF", 1, 4, f);
    u32(36 + data);
    fwrite("WAVEfmt ", 1, 8, f);
    u32(16);
    u16(1);
    u16(2);
    u32(44100);
    u32(44100 * 4);
    u16(4);
    u16(16);
    fwrite("data", 1, 4, f);
    u32(data);
    fwrite(v.data(), 2, v.size(), f);
    fclose(f);
    return path;
}

// Mixes one block per iteration; reports seconds of sound mixed per CPU second (the share of real time is its
// inverse).
static void _mix_blocks(benchmark::State &state) {
    std::vector<float> out(2 * FRAMES);
    for (auto _ : state) {
        driver_audio_mix(out.data(), FRAMES);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["x_realtime"] = benchmark::Counter(BLOCK_SECONDS, benchmark::Counter::kIsIterationInvariantRate);
}

static void BM_MixSamples(benchmark::State &state) {
    driver_init(DRIVER_AUDIO);
    driver_audio_pause_device(1);
    // A looping voice as the stream call makes it, copied at spread offsets so the voices do not line up.
    int id = driver_audio_stream_load(_write_sample_wav().c_str(), false);
    driver_audio_stream_play(id, 0.5f, 0);
    driver_audio_lock();
    AudioPlaying p = _sdl_audio_data->playing.back();
    _sdl_audio_data->playing.clear();
    for (int i = 0; i < state.range(0); i++) {
        p.cur = i * 2 * 997 % 88200;
        _sdl_audio_data->playing.push_back(p);
    }
    driver_audio_unlock();
    _mix_blocks(state);
    driver_deinit();
}
BENCHMARK(BM_MixSamples)->Arg(1)->Arg(8)->Arg(32)->Arg(128)->Unit(benchmark::kMicrosecond);

static void BM_MixOggStream(benchmark::State &state) {
    driver_init(DRIVER_AUDIO);
    driver_audio_pause_device(1);
    int id = driver_audio_stream_load(_music_path().c_str(), false);
    driver_audio_stream_play(id, 1, 0);
    _mix_blocks(state);
    driver_deinit();
}
BENCHMARK(BM_MixOggStream)->Unit(benchmark::kMicrosecond);

// A frame's burst of 400 sample plays against a running device (SDL's dummy driver mixing at the one-shot cap on its
// own thread): what the main thread pays, never a wait for a mix pass.
static void BM_SamplePlayBurst(benchmark::State &state) {
    driver_init(DRIVER_AUDIO);
    int id = driver_audio_sample_load(_write_sample_wav().c_str());
    for (auto _ : state)
        for (int i = 0; i < 400; i++)
            driver_audio_sample_play(id, 0.2f, 0);
    driver_deinit();
}
BENCHMARK(BM_SamplePlayBurst)->Unit(benchmark::kMicrosecond)->UseRealTime();

// --- side by side through the disk driver

static long _fsize(const char *path) {
    struct stat st;
    return stat(path, &st) == 0 ? (long)st.st_size : 0;
}

// Waits until the disk driver has written RENDER_SECONDS of 16-bit stereo.
static void _wait_rendered(const char *out) {
    const long want = 44100L * 4 * RENDER_SECONDS;
    while (_fsize(out) < want)
        SDL_Delay(2);
}

static int _render_engine(int voices, const char *out) {
    driver_init(DRIVER_AUDIO);
    if (!_sdl_audio_data)
        return 1;
    std::string wav = _write_sample_wav();
    // One looping voice per source: the stream call keeps a single voice per id, as SDL_mixer keeps one per channel.
    std::vector<int> ids;
    for (int i = 0; i < voices; i++)
        ids.push_back(driver_audio_stream_load(wav.c_str(), false));
    int music = driver_audio_stream_load(_music_path().c_str(), false);
    driver_audio_lock();
    for (int id : ids)
        driver_audio_stream_play(id, 1, 0);
    driver_audio_stream_play(music, 1, 0);
    driver_audio_unlock();
    _wait_rendered(out);
    driver_deinit();
    return 0;
}

static int _render_sdl_mixer(int voices, const char *out) {
#ifdef KIV_HAVE_SDL_MIXER
    if (SDL_Init(SDL_INIT_AUDIO) < 0)
        return 1;
    Mix_Init(MIX_INIT_OGG);
    if (Mix_OpenAudio(44100, AUDIO_S16LSB, 2, 1024) < 0)
        return 1;
    Mix_AllocateChannels(voices);
    Mix_Chunk *chunk = Mix_LoadWAV(_write_sample_wav().c_str());
    Mix_Music *mus = Mix_LoadMUS(_music_path().c_str());
    if (!chunk || !mus)
        return 1;
    SDL_LockAudio();
    for (int i = 0; i < voices; i++)
        Mix_PlayChannel(-1, chunk, -1);
    Mix_PlayMusic(mus, -1);
    SDL_UnlockAudio();
    _wait_rendered(out);
    Mix_HaltChannel(-1);
    Mix_HaltMusic();
    Mix_FreeMusic(mus);
    Mix_FreeChunk(chunk);
    Mix_CloseAudio();
    Mix_Quit();
    SDL_Quit();
    return 0;
#else
    return 2;
#endif
}

// Runs this program again as one side of the comparison and returns its CPU seconds (user + system), or -1.
static double _child_cpu(const char *self, const char *side, int voices) {
    std::string out = std::string("/tmp/kiv_mix_bench_") + side + ".raw";
    unlink(out.c_str());
    std::string v = std::to_string(voices);
    const char *argv[] = {self, "--render", side, v.c_str(), out.c_str(), nullptr};
    setenv("SDL_AUDIODRIVER", "disk", 1);
    setenv("SDL_DISKAUDIOFILE", out.c_str(), 1);
    setenv("SDL_DISKAUDIODELAY", "0", 1);
    pid_t pid;
    if (posix_spawn(&pid, self, nullptr, nullptr, (char **)argv, environ) != 0)
        return -1;
    int status = 0;
    struct rusage ru;
    if (wait4(pid, &status, 0, &ru) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return -1;
    unlink(out.c_str());
    return ru.ru_utime.tv_sec + ru.ru_utime.tv_usec / 1e6 + ru.ru_stime.tv_sec + ru.ru_stime.tv_usec / 1e6;
}

int main(int argc, char **argv) {
    if (argc == 5 && strcmp(argv[1], "--render") == 0) {
        int voices = atoi(argv[3]);
        return strcmp(argv[2], "engine") == 0 ? _render_engine(voices, argv[4]) : _render_sdl_mixer(voices, argv[4]);
    }
    setenv("SDL_AUDIODRIVER", "dummy", 0);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();

    printf("\nRender %d s through the disk driver (no delay): looping samples + one Ogg track, CPU seconds\n",
           RENDER_SECONDS);
    printf("%-8s %12s %12s\n", "voices", "kivgame", "SDL_mixer");
    for (int voices : {8, 32}) {
        double mine = _child_cpu("/proc/self/exe", "engine", voices);
        double theirs = _child_cpu("/proc/self/exe", "sdl_mixer", voices);
        printf("%-8d %12.3f %12s\n", voices, mine, theirs < 0 ? "n/a" : std::to_string(theirs).substr(0, 6).c_str());
    }
    return 0;
}
