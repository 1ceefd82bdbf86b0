#include "music/music.h"

#include <SDL.h>
#include <mpg123.h>
#include <sys/stat.h>
#ifdef __linux__
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#endif

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>

// SDL 2.24 brings SDL_ResetHint, which undoes the silent fallback between
// runs; libmpg123 1.25 gives exact gapless lengths from mpg123_scan.
static constexpr LibraryVersion MIN_SDL_VERSION = {2, 24, 0};
static constexpr LibraryVersion MIN_MPG123_VERSION = {1, 25, 0};
// Playback is always 16-bit stereo at the first frame's rate, whatever the
// stream does later: mpg123 converts mono frames, SDL converts for the device.
static constexpr int CHANNELS = 2;
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
// Silence played before the first sample, in sample frames (about 46 ms): a
// sound server may drop the first milliseconds of a new stream, and the
// track's head must be heard whole. The clock stays at 0 through it.
static constexpr uint64_t PREROLL_FRAMES = 2048;
// Decoded sample frames waiting for the device: about 3 s at 44.1 kHz, so
// the decoder thread can be kept off the processor for that long.
static constexpr uint64_t RING_FRAMES = uint64_t(1) << 17;
// Sample frames the decoder writes into the ring at a time, and the frames it
// decodes before playback starts so that the first buffer is music.
static constexpr uint64_t DECODE_CHUNK_FRAMES = 4096;
static constexpr uint64_t PREFILL_FRAMES = 4 * DECODE_CHUNK_FRAMES;
// How long the decoder sleeps when the ring is full, milliseconds.
static constexpr int DECODER_WAIT_MS = 5;
// A device that has stopped asking for sound for this long (about 11
// buffers) once sound has flowed for a while is gone, even where SDL has not
// noticed: the clock goes on without it. A sound server may take the first
// buffer or two and then wait over a second before it starts playing.
static constexpr int64_t AUDIO_STALL_US = 1000000;
static constexpr uint64_t FLOWING_AFTER_MS = 250; // of sound handed over
// Gaps between frames closer than this many frames are one damaged place:
// the decoder may take a few stray bytes inside junk for frames.
static constexpr long DAMAGE_PLACE_FRAMES = 8;

using Clock = std::chrono::steady_clock;

// What the callback tells the frame loop, under MusicEngine::stampLock.
struct HandedOver {
    AudioStamp stamp{};
    bool started = false;         // the first buffer has been handed over
    bool streamHandedOut = false; // the last sample of music is in the device
    uint64_t musicFrames = 0;     // sample frames of music handed over so far
};

struct MusicEngine {
    mpg123_handle* decoder = nullptr;
    long rate = 0;
    uint64_t latencyFrames = 0;

    // The ring: the decoder thread writes, the audio callback reads; each
    // side only moves its own counter (in sample frames, never wrapped).
    int16_t ring[RING_FRAMES * CHANNELS];
    std::atomic<uint64_t> written{0};
    std::atomic<uint64_t> consumed{0};
    std::atomic<bool> decodeFinished{false};
    std::atomic<bool> quitDecoder{false};
    std::thread decoderThread;

    // Touched by the audio callback only.
    uint64_t prerollLeft = PREROLL_FRAMES;

    std::mutex stampLock;
    HandedOver handed;

    // The file as it was opened, so that a stream ending early can tell a
    // file changed under it (cut short, replaced) from its real end.
    std::string fileName;
    int64_t fileSize = 0, fileModifiedNs = 0;
    uint64_t totalFrames = 0; // the stream's length when opened, in sample frames; 0 when unknown
    // Set by the decoder thread once the file has lost sound it had: from
    // then on silence stands in for it, up to the length it had.
    std::atomic<bool> fileChanged{false};
    bool changeTold = false;

    SDL_AudioDeviceID device = 0;
    bool audioInitialised = false;
    bool silent = false;
    Clock::time_point silentStart;
    uint64_t silentBaseMs = 0; // the position when the silent clock took over
    uint64_t startFrame = 0;   // the stream's sample frame that playback started from
    bool paused = false;
};

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
    // Linked statically (Windows), it is exactly that release.
#ifdef __linux__
    using DistVersion = const char* (*)(unsigned*, unsigned*, unsigned*);
    if (auto distVersion = reinterpret_cast<DistVersion>(dlsym(RTLD_DEFAULT, "mpg123_distversion")))
        return parseVersion(distVersion(nullptr, nullptr, nullptr));
#endif
    return parseVersion(VANTROP_MPG123_BUILD_VERSION);
}

uint64_t heardFrame(const AudioStamp& stamp, int64_t nowUs, uint64_t latencyFrames, long rate)
{
    const uint64_t elapsedUs = uint64_t(std::max<int64_t>(0, nowUs - stamp.handedAtUs));
    const uint64_t played = std::min(stamp.bufferFrames, elapsedUs * uint64_t(rate) / 1000000);
    const uint64_t handed = stamp.framesBefore + played;
    return handed > latencyFrames ? handed - latencyFrames : 0;
}

static int64_t microsecondsNow()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch()).count();
}

// Decodes up to `frames` sample frames; sets *finished once the stream has no more.
static uint64_t decodeFrames(mpg123_handle* decoder, int16_t* out, uint64_t frames, bool* finished)
{
    const size_t frameBytes = CHANNELS * sizeof(int16_t);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
    size_t filled = 0;
    while (!*finished && filled < frames * frameBytes) {
        size_t got = 0;
        const int result = mpg123_read(decoder, bytes + filled, frames * frameBytes - filled, &got);
        filled += got;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT && got == 0) *finished = true;
    }
    return filled / frameBytes;
}

static std::string fileProblem(const char* fileName)
{
    // Asked before opening: opening a FIFO would wait for a writer forever.
    struct stat info {};
    if (stat(fileName, &info) == 0 && S_ISDIR(info.st_mode))
        return std::string("the music file ") + fileName + " is a folder: name an MP3 file";
    if (stat(fileName, &info) == 0 && !S_ISREG(info.st_mode))
        return std::string("the music file ") + fileName +
            " is not a regular file (a FIFO, device or socket): name an MP3 file";
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        const int code = errno;
        const bool bareName = std::strchr(fileName, '/') == nullptr;
        std::string advice = code == ENOENT
            ? (bareName ? " (put the music file in the working directory)" : " (check the path)")
            : code == EACCES ? " (make the file readable)"
                             : "";
        return std::string("cannot open the music file ") + fileName + ": " + std::strerror(code) + advice;
    }
    std::fclose(file);
    if (info.st_size <= 0) return std::string("the music file ") + fileName + " is empty: it must be an MP3 stream";
    return {};
}

// Once a stream has been recognised, damaged bytes anywhere in it are
// skipped, however many: the length scan and playback go on to the real end.
static void skipDamageToTheEnd(mpg123_handle* decoder)
{
    mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0.0);
}

// Whether the file begins as an MP3 stream does: an ID3 tag or a frame's sync bits.
static bool looksLikeMp3(const char* fileName)
{
    unsigned char head[3] = {};
    FILE* file = std::fopen(fileName, "rb");
    const bool read = file && std::fread(head, 1, sizeof head, file) == sizeof head;
    if (file) std::fclose(file);
    return read &&
        ((head[0] == 'I' && head[1] == 'D' && head[2] == '3') || (head[0] == 0xFF && (head[1] & 0xE0) == 0xE0));
}

static void closeDecoder(mpg123_handle* decoder)
{
    if (!decoder) return;
    mpg123_close(decoder);
    mpg123_delete(decoder);
}

// A decoder of the file that gives 16-bit stereo at the first frame's rate
// (*rate) to the end of the stream; null with *error when there is none.
static mpg123_handle* openDecoder(const char* fileName, long* rate, std::string* error)
{
    if (std::string problem = fileProblem(fileName); !problem.empty()) {
        *error = problem;
        return nullptr;
    }
    int code = MPG123_OK;
    mpg123_handle* decoder = mpg123_new(nullptr, &code);
    if (!decoder) {
        *error = std::string("libmpg123 cannot start a decoder: ") + mpg123_plain_strerror(code);
        return nullptr;
    }
    // Added to the defaults, which resample a stray frame of another rate.
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_GAPLESS | MPG123_QUIET, 0.0);
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) mpg123_format(decoder, rates[i], MPG123_STEREO, MPG123_ENC_SIGNED_16);

    int channels = 0, encoding = 0;
    if (mpg123_open(decoder, fileName) != MPG123_OK ||
        mpg123_getformat(decoder, rate, &channels, &encoding) != MPG123_OK || *rate <= 0) {
        *error = looksLikeMp3(fileName) ? std::string("the music file ") + fileName +
                " is too short: it ends before its first frame of sound; use a longer track"
                                        : std::string("the music file ") + fileName +
                " is not an MP3 stream (libmpg123: " + mpg123_strerror(decoder) + "); convert it to MP3";
        closeDecoder(decoder);
        return nullptr;
    }
    // From here on only this rate: a later frame of another channel count is
    // converted to stereo instead of changing the format under the device.
    mpg123_format_none(decoder);
    mpg123_format(decoder, *rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    skipDamageToTheEnd(decoder);
    return decoder;
}

std::string describeMusicDamage(const char* fileName)
{
    mpg123_handle* walker = mpg123_new(nullptr, nullptr);
    if (!walker) return {};
    mpg123_param(walker, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    int places = 0;
    off_t skipped = 0, expected = -1;
    long frame = 0, lastGap = -DAMAGE_PLACE_FRAMES - 1;
    double seconds = 0, firstAt = 0;
    if (mpg123_open(walker, fileName) == MPG123_OK) {
        int result;
        while ((result = mpg123_framebyframe_next(walker)) == MPG123_OK || result == MPG123_NEW_FORMAT) {
            mpg123_frameinfo info{};
            const off_t at = mpg123_framepos(walker);
            if (mpg123_info(walker, &info) != MPG123_OK || info.rate <= 0) break;
            if (expected < 0) skipDamageToTheEnd(walker);
            // Frames follow each other byte for byte; a gap is bytes the decoder skipped.
            if (expected >= 0 && at > expected) {
                if (places == 0) firstAt = seconds;
                if (frame - lastGap > DAMAGE_PLACE_FRAMES) places += 1;
                lastGap = frame;
                skipped += at - expected;
            }
            expected = at + info.framesize;
            seconds += double(mpg123_spf(walker)) / double(info.rate);
            ++frame;
        }
        mpg123_close(walker);
    }
    mpg123_delete(walker);
    if (places == 0) return {};
    char line[256];
    std::snprintf(line, sizeof line,
                  "the music file %s is damaged at %d:%06.3f (%lld bytes skipped in %d place%s); it "
                  "plays on past the damage",
                  fileName, int(firstAt) / 60, firstAt - 60.0 * (int(firstAt) / 60), (long long)skipped, places,
                  places == 1 ? "" : "s");
    return line;
}

// The exact length in sample frames from a full scan of the frames, or 0 when unknown.
static uint64_t scanLengthFrames(mpg123_handle* decoder)
{
    if (mpg123_scan(decoder) != MPG123_OK) return 0;
    const off_t samples = mpg123_length(decoder);
    return samples > 0 ? uint64_t(samples) : 0;
}

// The exact length from a full scan of the frames, or DEFAULT_SHOW_LENGTH_MS when unknown.
static uint32_t framesToMs(uint64_t frames, long rate)
{
    if (frames == 0) return DEFAULT_SHOW_LENGTH_MS;
    return uint32_t(std::min<uint64_t>(frames * 1000 / uint64_t(rate), UINT32_MAX));
}

bool readMusicLength(const char* fileName, uint32_t* lengthMs, std::string* error)
{
    long rate = 0;
    mpg123_handle* decoder = openDecoder(fileName, &rate, error);
    *lengthMs = decoder ? framesToMs(scanLengthFrames(decoder), rate) : DEFAULT_SHOW_LENGTH_MS;
    closeDecoder(decoder);
    return decoder != nullptr;
}

bool decodeMusicFile(const char* fileName, std::vector<int16_t>* samples, uint64_t* sampleFrames, long* rate,
                     std::string* error)
{
    *sampleFrames = 0;
    mpg123_handle* decoder = openDecoder(fileName, rate, error);
    if (!decoder) return false;
    int16_t chunk[DECODE_CHUNK_FRAMES * CHANNELS];
    bool finished = false;
    while (!finished) {
        const uint64_t got = decodeFrames(decoder, chunk, DECODE_CHUNK_FRAMES, &finished);
        if (samples) samples->insert(samples->end(), chunk, chunk + got * CHANNELS);
        *sampleFrames += got;
    }
    closeDecoder(decoder);
    return true;
}

struct MusicReader {
    mpg123_handle* decoder = nullptr;
    bool finished = false;
};

MusicReader* openMusicReader(const char* fileName, uint32_t fromMs, long* rate, std::string* error)
{
    mpg123_handle* decoder = openDecoder(fileName, rate, error);
    if (!decoder) return nullptr;
    MusicReader* reader = new MusicReader{decoder};
    // A position past the end reads as silence.
    const uint64_t frame = uint64_t(fromMs) * uint64_t(*rate) / 1000;
    reader->finished = frame > 0 && mpg123_seek(decoder, off_t(frame), SEEK_SET) < 0;
    return reader;
}

void readMusicFrames(MusicReader* reader, int16_t* out, uint64_t frames)
{
    const uint64_t got = decodeFrames(reader->decoder, out, frames, &reader->finished);
    std::memset(out + got * CHANNELS, 0, (frames - got) * CHANNELS * sizeof(int16_t));
}

void closeMusicReader(MusicReader* reader)
{
    if (!reader) return;
    closeDecoder(reader->decoder);
    delete reader;
}

// The size and modification time of a file, or -1s when it is gone.
static void fileState(const std::string& fileName, int64_t* size, int64_t* modifiedNs)
{
    struct stat info {};
    const bool found = stat(fileName.c_str(), &info) == 0;
    *size = found ? int64_t(info.st_size) : -1;
#ifdef _WIN32
    *modifiedNs = found ? int64_t(info.st_mtime) * 1000000000 : -1;
#else
    *modifiedNs = found ? int64_t(info.st_mtim.tv_sec) * 1000000000 + info.st_mtim.tv_nsec : -1;
#endif
}

// Whether the stream, ending before sample frame `at`, ends early because its file has changed since it was opened.
static bool fileChangedUnder(const MusicEngine& e, uint64_t at)
{
    if (e.totalFrames == 0 || at >= e.totalFrames) return false;
    int64_t size = 0, modifiedNs = 0;
    fileState(e.fileName, &size, &modifiedNs);
    return size != e.fileSize || modifiedNs != e.fileModifiedNs;
}

// Decodes up to one chunk into the ring when there is room; false once the stream has ended.
static bool decodeIntoRing(MusicEngine& e)
{
    const uint64_t written = e.written.load(std::memory_order_relaxed);
    if (RING_FRAMES - (written - e.consumed.load(std::memory_order_acquire)) < DECODE_CHUNK_FRAMES) {
        std::this_thread::sleep_for(std::chrono::milliseconds(DECODER_WAIT_MS));
        return true;
    }
    int16_t chunk[DECODE_CHUNK_FRAMES * CHANNELS];
    bool finished = false;
    const uint64_t streamAt = e.startFrame + written;
    uint64_t got = 0;
    if (e.fileChanged.load(std::memory_order_relaxed)) {
        got = std::min(DECODE_CHUNK_FRAMES, e.totalFrames - std::min(streamAt, e.totalFrames));
        std::memset(chunk, 0, sizeof chunk);
        finished = streamAt + got >= e.totalFrames;
    } else {
        got = decodeFrames(e.decoder, chunk, DECODE_CHUNK_FRAMES, &finished);
        if (finished && fileChangedUnder(e, streamAt + got)) {
            e.fileChanged.store(true, std::memory_order_relaxed);
            finished = false;
        }
    }
    const uint64_t at = written % RING_FRAMES, first = std::min(got, RING_FRAMES - at);
    std::memcpy(e.ring + at * CHANNELS, chunk, first * CHANNELS * sizeof(int16_t));
    std::memcpy(e.ring, chunk + first * CHANNELS, (got - first) * CHANNELS * sizeof(int16_t));
    e.written.store(written + got, std::memory_order_release);
    return !finished;
}

static void runDecoder(MusicEngine* e)
{
    while (!e->quitDecoder.load(std::memory_order_relaxed) && decodeIntoRing(*e)) {}
    e->decodeFinished.store(true, std::memory_order_release);
}

// The audio thread: copies what the decoder has ready and stamps the clock.
// No decoding, no file access, no allocation; the stamp lock is only ever
// held for a few assignments.
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

    const int64_t now = microsecondsNow();
    std::lock_guard<std::mutex> lock(e.stampLock);
    HandedOver& h = e.handed;
    h.stamp = {h.stamp.framesBefore + h.stamp.bufferFrames, counted, now};
    h.started = true;
    h.streamHandedOut = handedOut;
    h.musicFrames += music;
}

// ALSA prints a screenful while SDL looks for a sound card that is not
// there; the one line that matters is ours.
#ifdef __linux__
static void quietAlsa(const char*, int, const char*, int, const char*, ...) {}
static void quietenSoundLibraries(bool quiet)
{
    snd_lib_error_set_handler(quiet ? quietAlsa : nullptr);
}
#else
static void quietenSoundLibraries(bool) {}
#endif

static uint64_t queuedFrames(const char* driver, uint64_t bufferFrames)
{
    for (const QueuedAhead& q : QUEUED_AHEAD)
        if (std::strcmp(q.driver, driver) == 0) return bufferFrames * uint64_t(q.halfBuffers) / 2;
    return bufferFrames * DEFAULT_QUEUED_HALF_BUFFERS / 2;
}

static bool openDevice(MusicEngine& e, std::string* error)
{
    SDL_AudioSpec want{};
    want.freq = int(e.rate);
    want.format = AUDIO_S16SYS;
    want.channels = CHANNELS;
    want.samples = BUFFER_FRAMES;
    want.callback = fillAudio;
    want.userdata = &e;
    SDL_AudioSpec have{};
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        e.audioInitialised = true;
        e.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (e.device) {
            // SDL_AUDIODRIVER=dummy in the environment also lands here.
            e.silent = std::strcmp(SDL_GetCurrentAudioDriver(), "dummy") == 0;
            e.latencyFrames = queuedFrames(SDL_GetCurrentAudioDriver(), have.samples);
            return true;
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    const std::string reason = SDL_GetError();
    // No sound card or sound server: play on the dummy driver, which
    // consumes the stream silently, so the show still runs in time.
    SDL_SetHintWithPriority(SDL_HINT_AUDIODRIVER, "dummy", SDL_HINT_OVERRIDE); // over SDL_AUDIODRIVER too
    if (SDL_InitSubSystem(SDL_INIT_AUDIO) == 0) {
        e.audioInitialised = true;
        e.device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
        if (e.device) {
            std::fprintf(stderr, "vantrop: no audio device (%s); the show runs silently, in time\n", reason.c_str());
            e.silent = true;
            return true;
        }
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
    }
    e.audioInitialised = false;
    *error = std::string("no audio output could be opened, not even SDL's silent one: ") + SDL_GetError();
    return false;
}

// Empties the ring and decodes the stream's head into it up front, so that
// the first buffer the device asks for is music.
static void prefillRing(MusicEngine& e)
{
    e.written.store(0);
    e.consumed.store(0);
    e.decodeFinished.store(false);
    while (e.written.load() < PREFILL_FRAMES && decodeIntoRing(e)) {}
    if (e.written.load() < PREFILL_FRAMES) e.decodeFinished.store(true);
}

// The decoder thread, for whatever the prefill left of the stream.
static void startDecoder(MusicEngine& e)
{
    if (!e.decodeFinished.load()) e.decoderThread = std::thread(runDecoder, &e);
}

bool openMusic(MusicPlayer& player, const char* fileName, std::string* error)
{
    stopMusic(player);
    if (!audioLibrariesSupported(runningSdlVersion(), runningMpg123Version(), error)) return false;
    MusicEngine* e = new MusicEngine;
    player.engine = e;
    e->fileName = fileName;
    fileState(e->fileName, &e->fileSize, &e->fileModifiedNs);
    e->decoder = openDecoder(fileName, &e->rate, error);
    if (!e->decoder) {
        stopMusic(player);
        return false;
    }
    if (const std::string damage = describeMusicDamage(fileName); !damage.empty())
        std::fprintf(stderr, "vantrop: %s\n", damage.c_str());
    e->totalFrames = scanLengthFrames(e->decoder);
    player.lengthMs = framesToMs(e->totalFrames, e->rate);
    player.positionMs = 0;
    prefillRing(*e);
    return true;
}

static void stopDecoder(MusicEngine& e)
{
    e.quitDecoder.store(true);
    if (e.decoderThread.joinable()) e.decoderThread.join();
    e.quitDecoder.store(false);
}

void pauseMusic(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e || e->paused) return;
    readMusicPosition(player);
    e->paused = true;
    if (e->device) SDL_PauseAudioDevice(e->device, 1);
}

void playMusicFrom(MusicPlayer& player, uint32_t positionMs)
{
    MusicEngine* e = player.engine;
    if (!e) return;
    // With the callback held off, the ring and the stamps start again from
    // the wanted sample; the lead-in silence plays first, as at the start.
    if (e->device) SDL_LockAudioDevice(e->device);
    stopDecoder(*e);
    // The first sample at or after the millisecond, so that the position reads back as asked.
    const uint64_t frame = (uint64_t(positionMs) * uint64_t(e->rate) + 999) / 1000;
    // A seek the file cannot follow any more (it changed under us) stays
    // where it was asked to go, in silence.
    const bool sought = mpg123_seek(e->decoder, off_t(frame), SEEK_SET) >= 0;
    if (!sought && fileChangedUnder(*e, frame)) e->fileChanged.store(true);
    e->startFrame = sought || e->fileChanged.load() ? frame : 0;
    prefillRing(*e);
    startDecoder(*e);
    e->prerollLeft = PREROLL_FRAMES;
    {
        std::lock_guard<std::mutex> lock(e->stampLock);
        e->handed = HandedOver{};
    }
    player.positionMs = uint32_t(e->startFrame * 1000 / uint64_t(e->rate));
    e->silentBaseMs = player.positionMs;
    e->silentStart = Clock::now();
    e->paused = false;
    if (e->device) {
        SDL_UnlockAudioDevice(e->device);
        SDL_PauseAudioDevice(e->device, 0);
    }
}

bool playMusic(MusicPlayer& player, std::string* error)
{
    MusicEngine* e = player.engine;
    startDecoder(*e);
    quietenSoundLibraries(true);
    const bool opened = openDevice(*e, error);
    quietenSoundLibraries(false);
    if (!opened) {
        stopMusic(player);
        return false;
    }
    e->silentStart = Clock::now();
    SDL_PauseAudioDevice(e->device, 0);
    return true;
}

// A device that SDL reports stopped, or that stopped asking for sound
// before the stream was played out.
static bool deviceLost(MusicEngine& e, int64_t nowUs)
{
    if (SDL_GetAudioDeviceStatus(e.device) != SDL_AUDIO_PLAYING) return true;
    std::lock_guard<std::mutex> lock(e.stampLock);
    const bool flowing = e.handed.musicFrames * 1000 >= FLOWING_AFTER_MS * uint64_t(e.rate);
    return flowing && !e.handed.streamHandedOut && nowUs - e.handed.stamp.handedAtUs > AUDIO_STALL_US;
}

uint32_t readMusicPosition(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e || e->paused) return player.positionMs;
    const Clock::time_point now = Clock::now();
    const int64_t nowUs = std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    uint64_t ms = 0;
    bool playedOut = false;
    if (!e->silent && deviceLost(*e, nowUs)) {
        // The sound is gone, but the show must go on in time and end by itself.
        std::fprintf(stderr, "vantrop: the audio device was lost; the show goes on silently, in time\n");
        e->silent = true;
        e->silentStart = now;
        e->silentBaseMs = player.positionMs;
    }
    if (e->silent) {
        // Nobody hears the dummy device, so the real-time clock is the music.
        ms = e->silentBaseMs +
            uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(now - e->silentStart).count());
        playedOut = ms >= player.lengthMs;
    } else {
        HandedOver h;
        {
            std::lock_guard<std::mutex> lock(e->stampLock);
            h = e->handed;
        }
        if (h.started) {
            const uint64_t heard = heardFrame(h.stamp, nowUs, e->latencyFrames, e->rate);
            const uint64_t music = heard > PREROLL_FRAMES ? heard - PREROLL_FRAMES : 0;
            ms = (e->startFrame + music) * 1000 / uint64_t(e->rate);
            playedOut = h.streamHandedOut && music >= h.musicFrames;
        }
    }
    if (playedOut) ms = std::max<uint64_t>(ms, player.lengthMs);
    ms = std::max<uint64_t>(std::min<uint64_t>(ms, UINT32_MAX), player.positionMs);
    player.positionMs = uint32_t(ms);
    return player.positionMs;
}

std::string takeMusicNotice(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e || e->changeTold || !e->fileChanged.load()) return "";
    e->changeTold = true;
    const uint32_t ms = player.lengthMs;
    char length[32];
    std::snprintf(length, sizeof length, "%u:%02u.%03u", ms / 60000, ms / 1000 % 60, ms % 1000);
    return "the music file " + e->fileName + " changed while it played (cut short or replaced); silence stands in " +
        "for the sound it lost, up to the length it had (" + length + ")";
}

bool musicIsSilent(const MusicPlayer& player)
{
    return player.engine && player.engine->silent;
}

void stopMusic(MusicPlayer& player)
{
    MusicEngine* e = player.engine;
    if (!e) return;
    // The device first: closing it waits for a callback in progress.
    if (e->device) SDL_CloseAudioDevice(e->device);
    if (e->audioInitialised) SDL_QuitSubSystem(SDL_INIT_AUDIO);
    SDL_ResetHint(SDL_HINT_AUDIODRIVER);
    stopDecoder(*e);
    closeDecoder(e->decoder);
    delete e;
    player.engine = nullptr;
}
