// vantrop-make-track: synthesizes a placeholder soundtrack at the show's
// tempo and encodes it as MP3, for users without the show's own music.
#include "cli/command_line.h"
#include "cli/options.h"
#include "files/output_file.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <lame/lame.h>

#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

static constexpr int SAMPLE_RATE = 44100; // Hz
// After the picture's end, a second of silence.
static constexpr double SILENCE_AFTER_SECONDS = 1.0;
// The longest track, seconds.
static constexpr double MAX_SECONDS = 3600.0;
static constexpr int BITRATE_KBPS = 128;
static constexpr double PI = 3.14159265358979323846;
static const char* const PROGRAM = "vantrop-make-track";

static const char* const DESCRIPTION =
    "Synthesizes a placeholder soundtrack for vantrop at its tempo (%d beats per\n"
    "minute, first beat at 0 ms): a kick on every beat, a hi-hat between beats,\n"
    "strong accents on the show's hit beats (%g, %g, %g and %g), fading out from\n"
    "beat %g to silence at beat %g, where the picture fades out too.\n"
    "Writes a 44.1 kHz stereo MP3 with a LAME tag, so its length reads exactly.\n"
    "An existing OUT.mp3 is never replaced unless --force is given; the track is\n"
    "written to a temporary file beside it and moved into place when complete.\n";

// A deterministic noise source, so every run writes the same file.
static uint32_t noiseState = 12345;
static double noise()
{
    noiseState = noiseState * 1664525u + 1013904223u;
    return double(noiseState >> 8) / double(1 << 23) - 1.0;
}

static bool isAccent(long beat)
{
    for (float accent : HIT_BEATS)
        if (double(beat) == double(accent)) return true;
    return false;
}

// Left and right samples in -1..1 at time t seconds.
static void synthesize(double t, double& left, double& right)
{
    const double beatPosition = t / SECONDS_PER_BEAT;
    const long beat = long(std::floor(beatPosition));
    const double sinceBeat = (beatPosition - double(beat)) * SECONDS_PER_BEAT;
    const bool accent = isAccent(beat);

    // Kick: a sine sweeping down from 135 Hz to 45 Hz, louder and longer on the accents.
    const double kickPhase = 2.0 * PI * (45.0 * sinceBeat + 3.0 * (1.0 - std::exp(-sinceBeat * 30.0)));
    const double kick = std::sin(kickPhase) * std::exp(-sinceBeat * (accent ? 4.0 : 9.0)) * (accent ? 1.0 : 0.55);

    // Hi-hat half way between beats; a crash of noise on the accents.
    const double sinceHalf = sinceBeat - SECONDS_PER_BEAT / 2.0;
    const double hat = sinceHalf >= 0.0 ? noise() * 0.12 * std::exp(-sinceHalf * 60.0) : 0.0;
    const double crash = accent ? noise() * 0.35 * std::exp(-sinceBeat * 3.0) : 0.0;

    // A low drone, one chord per four beats, so the track is not only drums.
    static constexpr double ROOTS[] = {55.0, 49.0, 65.41, 58.27};
    const double root = ROOTS[(beat / 4) % 4];
    const double drone = 0.08 * (std::sin(2.0 * PI * root * t) + 0.5 * std::sin(2.0 * PI * root * 1.5 * t));

    double gain = 1.0;
    if (beatPosition >= FADE_OUT_END_BEAT)
        gain = 0.0;
    else if (beatPosition > FADE_OUT_START_BEAT)
        gain = (FADE_OUT_END_BEAT - beatPosition) / double(FADE_OUT_END_BEAT - FADE_OUT_START_BEAT);
    left = gain * (kick + hat * 0.8 + crash + drone);
    right = gain * (kick + hat * 1.2 + crash + drone);
}

static short toSample(double x)
{
    return short(std::lround(std::fmax(-1.0, std::fmin(1.0, x * 0.8)) * 32767.0));
}

// Set by the signal handler, which can reach nothing else; read by the writing loop.
static volatile std::sig_atomic_t interrupted;

static void onInterrupt(int signal)
{
    interrupted = signal;
}

// Says what failed; the exit status of a failure.
static int fail(const std::string& message)
{
    std::fprintf(stderr, "%s: %s\n", PROGRAM, message.c_str());
    return EXIT_FAILED;
}

// Encodes `seconds` of the track into `file`; false when writing failed.
static bool encodeTrack(lame_global_flags* lame, double seconds, FILE* file)
{
    const long total = std::lround(seconds * SAMPLE_RATE);
    constexpr int CHUNK = 4096; // samples per encoder call
    std::vector<short> left(CHUNK), right(CHUNK);
    std::vector<unsigned char> mp3(size_t(1.25 * CHUNK + 7200));
    bool ok = true;
    for (long done = 0; done < total && ok && !interrupted; done += CHUNK) {
        const int count = int(std::min<long>(CHUNK, total - done));
        for (int i = 0; i < count; ++i) {
            double l, r;
            synthesize(double(done + i) / SAMPLE_RATE, l, r);
            left[size_t(i)] = toSample(l);
            right[size_t(i)] = toSample(r);
        }
        const int bytes = lame_encode_buffer(lame, left.data(), right.data(), count, mp3.data(), int(mp3.size()));
        ok = bytes >= 0 && std::fwrite(mp3.data(), 1, size_t(bytes), file) == size_t(bytes);
    }
    const int bytes = lame_encode_flush(lame, mp3.data(), int(mp3.size()));
    ok = ok && bytes >= 0 && std::fwrite(mp3.data(), 1, size_t(bytes), file) == size_t(bytes);
    if (ok) lame_mp3_tags_fid(lame, file);
    return ok;
}

int main(int argc, char** argv)
{
    double seconds = showEndMs(BUILT_IN_SCHEDULE) / 1000.0 + SILENCE_AFTER_SECONDS;
    bool force = false, outGiven = false;
    std::string out;
    char description[1024];
    std::snprintf(description, sizeof description, DESCRIPTION, BEATS_PER_MINUTE, double(HIT_BEATS[0]),
                  double(HIT_BEATS[1]), double(HIT_BEATS[2]), double(HIT_BEATS[3]), double(FADE_OUT_START_BEAT),
                  double(FADE_OUT_END_BEAT));
    const CommandLine line{
        PROGRAM,
        "[--seconds S] [--force] OUT.mp3",
        description,
        {aboveMin(numberOption("--seconds", "S", &seconds, 0, MAX_SECONDS, "the track's length in seconds")),
         flagOption("--force", &force, "replace OUT.mp3 if it exists"),
         noticed(required(textOption("", "OUT.mp3", &out, "")), &outGiven)},
        "",
        versionLine(PROGRAM)};
    if (const int status = parseCommandLine(line, argc - 1, argv + 1); status >= 0) return status;
    std::string error;
    if (!checkOutputPath(out, {".mp3"}, {}, &error) || !checkNameFree(out, force, &error)) return fail(error);

    lame_global_flags* lame = lame_init();
    lame_set_in_samplerate(lame, SAMPLE_RATE);
    lame_set_out_samplerate(lame, SAMPLE_RATE);
    lame_set_num_channels(lame, 2);
    lame_set_brate(lame, BITRATE_KBPS);
    lame_set_quality(lame, 5);
    lame_set_bWriteVbrTag(lame, 1); // the tag carries the exact sample count
    if (lame_init_params(lame) < 0) {
        lame_close(lame);
        return fail("libmp3lame refused the encoder settings; update libmp3lame0");
    }
    // A signal stops the encoding, and the temporary file goes with it.
    for (int signal : {SIGINT, SIGTERM
#ifdef SIGHUP
                       ,
                       SIGHUP
#endif
         })
        std::signal(signal, onInterrupt);
    const std::string temporary = makeTemporaryBeside(out, ".mp3", &error);
    if (temporary.empty()) {
        lame_close(lame);
        return fail(error);
    }
    FILE* file = std::fopen(temporary.c_str(), "w+b");
    if (!file) {
        const std::string reason = std::strerror(errno);
        lame_close(lame);
        std::remove(temporary.c_str());
        return fail("cannot write " + temporary + ": " + reason);
    }
    bool ok = encodeTrack(lame, seconds, file);
    lame_close(lame);
    ok = std::fclose(file) == 0 && ok;
    const std::string reason = std::strerror(errno);
    if (interrupted) {
        std::remove(temporary.c_str());
        std::fprintf(stderr, "vantrop-make-track: stopped by a signal; %s was not written\n", out.c_str());
        return EXIT_SIGNAL_BASE + interrupted;
    }
    if (!ok) {
        std::remove(temporary.c_str());
        return fail("writing " + out + " failed: " + reason + "; nothing was written");
    }
    if (!finishOutput(temporary, out, force, &error)) return fail(error);
    const int wholeSeconds = int(seconds + 0.5);
    std::fprintf(stderr, "%s: wrote %s (%d:%02d, %s)\n", PROGRAM, out.c_str(), wholeSeconds / 60, wholeSeconds % 60,
                 fileSizeText(out).c_str());
    return EXIT_DONE;
}
