// The decoders: libmpg123 for MP3, libsndfile for WAV, FLAC, Ogg Vorbis and
// Opus (not in the Windows build, which reads MP3 alone). Both give 16-bit
// stereo at the file's rate; which one reads a file is decided by its first
// bytes, so that every MP3 stays on libmpg123's exact gapless lengths.
#include "music/engine.h"

#ifndef _WIN32
#include <sndfile.h>
#endif
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

// How fast the length is found by reading a file through, bytes a second
// (on a 2-core Intel Xeon: a 10-minute MP3 in 0.2 s, the same in FLAC in
// 0.3 s, in Opus in 3 s); longer than LONG_READ_SECONDS is announced.
static constexpr double MP3_SCAN_BYTES_PER_SECOND = 32e6;
static constexpr double FLAC_SCAN_BYTES_PER_SECOND = 120e6;
static constexpr double OGG_SCAN_BYTES_PER_SECOND = 2e6;
static constexpr double LONG_READ_SECONDS = 0.5;
// libsndfile's samples run from -1 to 1; 16-bit ones from -32768 to 32767.
static constexpr float SHORT_SCALE = 32768.0f;

struct Decoder {
    mpg123_handle* mp3 = nullptr;
#ifndef _WIN32
    SNDFILE* sound = nullptr;
    SF_INFO info{};
    std::vector<float> wide; // one read of the file's own channels
#endif
};

// The containers libsndfile reads, by their first four bytes: RIFF and RF64
// (WAV), FORM (AIFF), fLaC, OggS (Vorbis and Opus).
static bool startsAsSoundFile(const char* fileName)
{
    char head[4] = {};
    FILE* file = std::fopen(fileName, "rb");
    const bool read = file && std::fread(head, 1, sizeof head, file) == sizeof head;
    if (file) std::fclose(file);
    if (!read) return false;
    for (const char* magic : {"RIFF", "RF64", "FORM", "fLaC", "OggS"})
        if (std::memcmp(head, magic, 4) == 0) return true;
    return false;
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

static std::string fileProblem(const char* fileName)
{
    // Asked before opening: opening a FIFO would wait for a writer forever.
    struct stat info {};
    const bool found = stat(fileName, &info) == 0;
    const std::string named = std::string("the music file ") + fileName;
    if (found && S_ISDIR(info.st_mode)) return named + " is a folder: name a sound file (" + MUSIC_FORMATS + ")";
    if (found && !S_ISREG(info.st_mode))
        return named + " is not a regular file (a FIFO, device or socket): name a sound file (" + MUSIC_FORMATS + ")";
    FILE* file = std::fopen(fileName, "rb");
    if (!file) {
        const int code = errno;
        // The show's own track missing is the usual first-run case: say every way out.
        const std::string folder = musicDataFolder();
        const std::string ownTrack = std::string(" (put ") + MUSIC_FILE_NAME + " in the folder you start from" +
            (folder.empty() ? std::string() : " or in " + folder) +
            ", name another sound file with --music FILE, or make a placeholder: vantrop-make-track " +
            MUSIC_FILE_NAME + ")";
        std::string advice = code == ENOENT
            ? (std::strcmp(fileName, MUSIC_FILE_NAME) == 0 ? ownTrack : std::string(" (check the name and the folder)"))
            : code == EACCES ? " (make the file readable)"
                             : "";
        return std::string("cannot open the music file ") + fileName + ": " + std::strerror(code) + advice;
    }
    std::fclose(file);
    if (info.st_size <= 0) return named + " is empty: it must be " + MUSIC_FORMATS;
    return {};
}

bool decodesAsMp3(const char* fileName)
{
    return !startsAsSoundFile(fileName);
}

void skipDamageToTheEnd(mpg123_handle* decoder)
{
    mpg123_param(decoder, MPG123_RESYNC_LIMIT, -1, 0.0);
}

static Decoder* openMp3(const char* fileName, long* rate, std::string* error)
{
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
        *error = std::string("the music file ") + fileName +
            (looksLikeMp3(fileName)
                 ? std::string(" is too short: it ends before its first frame of sound; use a longer track")
                 : std::string(" is not ") + MUSIC_FORMATS +
                     " (libmpg123 found no MP3 stream: " + mpg123_strerror(decoder) + "); convert it to one of these");
        mpg123_close(decoder);
        mpg123_delete(decoder);
        return nullptr;
    }
    // From here on only this rate: a later frame of another channel count is
    // converted to stereo instead of changing the format under the device.
    mpg123_format_none(decoder);
    mpg123_format(decoder, *rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    skipDamageToTheEnd(decoder);
    Decoder* d = new Decoder;
    d->mp3 = decoder;
    return d;
}

#ifndef _WIN32
static bool readsThrough(const Decoder* d)
{
    return (d->info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC || d->info.frames == SF_COUNT_MAX;
}

// Whether a first sample frame comes out (a cut-short Ogg file gives none);
// the stream is left at its start.
static bool firstFrameDecodes(Decoder* d)
{
    std::vector<float> frame(size_t(d->info.channels));
    return sf_readf_float(d->sound, frame.data(), 1) == 1 && sf_seek(d->sound, 0, SEEK_SET) == 0;
}

static Decoder* openSoundFile(const char* fileName, long* rate, std::string* error)
{
    Decoder* d = new Decoder;
    d->sound = sf_open(fileName, SFM_READ, &d->info);
    const std::string named = std::string("the music file ") + fileName;
    if (!d->sound) {
        *error = named + " cannot be read (libsndfile: " + sf_strerror(nullptr) + "); convert it to MP3 or WAV";
    } else if (d->info.frames <= 0 || d->info.samplerate <= 0 || d->info.channels <= 0) {
        *error = named + " is too short: it holds no sound; use a longer track";
    } else if (!firstFrameDecodes(d)) {
        *error = named + " is damaged or cut short: no sound could be decoded from it; encode it again, or " +
            "convert it to MP3 or WAV";
    } else {
        *rate = d->info.samplerate;
        return d;
    }
    closeDecoder(d);
    return nullptr;
}
#endif

Decoder* openDecoder(const char* fileName, long* rate, std::string* error)
{
    if (std::string problem = fileProblem(fileName); !problem.empty()) {
        *error = problem;
        return nullptr;
    }
    if (decodesAsMp3(fileName)) return openMp3(fileName, rate, error);
#ifndef _WIN32
    return openSoundFile(fileName, rate, error);
#else
    *error = std::string("the music file ") + fileName +
        " is WAV, AIFF, FLAC or Ogg, which this build does not read; convert it to MP3";
    return nullptr;
#endif
}

void closeDecoder(Decoder* decoder)
{
    if (!decoder) return;
    if (decoder->mp3) {
        mpg123_close(decoder->mp3);
        mpg123_delete(decoder->mp3);
    }
#ifndef _WIN32
    if (decoder->sound) sf_close(decoder->sound);
#endif
    delete decoder;
}

#ifndef _WIN32
// Reads up to `frames` of the file's own channels as stereo: mono on both
// sides, more than two channels as their first two.
static uint64_t readSoundFile(Decoder* d, int16_t* out, uint64_t frames, bool* finished)
{
    const int channels = d->info.channels;
    d->wide.resize(size_t(DECODE_CHUNK_FRAMES) * size_t(channels));
    uint64_t filled = 0;
    while (!*finished && filled < frames) {
        const sf_count_t want = sf_count_t(std::min(frames - filled, DECODE_CHUNK_FRAMES));
        const sf_count_t got = sf_readf_float(d->sound, d->wide.data(), want);
        for (sf_count_t i = 0; i < got; ++i) {
            const float* from = &d->wide[size_t(i) * size_t(channels)];
            for (int side = 0; side < CHANNELS; ++side) {
                const float scaled = std::nearbyint(from[std::min(side, channels - 1)] * SHORT_SCALE);
                out[(filled + uint64_t(i)) * CHANNELS + uint64_t(side)] =
                    int16_t(std::clamp(scaled, -SHORT_SCALE, SHORT_SCALE - 1.0f));
            }
        }
        filled += uint64_t(std::max<sf_count_t>(got, 0));
        if (got < want) *finished = true;
    }
    return filled;
}
#endif

uint64_t decodeFrames(Decoder* decoder, int16_t* out, uint64_t frames, bool* finished)
{
#ifndef _WIN32
    if (decoder->sound) return readSoundFile(decoder, out, frames, finished);
#endif
    const size_t frameBytes = CHANNELS * sizeof(int16_t);
    unsigned char* bytes = reinterpret_cast<unsigned char*>(out);
    size_t filled = 0;
    while (!*finished && filled < frames * frameBytes) {
        size_t got = 0;
        const int result = mpg123_read(decoder->mp3, bytes + filled, frames * frameBytes - filled, &got);
        filled += got;
        if (result != MPG123_OK && result != MPG123_NEW_FORMAT && got == 0) *finished = true;
    }
    return filled / frameBytes;
}

bool seekDecoder(Decoder* decoder, uint64_t frame)
{
#ifndef _WIN32
    if (decoder->sound)
        return frame <= uint64_t(decoder->info.frames) && sf_seek(decoder->sound, sf_count_t(frame), SEEK_SET) >= 0;
#endif
    return mpg123_seek(decoder->mp3, off_t(frame), SEEK_SET) >= 0;
}

#ifndef _WIN32
// The sample frames the file really holds. A WAV file's header gives them
// (libsndfile counts only the data that is there), as does a whole Ogg
// file's last page; a FLAC file's header promises them whether the file
// holds them or not, and a cut-short Ogg file's says nothing, so these are
// read through, as an MP3 is.
static uint64_t countSoundFileFrames(Decoder* d)
{
    if (!readsThrough(d)) return uint64_t(d->info.frames);
    const sf_count_t at = sf_seek(d->sound, 0, SEEK_CUR);
    d->wide.resize(size_t(DECODE_CHUNK_FRAMES) * size_t(d->info.channels));
    uint64_t frames = at > 0 ? uint64_t(at) : 0;
    for (sf_count_t got; (got = sf_readf_float(d->sound, d->wide.data(), sf_count_t(DECODE_CHUNK_FRAMES))) > 0;)
        frames += uint64_t(got);
    sf_seek(d->sound, std::max<sf_count_t>(at, 0), SEEK_SET);
    return frames;
}
#endif

bool lengthTakesAWhile(const Decoder* decoder, int64_t fileSize)
{
    double bytesPerSecond = MP3_SCAN_BYTES_PER_SECOND;
#ifndef _WIN32
    if (decoder->sound) {
        if (!readsThrough(decoder)) return false;
        const bool flac = (decoder->info.format & SF_FORMAT_TYPEMASK) == SF_FORMAT_FLAC;
        bytesPerSecond = flac ? FLAC_SCAN_BYTES_PER_SECOND : OGG_SCAN_BYTES_PER_SECOND;
    }
#endif
    return decoder && double(fileSize) / bytesPerSecond > LONG_READ_SECONDS;
}

uint64_t scanLengthFrames(Decoder* decoder)
{
#ifndef _WIN32
    if (decoder->sound) return countSoundFileFrames(decoder);
#endif
    if (mpg123_scan(decoder->mp3) != MPG123_OK) return 0;
    const off_t samples = mpg123_length(decoder->mp3);
    return samples > 0 ? uint64_t(samples) : 0;
}
