// The music clock on real MP3 files made by real encoders. Without a sound
// card (CI) playback falls back to SDL's silent dummy driver.
#include "music/music.h"
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <random>
#include <thread>

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
    CommandResult r = runCommand("lame --quiet --decode " + track(3.0) + " " + wav + " && lame --quiet -t " + wav +
                                 " " + untagged);
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

TEST(MusicClock, SmoothRealTimeAndReachesTheEnd)
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
    EXPECT_LE(largestExcess, 3.0) << "no steps of an audio buffer between frames";
    EXPECT_GE(last, player.lengthMs) << "the show must end by itself";
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GE(readMusicPosition(player), last);
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
    std::string wav = "RIFF\x24\x10\0\0WAVEfmt \x10\0\0\0\x01\0\x02\0\x44\xac\0\0\x10\xb1\x02\0\x04\0\x10\0data";
    wav += std::string("\0\x10\0\0", 4) + std::string(4096, '\0');
    for (size_t i = 0; i < 4096; i += 2) wav[wav.size() - 4096 + i] = char(i * 7);
    const BadFile files[] = {
        {"empty.mp3", "", "is empty"},
        {"text.mp3", "This is not music, only a note that ends up named like one.\n", "not an MP3 stream"},
        {"wave.mp3", wav, "not an MP3 stream"},
        {"random.mp3", noise, "not an MP3 stream"},
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
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - start).count(), 1.6);
    stopMusic(player);
}

TEST(MusicVersions, MinimumIsAcceptedOlderIsRefused)
{
    const LibraryVersion sdlMin{2, 24, 0}, mpgMin{1, 25, 0};
    std::string error;
    EXPECT_TRUE(audioLibrariesSupported(sdlMin, mpgMin, &error));
    EXPECT_TRUE(audioLibrariesSupported({2, 30, 1}, {1, 32, 10}, &error));
    EXPECT_TRUE(audioLibrariesSupported({3, 0, 0}, {2, 0, 0}, &error));
    EXPECT_FALSE(audioLibrariesSupported({2, 23, 9}, mpgMin, &error));
    EXPECT_NE(std::string::npos, error.find("SDL2")) << error;
    EXPECT_FALSE(audioLibrariesSupported(sdlMin, {1, 24, 99}, &error));
    EXPECT_NE(std::string::npos, error.find("libmpg123")) << error;
    EXPECT_FALSE(audioLibrariesSupported({1, 99, 99}, mpgMin, &error));
    EXPECT_TRUE(versionAtLeast(runningSdlVersion(), sdlMin));
    EXPECT_TRUE(versionAtLeast(runningMpg123Version(), mpgMin));
}

// A real sound server with a null sink, stopped in the middle of the stream.
TEST(MusicClock, LostSoundServerDoesNotFreezeTheClock)
{
    const std::string runtime = makeTempDir(), socket = runtime + "/native";
    const pid_t server = spawnProcess({"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                       "--use-pid-file=no", "-L", "module-null-sink", "-L",
                                       "module-native-protocol-unix socket=" + socket + " auth-anonymous=1"},
                                      runtime, {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime},
                                      runtime + "/pulseaudio.log");
    ASSERT_GT(server, 0);
    for (int i = 0; i < 100 && access(socket.c_str(), F_OK) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(0, access(socket.c_str(), F_OK)) << "pulseaudio (Debian package pulseaudio) did not start: "
                                                << readFile(runtime + "/pulseaudio.log");
    setenv("PULSE_SERVER", ("unix:" + socket).c_str(), 1);
    MusicPlayer player;
    std::string error;
    const bool started = startMusic(player, track(6.0).c_str(), &error);
    unsetenv("PULSE_SERVER");
    ASSERT_TRUE(started) << error;
    EXPECT_FALSE(musicIsSilent()) << "the sound server should have taken the stream";

    // Playing through the server: the clock follows real time once sound
    // flows, which a freshly started server may delay by over a second.
    const Clock::time_point opened = Clock::now();
    while (readMusicPosition(player) < 200 && Clock::now() - opened < std::chrono::seconds(3))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_FALSE(musicIsSilent());
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
    EXPECT_TRUE(musicIsSilent());
    EXPECT_GE(player.positionMs, player.lengthMs) << "the clock froze when the server went away";
    stopMusic(player);
}
