// The stream: decoders of the MP3 file, its length, its damage, stretches of it.
#include "music/engine.h"
#include "music/for_tests.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

// Gaps between frames closer than this many frames are one damaged place:
// the decoder may take a few stray bytes inside junk for frames.
static constexpr long DAMAGE_PLACE_FRAMES = 8;

uint64_t decodeFrames(mpg123_handle* decoder, int16_t* out, uint64_t frames, bool* finished)
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
    const bool found = stat(fileName, &info) == 0;
    if (found && S_ISDIR(info.st_mode))
        return std::string("the music file ") + fileName + " is a folder: name an MP3 file";
    if (found && !S_ISREG(info.st_mode))
        return std::string("the music file ") + fileName +
            " is not a regular file (a FIFO, device or socket): name an MP3 file";
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        const int code = errno;
        // The show's own track missing is the usual first-run case: say every way out.
        const std::string folder = musicDataFolder();
        const std::string ownTrack = std::string(" (put ") + MUSIC_FILE_NAME + " in the folder you start from" +
            (folder.empty() ? std::string() : " or in " + folder) +
            ", name another MP3 with --music FILE, or make a placeholder: vantrop-make-track " + MUSIC_FILE_NAME + ")";
        std::string advice = code == ENOENT
            ? (std::strcmp(fileName, MUSIC_FILE_NAME) == 0 ? ownTrack : std::string(" (check the name and the folder)"))
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

void closeDecoder(mpg123_handle* decoder)
{
    if (!decoder) return;
    mpg123_close(decoder);
    mpg123_delete(decoder);
}

mpg123_handle* openDecoder(const char* fileName, long* rate, std::string* error)
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

uint64_t scanLengthFrames(mpg123_handle* decoder)
{
    if (mpg123_scan(decoder) != MPG123_OK) return 0;
    const off_t samples = mpg123_length(decoder);
    return samples > 0 ? uint64_t(samples) : 0;
}

uint32_t framesToMs(uint64_t frames, long rate)
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
