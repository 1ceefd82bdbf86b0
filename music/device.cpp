// SDL's audio device: opening it (or its silent stand-in) and the callback
// that feeds it from the ring and stamps what it handed over.
#include "music/engine.h"

#ifdef __linux__
#include <alsa/asoundlib.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>

// Sample frames per device buffer, about 93 ms at 44.1 kHz. Chosen by
// measurement (BENCHMARKS.md, "Sound"): with the renderer and two CPU hogs on
// both cores, 1024 frames dropped out dozens of times a minute. Sync comes
// from the clock, so a deep buffer costs nothing visible.
static constexpr int BUFFER_FRAMES = 4096;
// How much is still queued ahead of a buffer when SDL asks for it, in device
// buffers, by SDL audio driver: the clock subtracts it so that it tells what
// is heard. PulseAudio asks for more when half of SDL's request is left
// (measured with the sync check, BENCHMARKS.md); a driver not listed is
// taken to hold one whole buffer, as ALSA's two-period ring does.
struct QueuedAhead {
    const char* driver;
    int halfBuffers; // queued ahead, in halves of a device buffer
};
static constexpr QueuedAhead QUEUED_AHEAD[] = {{"pulseaudio", 1}, {"dummy", 0}};
static constexpr int DEFAULT_QUEUED_HALF_BUFFERS = 2;

static int64_t microsecondsNow()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// The fields are stored with release and loaded with acquire: a reader that
// sees any field of a write also sees the odd count that began it, so a torn
// read always shows as a changed count.
static void publish(StampChannel& channel, const HandedOver& h)
{
    const uint32_t sequence = channel.sequence.load(std::memory_order_relaxed);
    channel.sequence.store(sequence + 1, std::memory_order_relaxed);
    channel.framesBefore.store(h.stamp.framesBefore, std::memory_order_release);
    channel.bufferFrames.store(h.stamp.bufferFrames, std::memory_order_release);
    channel.handedAtUs.store(h.stamp.handedAtUs, std::memory_order_release);
    channel.started.store(h.started, std::memory_order_release);
    channel.streamHandedOut.store(h.streamHandedOut, std::memory_order_release);
    channel.musicFrames.store(h.musicFrames, std::memory_order_release);
    channel.sequence.store(sequence + 2, std::memory_order_release);
}

HandedOver readHandedOver(const MusicEngine& e)
{
    const StampChannel& channel = e.published;
    for (;;) {
        const uint32_t before = channel.sequence.load(std::memory_order_acquire);
        HandedOver h;
        h.stamp = {channel.framesBefore.load(std::memory_order_acquire),
                   channel.bufferFrames.load(std::memory_order_acquire),
                   channel.handedAtUs.load(std::memory_order_acquire)};
        h.started = channel.started.load(std::memory_order_acquire);
        h.streamHandedOut = channel.streamHandedOut.load(std::memory_order_acquire);
        h.musicFrames = channel.musicFrames.load(std::memory_order_acquire);
        if (!(before & 1) && channel.sequence.load(std::memory_order_relaxed) == before) return h;
        std::this_thread::yield(); // the callback is writing: a few assignments
    }
}

void resetHandedOver(MusicEngine& e)
{
    e.handed = HandedOver{};
    publish(e.published, e.handed);
}

// The audio thread: copies what the decoder has ready and stamps the clock.
// No decoding, no file access, no allocation, no lock.
static void SDLCALL fillAudio(void* userData, Uint8* stream, int length)
{
    MusicEngine& e = *static_cast<MusicEngine*>(userData);
    int16_t* out = reinterpret_cast<int16_t*>(stream);
    const uint64_t wanted = uint64_t(length) / (CHANNELS * sizeof(int16_t));
    uint64_t filled = 0;

    // Frames that advance the clock: the lead-in, music, and the silence
    // after the stream's end; never the silence of a decoder that fell behind.
    const uint64_t preroll = std::min(wanted, e.prerollLeft);
    std::memset(out, 0, preroll * CHANNELS * sizeof(int16_t));
    e.prerollLeft -= preroll;
    filled += preroll;

    const bool finished = e.decodeFinished.load(std::memory_order_acquire);
    const uint64_t consumed = e.consumed.load(std::memory_order_relaxed);
    const uint64_t music = std::min(wanted - filled, e.written.load(std::memory_order_acquire) - consumed);
    const uint64_t at = consumed % RING_FRAMES, first = std::min(music, RING_FRAMES - at);
    std::memcpy(out + filled * CHANNELS, e.ring + at * CHANNELS, first * CHANNELS * sizeof(int16_t));
    std::memcpy(out + (filled + first) * CHANNELS, e.ring, (music - first) * CHANNELS * sizeof(int16_t));
    e.consumed.store(consumed + music, std::memory_order_release);
    filled += music;

    std::memset(out + filled * CHANNELS, 0, (wanted - filled) * CHANNELS * sizeof(int16_t));
    const bool handedOut = finished && consumed + music == e.written.load(std::memory_order_relaxed);
    const uint64_t counted = handedOut ? wanted : filled;

    HandedOver& h = e.handed;
    h.stamp = {h.stamp.framesBefore + h.stamp.bufferFrames, counted, microsecondsNow()};
    h.started = true;
    h.streamHandedOut = handedOut;
    h.musicFrames += music;
    publish(e.published, h);
}

// ALSA prints a screenful while SDL looks for a sound card that is not
// there; the one line that matters is ours.
#ifdef __linux__
static void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
void quietenSoundLibraries(bool quiet)
{
    snd_lib_error_set_handler(quiet ? quietAlsa : nullptr);
}
#else
void quietenSoundLibraries(bool) {}
#endif

static uint64_t queuedFrames(const char* driver, uint64_t bufferFrames)
{
    for (const QueuedAhead& q : QUEUED_AHEAD)
        if (std::strcmp(q.driver, driver) == 0) return bufferFrames * uint64_t(q.halfBuffers) / 2;
    return bufferFrames * DEFAULT_QUEUED_HALF_BUFFERS / 2;
}

// Starts SDL's audio with the driver it is told to use and opens the default
// device; false, with SDL's audio shut down again, when none opens.
static bool openWithSdlsDriver(MusicEngine& e, const SDL_AudioSpec& want, SDL_AudioSpec& have)
{
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) return false;
    e.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
    e.audioInitialised = e.device != 0;
    if (!e.device) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    return e.device != 0;
}

bool openDevice(MusicEngine& e, std::string* error)
{
    SDL_AudioSpec want{};
    want.freq = int(e.rate);
    want.format = AUDIO_S16SYS;
    want.channels = CHANNELS;
    want.samples = BUFFER_FRAMES;
    want.callback = fillAudio;
    want.userdata = &e;
    SDL_AudioSpec have{};
    if (openWithSdlsDriver(e, want, have)) {
        // SDL_AUDIODRIVER=dummy in the environment also lands here.
        e.silent = std::strcmp(SDL_GetCurrentAudioDriver(), "dummy") == 0;
        e.latencyFrames = queuedFrames(SDL_GetCurrentAudioDriver(), have.samples);
        return true;
    }
    const std::string reason = SDL_GetError();
    // No sound card or sound server: play on the dummy driver, which
    // consumes the stream silently, so the show still runs in time.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE); // over SDL_AUDIODRIVER too
    if (openWithSdlsDriver(e, want, have)) {
        std::fprintf(stderr, "%s: no audio device (%s); the show runs silently, in time\n", e.program, reason.c_str());
        e.silent = true;
        return true;
    }
    *error = std::string("no audio output could be opened, not even SDL's silent one: ") + SDL_GetError();
    return false;
}
