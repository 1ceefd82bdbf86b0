#include "music/music.h"

#include <SDL.h>
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <mpg123.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

// SDL 2.24 brings SDL_ResetHint, which undoes the silent fallback between
// runs; libmpg123 1.25 gives exact gapless lengths from mpg123_scan.
static constexpr LibraryVersion MIN_SDL_VERSION = {2, 24, 0};
static constexpr LibraryVersion MIN_MPG123_VERSION = {1, 25, 0};
// Sample frames per audio buffer: about 23 ms at 44.1 kHz. Smaller buffers
// make SDL's timer-driven drivers drift.
static constexpr int BUFFER_FRAMES = 1024;
static constexpr int BYTES_PER_SAMPLE = 2; // signed 16-bit output
// A device that has stopped asking for sound for this long (about 40 buffers)
// once sound has flowed for a while is gone, even where SDL has not noticed:
// the clock goes on without it. A sound server may take the first buffer or
// two and then wait over a second before it starts playing.
static constexpr int64_t AUDIO_STALL_MS = 1000;
static constexpr uint64_t FLOWING_AFTER_MS = 250; // of sound handed over

using Clock = std::chrono::steady_clock;

// Written by the audio callback, read by the frame loop.
struct PlaybackClock {
    uint64_t framesBefore = 0;   // sample frames handed over before the current buffer
    uint64_t bufferFrames = 0;   // sample frames in the current buffer
    Clock::time_point handedAt;  // when the current buffer was handed over
    bool started = false;        // the first buffer has been handed over
    bool decodeFinished = false; // the decoder has delivered its last sample
    uint64_t decodedFrames = 0;  // sample frames of music delivered so far
};

static std::mutex clockLock;
static PlaybackClock playback;
static mpg123_handle* decoder;
static SDL_AudioDeviceID device;
static bool audioStarted;
static bool silent;
static Clock::time_point silentStart;
static uint64_t silentBaseMs; // the position when the silent clock took over
static long sampleRate;
static int channelCount;

bool versionAtLeast(LibraryVersion have, LibraryVersion minimum)
{
    if (have.major != minimum.major) return have.major > minimum.major;
    if (have.minor != minimum.minor) return have.minor > minimum.minor;
    return have.patch >= minimum.patch;
}

static std::string versionText(LibraryVersion v)
{
    return std::to_string(v.major) + "." + std::to_string(v.minor) + "." + std::to_string(v.patch);
}

bool audioLibrariesSupported(LibraryVersion sdl, LibraryVersion mpg123, std::string* error)
{
    const char* name = nullptr;
    LibraryVersion have{}, need{};
    if (!versionAtLeast(sdl, MIN_SDL_VERSION)) {
        name = "SDL2";
        have = sdl;
        need = MIN_SDL_VERSION;
    } else if (!versionAtLeast(mpg123, MIN_MPG123_VERSION)) {
        name = "libmpg123";
        have = mpg123;
        need = MIN_MPG123_VERSION;
    } else {
        return true;
    }
    *error = std::string("the audio library ") + name + " is version " + versionText(have) + ", older than " +
             versionText(need) + " that vantrop needs: update " + name + " (Debian package " +
             (name[0] == 'S' ? "libsdl2-2.0-0" : "libmpg123-0") + ")";
    return false;
}

LibraryVersion runningSdlVersion()
{
    SDL_version v;
    SDL_GetVersion(&v);
    return {v.major, v.minor, v.patch};
}

static LibraryVersion parseVersion(const char* text)
{
    LibraryVersion v{0, 0, 0};
    std::sscanf(text, "%d.%d.%d", &v.major, &v.minor, &v.patch);
    return v;
}

LibraryVersion runningMpg123Version()
{
    // libmpg123 reports its version at run time from 1.32 on; an older one
    // is the release the program was built against (the same soname).
    using DistVersion = const char* (*)(unsigned*, unsigned*, unsigned*);
    if (auto distVersion = reinterpret_cast<DistVersion>(dlsym(RTLD_DEFAULT, "mpg123_distversion")))
        return parseVersion(distVersion(nullptr, nullptr, nullptr));
    return parseVersion(VANTROP_MPG123_BUILD_VERSION);
}

// Decodes up to `length` bytes; sets *finished once the stream has no more.
static size_t decodeSome(Uint8* out, size_t length, bool* finished)
{
    size_t filled = 0;
    while (!*finished && filled < length) {
        size_t got = 0;
        const int result = mpg123_read(decoder, out + filled, length - filled, &got);
        filled += got;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT && got == 0) *finished = true;
    }
    return filled;
}

static void SDLCALL fillAudio(void*, Uint8* stream, int length)
{
    bool finished;
    {
        std::lock_guard<std::mutex> lock(clockLock);
        finished = playback.decodeFinished;
    }
    const size_t filled = decodeSome(stream, size_t(length), &finished);
    std::memset(stream + filled, 0, size_t(length) - filled);

    const uint64_t frameBytes = uint64_t(channelCount) * BYTES_PER_SAMPLE;
    std::lock_guard<std::mutex> lock(clockLock);
    playback.framesBefore += playback.started ? playback.bufferFrames : 0;
    playback.bufferFrames = uint64_t(length) / frameBytes;
    playback.handedAt = Clock::now();
    playback.started = true;
    playback.decodeFinished = finished;
    playback.decodedFrames += filled / frameBytes;
}

static std::string fileProblem(const char* fileName)
{
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        const int code = errno;
        std::string advice = code == ENOENT ? " (put the music file in the working directory)"
                             : code == EACCES ? " (make the file readable)" : "";
        return std::string("cannot open the music file ") + fileName + ": " + std::strerror(code) + advice;
    }
    std::fseek(file, 0, SEEK_END);
    const long size = std::ftell(file);
    std::fclose(file);
    if (size <= 0) return std::string("the music file ") + fileName + " is empty: it must be an MP3 stream";
    return {};
}

static bool openDecoder(const char* fileName, std::string* error)
{
    if (std::string problem = fileProblem(fileName); !problem.empty()) {
        *error = problem;
        return false;
    }
    int code = MPG123_OK;
    decoder = mpg123_new(nullptr, &code);
    if (!decoder) {
        *error = std::string("libmpg123 cannot start a decoder: ") + mpg123_plain_strerror(code);
        return false;
    }
    mpg123_param(decoder, MPG123_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    // Only 16-bit output at the file's own rate and channel count; SDL converts for the device.
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i)
        mpg123_format(decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);

    const std::string notMp3 = std::string("the music file ") + fileName + " is not an MP3 stream";
    int encoding = 0;
    if (mpg123_open(decoder, fileName) != MPG123_OK ||
        mpg123_getformat(decoder, &sampleRate, &channelCount, &encoding) != MPG123_OK || sampleRate <= 0) {
        *error = notMp3 + " (libmpg123: " + mpg123_strerror(decoder) + "); convert it to MP3";
        return false;
    }
    return true;
}

// The exact length from a full scan of the frames; stays at the preset when unknown.
static void readLength(MusicPlayer& player)
{
    if (mpg123_scan(decoder) != MPG123_OK) return;
    const off_t samples = mpg123_length(decoder);
    if (samples > 0) player.lengthMs = uint32_t(uint64_t(samples) * 1000 / uint64_t(sampleRate));
}

static void closeDecoder()
{
    if (!decoder) return;
    mpg123_close(decoder);
    mpg123_delete(decoder);
    decoder = nullptr;
}

bool readMusicLength(const char* fileName, uint32_t* lengthMs, std::string* error)
{
    MusicPlayer player;
    const bool opened = openDecoder(fileName, error);
    if (opened) readLength(player);
    closeDecoder();
    *lengthMs = player.lengthMs;
    return opened;
}

bool decodeMusicFile(const char* fileName, uint64_t* sampleFrames, std::string* error)
{
    MusicPlayer player;
    const bool opened = openDecoder(fileName, error);
    *sampleFrames = 0;
    if (opened) {
        readLength(player);
        Uint8 buffer[BUFFER_FRAMES * 2 * BYTES_PER_SAMPLE];
        const uint64_t frameBytes = uint64_t(channelCount) * BYTES_PER_SAMPLE;
        bool finished = false;
        while (!finished) *sampleFrames += decodeSome(buffer, sizeof buffer, &finished) / frameBytes;
    }
    closeDecoder();
    return opened;
}

// ALSA prints a screenful while SDL looks for a sound card that is not
// there; the one line that matters is ours.
static void quietAlsa(const char*, int, const char*, int, const char*, ...)
{
}

static bool openDevice(std::string* error)
{
    SDL_AudioSpec want{};
    want.freq = int(sampleRate);
    want.format = AUDIO_S16SYS;
    want.channels = Uint8(channelCount);
    want.samples = BUFFER_FRAMES;
    want.callback = fillAudio;
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (device) {
            // SDL_AUDIODRIVER=dummy in the environment also lands here.
            silent = std::strcmp(SDL_GetCurrentAudioDriver(), "dummy") == 0;
            return true;
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    const std::string reason = SDL_GetError();
    // No sound card or sound server: play on the dummy driver, which
    // consumes the stream silently, so the show still runs in time.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE); // over SDL_AUDIODRIVER too
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        device = SDL_OpenAudioDevice(nullptr, 0, &want, nullptr, 0);
        if (device) {
            std::fprintf(stderr, "vantrop: no audio device (%s); the show runs silently, in time\n", reason.c_str());
            silent = true;
            return true;
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    *error = std::string("no audio output could be opened, not even SDL's silent one: ") + SDL_GetError();
    return false;
}

bool startMusic(MusicPlayer& player, const char* fileName, std::string* error)
{
    if (!audioLibrariesSupported(runningSdlVersion(), runningMpg123Version(), error)) return false;
    playback = PlaybackClock{};
    silent = false;
    if (!openDecoder(fileName, error)) {
        stopMusic(player);
        return false;
    }
    readLength(player);
    snd_lib_error_set_handler(quietAlsa);
    const bool opened = openDevice(error);
    snd_lib_error_set_handler(nullptr);
    if (!opened) {
        stopMusic(player);
        return false;
    }
    audioStarted = true;
    silentStart = Clock::now();
    silentBaseMs = 0;
    SDL_PauseAudioDevice(device, 0);
    return true;
}

static uint64_t millisecondsSince(Clock::time_point then, Clock::time_point now)
{
    return uint64_t(std::chrono::duration_cast<std::chrono::microseconds>(now - then).count()) / 1000;
}

// A device that SDL reports stopped, or that stopped asking for sound
// before the stream was played out.
static bool deviceLost(Clock::time_point now)
{
    if (SDL_GetAudioDeviceStatus(device) != SDL_AUDIO_PLAYING) return true;
    std::lock_guard<std::mutex> lock(clockLock);
    const bool flowing = playback.framesBefore * 1000 >= FLOWING_AFTER_MS * uint64_t(sampleRate);
    return flowing && !playback.decodeFinished &&
           std::chrono::duration_cast<std::chrono::milliseconds>(now - playback.handedAt).count() > AUDIO_STALL_MS;
}

uint32_t readMusicPosition(MusicPlayer& player)
{
    const Clock::time_point now = Clock::now();
    uint64_t ms = 0;
    bool playedOut = false;
    if (!silent && device && deviceLost(now)) {
        // The sound is gone, but the show must go on in time and end by itself.
        std::fprintf(stderr, "vantrop: the audio device was lost; the show goes on silently, in time\n");
        silent = true;
        silentStart = now;
        silentBaseMs = player.positionMs;
    }
    if (silent) {
        // Nobody hears the dummy device, so the real-time clock is the music.
        ms = silentBaseMs + millisecondsSince(silentStart, now);
        playedOut = ms >= player.lengthMs;
    } else {
        std::lock_guard<std::mutex> lock(clockLock);
        if (playback.started && sampleRate > 0) {
            const uint64_t elapsedUs =
                uint64_t(std::max<int64_t>(0, std::chrono::duration_cast<std::chrono::microseconds>(
                                                  now - playback.handedAt).count()));
            const uint64_t frames = playback.framesBefore +
                std::min<uint64_t>(playback.bufferFrames, elapsedUs * uint64_t(sampleRate) / 1000000);
            ms = frames * 1000 / uint64_t(sampleRate);
            playedOut = playback.decodeFinished && frames >= playback.decodedFrames;
        }
    }
    if (playedOut) ms = std::max<uint64_t>(ms, player.lengthMs);
    ms = std::max<uint64_t>(std::min<uint64_t>(ms, UINT32_MAX), player.positionMs);
    player.positionMs = uint32_t(ms);
    return player.positionMs;
}

bool musicIsSilent()
{
    return silent;
}

void stopMusic(MusicPlayer&)
{
    if (device) {
        SDL_CloseAudioDevice(device);
        device = 0;
    }
    if (audioStarted || SDL_WasInit(SDL_INIT_AUDIO)) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    audioStarted = false;
    closeDecoder();
}
