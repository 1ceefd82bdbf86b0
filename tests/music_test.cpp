// The music clock on real sound files made by real encoders. Without a sound
// card (CI) playback falls back to SDL's silent dummy driver.
#include "music/for_tests.h"
#include "music/music.h"
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <fstream>
#include <random>
#include <thread>
#include <tuple>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

static const std::string MAKE_TRACK = VANTROP_MAKE_TRACK_PATH;

using Clock = std::chrono::steady_clock;

static std::string tempDir()
{
    static const std::string dir = makeTempDir();
    return dir;
}

// A placeholder track of this many seconds, made once per test run.
static std::string track(double seconds)
{
    const std::string path = tempDir() + "/track" + std::to_string(int(seconds * 1000)) + ".mp3";
    if (!std::ifstream(path)) {
        const CommandResult r = runCommand(MAKE_TRACK + " --seconds " + std::to_string(seconds) + " " + path);
        EXPECT_EQ(0, r.status) << r.output;
    }
    return path;
}

// Playback as the show starts it: open, then play.
static bool startMusic(MusicPlayer& player, const char* fileName, std::string* error)
{
    return openMusic(player, fileName, error) && playMusic(player, error);
}

static void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

static std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST(MusicLength, TaggedTrackIsSampleExact)
{
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusic(player, track(3.0).c_str(), &error)) << error;
    EXPECT_EQ(3000u, player.lengthMs);
    stopMusic(player);
}

TEST(MusicLength, UntaggedTrackReportsItsDecodedLength)
{
    const std::string wav = tempDir() + "/plain.wav", untagged = tempDir() + "/untagged.mp3";
    CommandResult r =
        runCommand("lame --quiet --decode " + track(3.0) + " " + wav + " && lame --quiet -t " + wav + " " + untagged);
    ASSERT_EQ(0, r.status) << "lame (Debian package lame) is needed: " << r.output;
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusic(player, untagged.c_str(), &error)) << error;
    // Without the tag the encoder's delay and padding stay in the stream:
    // whole frames of 1152 samples.
    EXPECT_GE(player.lengthMs, 3000u);
    EXPECT_LE(player.lengthMs, 3000u + 3 * 1152 * 1000 / 44100 + 1);
    EXPECT_NE(DEFAULT_SHOW_LENGTH_MS, player.lengthMs);
    stopMusic(player);
}

// A device asking for a buffer every BUFFER frames' worth of time, some
// calls early and some late, sampled every millisecond in between.
TEST(MusicClock, HeardFrameIsSmoothBoundedAndMonotonic)
{
    const long rate = 44100;
    const uint64_t buffer = 4096, latency = 2048;
    const int64_t period = int64_t(buffer) * 1000000 / rate;
    const int64_t jitter[] = {0, -9000, 25000, 0, 60000, -30000, 0, 400000, 0, 0};
    AudioStamp stamp{0, buffer, 0};
    int64_t now = 0;
    uint64_t previous = heardFrame(stamp, 0, latency, rate);
    EXPECT_EQ(0u, previous);
    for (size_t k = 1; k < std::size(jitter); ++k) {
        const int64_t next = int64_t(k) * period + jitter[k];
        for (; now < next; now += 1000) {
            const uint64_t heard = heardFrame(stamp, now, latency, rate);
            ASSERT_GE(heard, previous) << "backwards at " << now << " us";
            ASSERT_LE(heard - previous, uint64_t(rate / 1000 + 1)) << "a step of more than 1 ms at " << now << " us";
            ASSERT_LE(heard, stamp.framesBefore + stamp.bufferFrames) << "past what was handed over at " << now;
            previous = heard;
        }
        // Across a callback: never backwards, and forward only by as much
        // as the callback came before the previous buffer's time was up.
        const uint64_t before = heardFrame(stamp, next - 1, latency, rate);
        const int64_t early = std::max<int64_t>(0, stamp.handedAtUs + period - next);
        stamp = {stamp.framesBefore + stamp.bufferFrames, buffer, next};
        const uint64_t after = heardFrame(stamp, next, latency, rate);
        EXPECT_GE(after, before) << "backwards across callback " << k;
        EXPECT_LE(after - std::min(after, before), uint64_t(early * rate / 1000000 + 2)) << "a step at callback " << k;
        previous = after;
    }
    // Nothing is heard until what was queued ahead of the first buffer has played.
    const AudioStamp first{0, buffer, 1000000};
    EXPECT_EQ(0u, heardFrame(first, 1000000 + (int64_t(latency) - 1) * 1000000 / rate, latency, rate));
    EXPECT_NEAR(441.0, double(heardFrame(first, 1000000 + int64_t(latency) * 1000000 / rate + 10000, latency, rate)),
                1);
    // Real time from the stamp, minus what was queued ahead of it.
    const AudioStamp later{88200, buffer, 2000000};
    EXPECT_EQ(88200u - latency + 2205u, heardFrame(later, 2050000, latency, rate));
}

TEST(MusicClockTiming, SmoothRealTimeAndReachesTheEnd)
{
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusic(player, track(2.5).c_str(), &error)) << error;
    const Clock::time_point start = Clock::now();
    const uint32_t first = readMusicPosition(player);
    EXPECT_LT(first, 60u) << "the position starts near 0";

    uint32_t last = first;
    double largestExcess = 0; // how far a step outran the real time between two queries, ms
    uint32_t atTwoSeconds = 0;
    double realAtTwoSeconds = 0, lastReal = 0;
    while (Clock::now() - start < std::chrono::milliseconds(3200)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const uint32_t now = readMusicPosition(player);
        const double real = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        ASSERT_GE(now, last) << "the position moved backwards";
        if (now < player.lengthMs) largestExcess = std::max(largestExcess, double(now - last) - (real - lastReal));
        last = now;
        lastReal = real;
        if (!atTwoSeconds && real >= 2000.0) {
            atTwoSeconds = now;
            realAtTwoSeconds = real;
        }
    }
    EXPECT_NEAR(realAtTwoSeconds, double(atTwoSeconds - first), 0.02 * realAtTwoSeconds);
    // Helpers open decoders of their own: the stream playing is untouched.
    uint32_t lengthMs = 0;
    uint64_t frames = 0;
    long rate = 0;
    EXPECT_TRUE(readMusicLength(track(2.5).c_str(), &lengthMs, &error)) << error;
    EXPECT_TRUE(decodeMusicFile(track(2.5).c_str(), nullptr, &frames, &rate, &error)) << error;
    EXPECT_EQ(player.lengthMs, lengthMs);
    EXPECT_EQ(uint64_t(player.lengthMs) * 441 / 10, frames);
    EXPECT_LE(largestExcess, 3.0) << "no steps of an audio buffer between frames";
    EXPECT_GE(last, player.lengthMs) << "the show must end by itself";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(readMusicPosition(player), last);
    stopMusic(player);
}

// A stream whose channel count changes midway plays as one stereo stream.
TEST(MusicDecode, MonoThenStereoPlaysAsStereo)
{
    const std::string wav = tempDir() + "/join.wav", mono = tempDir() + "/mono.mp3", stereo = tempDir() + "/stereo.mp3",
                      joined = tempDir() + "/joined.mp3";
    const CommandResult r = runCommand("lame --quiet --decode " + track(1.0) + " " + wav + " && lame --quiet -t -m m " +
                                       wav + " " + mono + " && lame --quiet -t -m j " + wav + " " + stereo +
                                       " && cat " + mono + " " + stereo + " > " + joined);
    ASSERT_EQ(0, r.status) << "lame (Debian package lame) is needed: " << r.output;
    std::vector<int16_t> monoSamples, stereoSamples, joinedSamples;
    uint64_t monoFrames = 0, stereoFrames = 0, joinedFrames = 0;
    long rate = 0;
    std::string error;
    ASSERT_TRUE(decodeMusicFile(mono.c_str(), &monoSamples, &monoFrames, &rate, &error)) << error;
    ASSERT_TRUE(decodeMusicFile(stereo.c_str(), &stereoSamples, &stereoFrames, &rate, &error)) << error;
    ASSERT_TRUE(decodeMusicFile(joined.c_str(), &joinedSamples, &joinedFrames, &rate, &error)) << error;
    EXPECT_EQ(44100, rate);
    ASSERT_EQ(monoFrames + stereoFrames, joinedFrames);
    ASSERT_EQ(2 * joinedFrames, joinedSamples.size());
    for (uint64_t f = 0; f < monoFrames; ++f)
        ASSERT_EQ(joinedSamples[2 * f], joinedSamples[2 * f + 1]) << "the mono part is not on both channels";
    // Past the first MP3 frames of the stereo part (whose filters still hold
    // the mono part's tail) the samples are the stereo file's own.
    const uint64_t settled = 4 * 1152;
    EXPECT_TRUE(std::equal(stereoSamples.begin() + 2 * settled, stereoSamples.end(),
                           joinedSamples.begin() + 2 * (monoFrames + settled)));
    MusicPlayer player;
    ASSERT_TRUE(startMusic(player, joined.c_str(), &error)) << error;
    EXPECT_EQ(joinedFrames * 1000 / 44100, player.lengthMs);
    stopMusic(player);
}

// WAV (stereo and mono), FLAC, Ogg Vorbis and Opus made by their real
// encoders from one sweep: each plays with its own length, the lossless
// ones give the WAV's samples, and a stretch read from the middle is the
// whole decode's stretch to the sample.
TEST(MusicFormats, EveryFormatPlaysWithItsLengthAndSeeksToTheSample)
{
    const std::string d = tempDir() + "/formats";
    const CommandResult made =
        runCommand("mkdir -p " + d + " && cd " + d +
                   " && ffmpeg -v error -f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200+400*t)*t):d=2.5\"" +
                   " -ar 44100 -c:a pcm_s16le -af 'pan=stereo|c0=c0|c1=c0' s.wav -ac 1 m.wav && flac -s -o s.flac "
                   "s.wav && oggenc -Q -o s.ogg s.wav" +
                   " && opusenc --quiet s.wav s.opus 2>&1");
    ASSERT_EQ(0, made.status) << "ffmpeg, flac, vorbis-tools and opus-tools are needed: " << made.output;
    std::vector<int16_t> wav;
    uint64_t wavFrames = 0;
    long rate = 0;
    std::string error;
    ASSERT_TRUE(decodeMusicFile((d + "/s.wav").c_str(), &wav, &wavFrames, &rate, &error)) << error;
    EXPECT_EQ(110250u, wavFrames);
    for (const auto& [name, expectedRate, lossless] : {std::tuple{"s.wav", 44100L, true},
                                                       {"m.wav", 44100L, true},
                                                       {"s.flac", 44100L, true},
                                                       {"s.ogg", 44100L, false},
                                                       {"s.opus", 48000L, false}}) {
        const std::string path = d + "/" + name;
        std::vector<int16_t> samples;
        uint64_t frames = 0;
        ASSERT_TRUE(decodeMusicFile(path.c_str(), &samples, &frames, &rate, &error)) << name << ": " << error;
        EXPECT_EQ(expectedRate, rate) << name;
        EXPECT_EQ(uint64_t(2.5 * double(expectedRate)), frames) << name;
        EXPECT_TRUE(!lossless || samples == wav) << name << " does not decode to the WAV's samples";
        MusicReader* reader = openMusicReader(path.c_str(), 1000, &rate, &error);
        ASSERT_NE(nullptr, reader) << name << ": " << error;
        std::vector<int16_t> stretch(2 * 4096);
        readMusicFrames(reader, stretch.data(), 4096);
        closeMusicReader(reader);
        EXPECT_TRUE(std::equal(stretch.begin(), stretch.end(), samples.begin() + 2 * rate))
            << name << ": a stretch from 1 s is not the decode's";
        // Opened as the show opens its music; one of them played too (an
        // audio device takes long to open under ThreadSanitizer).
        MusicPlayer player;
        ASSERT_TRUE(openMusic(player, path.c_str(), &error)) << name << ": " << error;
        EXPECT_TRUE(std::string(name) != "s.flac" || playMusic(player, &error)) << error;
        EXPECT_EQ(2500u, player.lengthMs) << name;
        EXPECT_EQ("", describeMusicDamage(path.c_str())) << name;
        stopMusic(player);
    }
    // Cut short: a FLAC file plays what it holds, not what its header
    // promised; an Ogg file that gives no sound at all is named.
    ASSERT_EQ(
        0,
        runCommand("cd " + d + " && for f in flac ogg; do head -c $(($(stat -c %s s.$f) / 2)) s.$f > cut.$f; done")
            .status);
    uint32_t lengthMs = 0;
    EXPECT_TRUE(readMusicLength((d + "/cut.flac").c_str(), &lengthMs, &error)) << error;
    EXPECT_GT(lengthMs, 100u);
    EXPECT_LT(lengthMs, 2000u);
    EXPECT_FALSE(readMusicLength((d + "/cut.ogg").c_str(), &lengthMs, &error));
    EXPECT_NE(std::string::npos, error.find("cut.ogg is damaged or cut short")) << error;
}

// The studio's transport: a pause holds the position, a seek lands on the
// millisecond asked for and runs on from there.
TEST(MusicClockTiming, PauseHoldsAndPlayFromSeeks)
{
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusic(player, track(6.0).c_str(), &error)) << error;
    // Bounds are the real time that passed, plus the sound's buffers: the test itself may be held back.
    auto sinceMs = [](Clock::time_point from) {
        return std::chrono::duration<double, std::milli>(Clock::now() - from).count();
    };
    Clock::time_point seeked = Clock::now();
    playMusicFrom(player, 3000);
    EXPECT_EQ(3000u, player.positionMs);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint32_t running = readMusicPosition(player);
    EXPECT_GE(running, 3000u);
    EXPECT_LT(running, 3000.0 + sinceMs(seeked) + 300.0);
    pauseMusic(player);
    const uint32_t held = readMusicPosition(player);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(held, readMusicPosition(player));
    seeked = Clock::now();
    playMusicFrom(player, 1000); // backwards too
    EXPECT_EQ(1000u, readMusicPosition(player));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_GE(readMusicPosition(player), 1000u);
    EXPECT_LT(readMusicPosition(player), 1000.0 + sinceMs(seeked) + 400.0);
    stopMusic(player);
}

struct BadFile {
    const char* name;
    std::string bytes;
    const char* expected; // part of the error, or null when the file must play
};

TEST(MusicErrors, BadFilesGiveClearErrorsAndNeverCrash)
{
    const std::string mp3 = readFile(track(3.0));
    std::mt19937 random(7);
    std::string noise(20000, '\0');
    for (char& c : noise) c = char(random());
    const std::string wav = "RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0";
    const BadFile files[] = {
        {"empty.mp3", "", "is empty"},
        {"text.mp3", "This is not music, only a note that ends up named like one.\n",
         "is not MP3, WAV, FLAC, Ogg Vorbis or Opus"},
        {"wave.mp3", wav, "cannot be read (libsndfile: "},
        {"random.mp3", noise, "is not MP3, WAV, FLAC, Ogg Vorbis or Opus"},
        {"half.mp3", mp3.substr(0, mp3.size() / 2), nullptr},
    };
    for (const BadFile& file : files) {
        const std::string path = tempDir() + "/" + file.name;
        writeFile(path, file.bytes);
        MusicPlayer player;
        std::string error;
        const bool started = startMusic(player, path.c_str(), &error);
        if (file.expected) {
            EXPECT_FALSE(started) << file.name;
            EXPECT_NE(std::string::npos, error.find(file.expected)) << file.name << ": " << error;
            EXPECT_NE(std::string::npos, error.find(path)) << file.name << ": " << error;
        } else {
            ASSERT_TRUE(started) << file.name << ": " << error;
            EXPECT_GT(player.lengthMs, 1000u) << file.name;
            EXPECT_LT(player.lengthMs, 2000u) << file.name;
        }
        stopMusic(player);
    }
    MusicPlayer player;
    std::string error;
    EXPECT_FALSE(startMusic(player, (tempDir() + "/missing.mp3").c_str(), &error));
    EXPECT_NE(std::string::npos, error.find("No such file")) << error;
    if (geteuid() != 0) {
        const std::string locked = tempDir() + "/locked.mp3";
        writeFile(locked, mp3);
        chmod(locked.c_str(), 0);
        EXPECT_FALSE(startMusic(player, locked.c_str(), &error));
        EXPECT_NE(std::string::npos, error.find("Permission denied")) << error;
    }
}

// Junk written into the middle of a track: the length scan, decoding and
// playback go on past it to the real end, and a notice says where it is.
TEST(MusicErrors, DamagedTrackPlaysOnPastTheDamage)
{
    const std::string mp3 = readFile(track(8.0));
    std::mt19937 random(11);
    std::string junk(20000, '\0');
    for (char& c : junk) c = char(random());
    const size_t at = mp3.size() * 3 / 8; // about 3 s in
    const std::string path = tempDir() + "/damaged.mp3";
    writeFile(path, mp3.substr(0, at) + junk + mp3.substr(at));
    EXPECT_EQ("", describeMusicDamage(track(8.0).c_str()));
    const std::string notice = describeMusicDamage(path.c_str());
    EXPECT_NE(std::string::npos, notice.find("damaged at 0:03.")) << notice;
    EXPECT_NE(std::string::npos, notice.find(path)) << notice;
    uint32_t lengthMs = 0;
    uint64_t frames = 0;
    long rate = 0;
    std::string error;
    ASSERT_TRUE(readMusicLength(path.c_str(), &lengthMs, &error)) << error;
    EXPECT_GE(lengthMs, 7900u);
    EXPECT_LT(lengthMs, 8500u);
    ASSERT_TRUE(decodeMusicFile(path.c_str(), nullptr, &frames, &rate, &error)) << error;
    EXPECT_GE(frames, 7900u * 441 / 10);
    MusicPlayer player;
    ASSERT_TRUE(openMusic(player, path.c_str(), &error)) << error;
    EXPECT_EQ(lengthMs, player.lengthMs);
    stopMusic(player);
}

TEST(MusicErrors, TruncatedTrackPlaysWhatIsThereAndEnds)
{
    const std::string mp3 = readFile(track(2.0));
    const std::string path = tempDir() + "/cut.mp3";
    writeFile(path, mp3.substr(0, mp3.size() / 2));
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusic(player, path.c_str(), &error)) << error;
    const Clock::time_point start = Clock::now();
    while (readMusicPosition(player) < player.lengthMs && Clock::now() - start < std::chrono::seconds(4))
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_GE(player.positionMs, player.lengthMs);
    EXPECT_LT(player.lengthMs, 1100u) << "the length is what is left of the 2 s track";
    stopMusic(player);
}

// Versions compare by major, then minor, then patch; the check names the
// library that is too old, and the libraries this test runs with pass.
TEST(MusicVersions, OlderThanTheMinimumIsRefusedByName)
{
    EXPECT_TRUE(versionAtLeast({2, 24, 0}, {2, 24, 0}));
    EXPECT_TRUE(versionAtLeast({3, 0, 0}, {2, 99, 99})) << "a newer major beats any minor";
    EXPECT_TRUE(versionAtLeast({2, 25, 0}, {2, 24, 9})) << "a newer minor beats any patch";
    EXPECT_FALSE(versionAtLeast({1, 99, 99}, {2, 0, 0}));
    EXPECT_FALSE(versionAtLeast({2, 23, 99}, {2, 24, 0}));
    EXPECT_FALSE(versionAtLeast({2, 24, 0}, {2, 24, 1}));

    const LibraryVersion sdl = runningSdlVersion(), mpg123 = runningMpg123Version(), ancient{0, 0, 1};
    std::string error;
    EXPECT_TRUE(audioLibrariesSupported(sdl, mpg123, &error)) << error;
    EXPECT_FALSE(audioLibrariesSupported(ancient, mpg123, &error));
    EXPECT_NE(std::string::npos, error.find("SDL2")) << error;
    EXPECT_NE(std::string::npos, error.find("0.0.1")) << error;
    error.clear();
    EXPECT_FALSE(audioLibrariesSupported(sdl, ancient, &error));
    EXPECT_NE(std::string::npos, error.find("libmpg123")) << error;
    EXPECT_EQ(std::string::npos, error.find("SDL2")) << error;
}

// A real PulseAudio server with a null sink on a socket of its own, for
// playback that a real device clocks; -1 when it did not start.
static pid_t startSoundServer(const std::string& runtime)
{
    const std::string socket = runtime + "/native";
    const pid_t server =
        spawnProcess({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1", "--use-pid-file=no", "-L",
                      "module-null-sink", "-L", "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"},
                     runtime, {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime}, runtime + "/pulseaudio.log");
    for (int i = 0; i < 100 && server > 0 && access(socket.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (server <= 0 || access(socket.c_str(), F_OK) != 0) {
        ADD_FAILURE() << "pulseaudio (Debian package pulseaudio) did not start: "
                      << readFile(runtime + "/pulseaudio.log");
        return -1;
    }
    return server;
}

// Playback through the server at `runtime`, as the show starts it.
static bool startMusicOnServer(MusicPlayer& player, const std::string& runtime, const std::string& file,
                               std::string* error)
{
    setenv("PULSE_SERVER", ("unix:" + runtime + "/native").c_str(), 1);
    const bool started = startMusic(player, file.c_str(), error);
    unsetenv("PULSE_SERVER");
    return started;
}

// A real sound server with a null sink, stopped in the middle of the stream.
TEST(MusicClockTiming, LostSoundServerDoesNotFreezeTheClock)
{
    const std::string runtime = makeTempDir();
    const pid_t server = startSoundServer(runtime);
    const ProcessGuard serverGuard{server};
    ASSERT_GT(server, 0);
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusicOnServer(player, runtime, track(6.0), &error)) << error;
    EXPECT_FALSE(musicIsSilent(player)) << "the sound server should have taken the stream";

    // Playing through the server: the clock follows real time once sound
    // flows, which a freshly started server may delay by over a second.
    const Clock::time_point opened = Clock::now();
    while (readMusicPosition(player) < 200 && Clock::now() - opened < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(musicIsSilent(player));
    const uint32_t before = readMusicPosition(player);
    const Clock::time_point measured = Clock::now();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    const uint32_t after = readMusicPosition(player);
    const double real = std::chrono::duration<double, std::milli>(Clock::now() - measured).count();
    EXPECT_NEAR(real, double(after - before), 0.05 * real);

    kill(server, SIGKILL);
    waitForExit(server, 5000);
    const Clock::time_point lost = Clock::now();
    uint32_t last = readMusicPosition(player);
    while (readMusicPosition(player) < player.lengthMs && Clock::now() - lost < std::chrono::seconds(8)) {
        ASSERT_GE(player.positionMs, last);
        last = player.positionMs;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_TRUE(musicIsSilent(player));
    EXPECT_GE(player.positionMs, player.lengthMs) << "the clock froze when the server went away";
    stopMusic(player);
}

// The file cut to nothing while it plays through a real device: the clock
// runs on in real time to the length the file had, instead of jumping to the
// end, and one notice says why the sound is gone.
TEST(MusicClockTiming, FileCutShortWhilePlayingRunsOnToItsLength)
{
    const std::string runtime = makeTempDir(), path = tempDir() + "/cut-while-playing.mp3";
    // Long enough that the clock's 4.5 s after the cut stay inside it even
    // where the test sees the music start late (seconds, under ThreadSanitizer
    // on a loaded machine).
    writeFile(path, readFile(track(12.0)));
    const pid_t server = startSoundServer(runtime);
    const ProcessGuard serverGuard{server};
    ASSERT_GT(server, 0);
    MusicPlayer player;
    std::string error;
    ASSERT_TRUE(startMusicOnServer(player, runtime, path, &error)) << error;
    const Clock::time_point opened = Clock::now();
    while (readMusicPosition(player) < 500 && Clock::now() - opened < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_EQ(0, truncate(path.c_str(), 0));
    const Clock::time_point cut = Clock::now();
    const uint32_t atCut = readMusicPosition(player);
    std::string notice;
    // A jump is measured against the real time between two readings, not the
    // 5 ms the test means to leave: a loaded machine may hold the test back longer.
    Clock::time_point lastRead = Clock::now();
    for (uint32_t last = atCut; Clock::now() - cut < std::chrono::milliseconds(4500);) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        const uint32_t now = readMusicPosition(player);
        const Clock::time_point readAt = Clock::now();
        const double realMs = std::chrono::duration<double, std::milli>(readAt - lastRead).count();
        ASSERT_LE(double(now - last), realMs + 100.0)
            << "the position jumped from " << last << " to " << now << " in " << realMs << " ms";
        last = now;
        lastRead = readAt;
        if (const std::string taken = takeMusicNotice(player); !taken.empty()) {
            EXPECT_TRUE(notice.empty()) << "said twice: " << taken;
            notice = taken;
        }
    }
    EXPECT_NE(std::string::npos, notice.find("changed while it played")) << notice;
    EXPECT_NE(std::string::npos, notice.find(path)) << notice;
    const uint32_t later = readMusicPosition(player);
    EXPECT_NEAR(4500.0, double(later - atCut), 300.0) << "the clock keeps real time after the cut";
    EXPECT_LT(later, player.lengthMs);
    stopMusic(player);
    kill(server, SIGKILL);
    waitForExit(server, 5000);
}
