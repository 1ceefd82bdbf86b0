// Inside the music engine: what its parts share. Only music/ includes this;
// the rest of the program sees music/music.h.
#pragma once
#include "music/music.h"

#include <SDL.h>
#include <mpg123.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <string>
#include <thread>

// Playback is always 16-bit stereo at the first frame's rate, whatever the
// stream does later: mpg123 converts mono frames, SDL converts for the device.
inline constexpr int CHANNELS = 2;
// Silence played before the first sample, in sample frames (about 46 ms): a
// sound server may drop the first milliseconds of a new stream, and the
// track's head must be heard whole. The clock stays at 0 through it.
inline constexpr uint64_t PREROLL_FRAMES = 2048;
// Decoded sample frames waiting for the device: about 3 s at 44.1 kHz, so
// the decoder thread can be kept off the processor for that long.
inline constexpr uint64_t RING_FRAMES = uint64_t(1) << 17;
// Sample frames the decoder writes into the ring at a time.
inline constexpr uint64_t DECODE_CHUNK_FRAMES = 4096;
using Clock = std::chrono::steady_clock;

// What the callback has handed over to the device.
struct HandedOver {
    AudioStamp stamp{};
    bool started = false;         // the first buffer has been handed over
    bool streamHandedOut = false; // the last sample of music is in the device
    uint64_t musicFrames = 0;     // sample frames of music handed over so far
};

// HandedOver as the callback publishes it: written by the audio thread
// alone, read by the frame loop without waiting on it (a sequence lock: the
// count is odd while a write is under way, and a reader that saw it change
// reads again), so the real-time thread never waits for a lock.
struct StampChannel {
    std::atomic<uint32_t> sequence{0};
    std::atomic<uint64_t> framesBefore{0}, bufferFrames{0}, musicFrames{0};
    std::atomic<int64_t> handedAtUs{0};
    std::atomic<bool> started{false}, streamHandedOut{false};
};

// A decoder of one file (decoder.cpp).
struct Decoder;

struct MusicEngine {
    Decoder* decoder = nullptr;
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

    // What the callback has handed over: its own running count, and what it
    // publishes of it for the frame loop.
    HandedOver handed;
    StampChannel published;

    // The file as it was opened, so that a stream ending early can tell a
    // file changed under it (cut short, replaced) from its real end.
    std::string fileName;
    const char* program = "vantrop"; // the program's name, first on every line printed
    int64_t fileSize = 0, fileModifiedNs = 0;
    uint64_t totalFrames = 0; // the stream's length when opened, in sample frames; 0 when unknown
    // Set by the decoder thread once the file has lost sound it had: from
    // then on silence stands in for it, up to the length it had.
    std::atomic<bool> fileChanged{false};
    bool changeTold = false;

    SDL_AudioDeviceID device = 0;
    bool audioInitialised = false;
    bool silent = false;
    bool deviceLossUntold = false; // the clock found the device lost; takeMusicNotice says so once
    Clock::time_point silentStart;
    uint64_t silentBaseMs = 0; // the position when the silent clock took over
    uint64_t startFrame = 0;   // the stream's sample frame that playback started from
    bool paused = false;
};

// decoder.cpp: the decoders.
// A decoder of the file that gives 16-bit stereo at its rate (*rate) to the
// end of the stream; null with *error naming the file and what to do.
Decoder* openDecoder(const char* fileName, long* rate, std::string* error);
// Releases a decoder (null is fine).
void closeDecoder(Decoder* decoder);
// Decodes up to `frames` sample frames; sets *finished once the stream has no more.
uint64_t decodeFrames(Decoder* decoder, int16_t* out, uint64_t frames, bool* finished);
// Moves to sample frame `frame`; false when the stream cannot get there.
bool seekDecoder(Decoder* decoder, uint64_t frame);
// The exact length in sample frames, or 0 when unknown; the position stays where it was.
uint64_t scanLengthFrames(Decoder* decoder);
// Whether finding the length of a file of fileSize bytes takes long enough to be announced.
bool lengthTakesAWhile(const Decoder* decoder, int64_t fileSize);
// Whether libmpg123 reads the file (any file that does not begin as a WAV, AIFF, FLAC or Ogg file).
bool decodesAsMp3(const char* fileName);
// Lets an MP3 decoder skip any amount of damage once the stream is recognised.
void skipDamageToTheEnd(mpg123_handle* decoder);

// stream.cpp: length, damage and stretches of a stream.
// Sample frames as milliseconds, or DEFAULT_SHOW_LENGTH_MS for an unknown length (0).
uint32_t framesToMs(uint64_t frames, long rate);
// The size and modification time of a file, or -1s when it is gone.
void fileState(const std::string& fileName, int64_t* size, int64_t* modifiedNs);

// ring.cpp: the decoder thread and the sample ring.
// Empties the ring and decodes the stream's head into it up front, so that
// the first buffer the device asks for is music.
void prefillRing(MusicEngine& e);
// The decoder thread, for whatever the prefill left of the stream.
void startDecoder(MusicEngine& e);
// Stops the decoder thread and waits for it.
void stopDecoder(MusicEngine& e);
// Whether the stream, ending before sample frame `at`, ends early because its file has changed since it was opened.
bool fileChangedUnder(const MusicEngine& e, uint64_t at);

// device.cpp: SDL's audio device and its callback.
// Opens the device (or SDL's silent one when none opens) with the callback that feeds it from the ring.
bool openDevice(MusicEngine& e, std::string* error);
// Quietens ALSA's messages while SDL looks for a sound card, and lets them through again.
void quietenSoundLibraries(bool quiet);
// Starts the stamps again from nothing; only while the callback is held off.
void resetHandedOver(MusicEngine& e);
// What the callback has published, read without waiting on it.
HandedOver readHandedOver(const MusicEngine& e);
