// The decoder thread and the ring of decoded samples it fills ahead of the device.
#include "music/engine.h"

#include <algorithm>
#include <cstring>

// The frames the decoder decodes before playback starts, so that the first buffer is music.
static constexpr uint64_t PREFILL_FRAMES = 4 * DECODE_CHUNK_FRAMES;
// How long the decoder sleeps when the ring is full, milliseconds.
static constexpr int DECODER_WAIT_MS = 5;

bool fileChangedUnder(const MusicEngine& e, uint64_t at)
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

void prefillRing(MusicEngine& e)
{
    e.written.store(0);
    e.consumed.store(0);
    e.decodeFinished.store(false);
    while (e.written.load() < PREFILL_FRAMES && decodeIntoRing(e)) {}
    if (e.written.load() < PREFILL_FRAMES) e.decodeFinished.store(true);
}

void startDecoder(MusicEngine& e)
{
    if (!e.decodeFinished.load()) e.decoderThread = std::thread(runDecoder, &e);
}

void stopDecoder(MusicEngine& e)
{
    e.quitDecoder.store(true);
    if (e.decoderThread.joinable()) e.decoderThread.join();
    e.quitDecoder.store(false);
}
