// The stream: its length, its damage, stretches of it.
#include "music/engine.h"
#include "music/for_tests.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

// Gaps between frames closer than this many frames are one damaged place:
// the decoder may take a few stray bytes inside junk for frames.
static constexpr long DAMAGE_PLACE_FRAMES = 8;

std::string describeMusicDamage(const char* fileName)
{
    // Only an MP3 stream is walked frame by frame.
    if (!decodesAsMp3(fileName)) return {};
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

uint32_t framesToMs(uint64_t frames, long rate)
{
    if (frames == 0) return DEFAULT_SHOW_LENGTH_MS;
    return uint32_t(std::min<uint64_t>(frames * 1000 / uint64_t(rate), UINT32_MAX));
}

bool readMusicLength(const char* fileName, uint32_t* lengthMs, std::string* error)
{
    long rate = 0;
    Decoder* decoder = openDecoder(fileName, &rate, error);
    *lengthMs = decoder ? framesToMs(scanLengthFrames(decoder), rate) : DEFAULT_SHOW_LENGTH_MS;
    closeDecoder(decoder);
    return decoder != nullptr;
}

bool decodeMusicFile(const char* fileName, std::vector<int16_t>* samples, uint64_t* sampleFrames, long* rate,
                     std::string* error)
{
    *sampleFrames = 0;
    Decoder* decoder = openDecoder(fileName, rate, error);
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
    Decoder* decoder = nullptr;
    bool finished = false;
};

MusicReader* openMusicReader(const char* fileName, uint32_t fromMs, long* rate, std::string* error)
{
    Decoder* decoder = openDecoder(fileName, rate, error);
    if (!decoder) return nullptr;
    MusicReader* reader = new MusicReader{decoder};
    // A position past the end reads as silence.
    const uint64_t frame = uint64_t(fromMs) * uint64_t(*rate) / 1000;
    reader->finished = frame > 0 && !seekDecoder(decoder, frame);
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

void fileState(const std::string& fileName, int64_t* size, int64_t* modifiedNs)
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
