// The web build in a real browser (Debian's headless Chromium, WebGL through
// SwiftShader) and its timeline in node, held to the native programs.
#include "image/for_tests.h"
#include "image/png_file.h"
#include "process.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>
#include <vector>

static const std::string SITE = std::string(VANTROP_WEB_BUILD) + "/site";
static const std::string BROWSER =
    std::string(VANTROP_NODE) + " " + VANTROP_SOURCE_DIR + "/tests/web/browser.mjs " + SITE + " ";
// What the still pictures must keep to, against vantrop-render frame: a mean
// difference of at most 1 level in 255, and at most 2% of pixels off by more
// than 16 levels.
static constexpr double MAX_MEAN_DIFFERENCE = 1.0;
static constexpr double MAX_FAR_OFF_SHARE = 0.02;
static constexpr int FAR_OFF_LEVELS = 16;
static constexpr int STILL_WIDTH = 160, STILL_HEIGHT = 90;

// A report of browser.mjs: NAME=VALUE lines (error= may repeat, the last kept).
static std::map<std::string, std::string> readReport(const std::string& output)
{
    std::map<std::string, std::string> values;
    std::istringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        const size_t at = line.find('=');
        if (at != std::string::npos) values[line.substr(0, at)] = line.substr(at + 1);
    }
    return values;
}

static const char* sectionAt(uint32_t ms)
{
    const char* name = SHOW_SECTIONS[0].name;
    for (int i = 0; i < SHOW_SECTION_COUNT; ++i)
        if (positionAtBeat(BUILT_IN_SCHEDULE, sectionStartBeat(BUILT_IN_SCHEDULE, i)) <= ms)
            name = SHOW_SECTIONS[i].name;
    return name;
}

TEST(Web, TimelineInWebAssemblyEqualsTheNativeOneBitForBit)
{
    constexpr uint32_t LAST_MS = 120000;
    const std::string file = makeTempDir() + "/params.bin";
    const CommandResult r = runCommand(std::string(VANTROP_NODE) + " " + VANTROP_WEB_BUILD + "/web/timeline_dump.js " +
                                       file + " " + std::to_string(LAST_MS));
    ASSERT_EQ(0, r.status) << r.output;
    std::ifstream in(file, std::ios::binary);
    std::vector<FrameParams> web(LAST_MS + 1);
    in.read(reinterpret_cast<char*>(web.data()), std::streamsize(web.size() * sizeof(FrameParams)));
    ASSERT_EQ(std::streamsize(web.size() * sizeof(FrameParams)), in.gcount());
    int differing = 0;
    for (uint32_t ms = 0; ms <= LAST_MS; ++ms) {
        const FrameParams native = computeFrameParams(BUILT_IN_SCHEDULE, ms);
        if (std::memcmp(&native, &web[ms], sizeof native) != 0 && ++differing <= 5)
            ADD_FAILURE() << "the frame parameters differ at " << ms << " ms";
    }
    EXPECT_EQ(0, differing);
}

// Every second of the show, and closer together inside the glitch, where a
// browser's own noise filter and sin/cos drew another picture.
// The site's stills at `positions` (STILL_WIDTH x STILL_HEIGHT) against
// vantrop-render frame with `options`, each within the web's tolerance; a
// table of the differences is printed.
static void expectStillsMatchFrames(const std::string& site, const std::vector<uint32_t>& positions,
                                    const std::string& options = "")
{
    const std::string dir = makeTempDir();
    std::string size = std::to_string(STILL_WIDTH), list;
    size += 'x';
    size += std::to_string(STILL_HEIGHT);
    for (uint32_t ms : positions) {
        list += ' ';
        list += std::to_string(ms);
    }
    // The browser's pictures are taken while the native ones are drawn.
    CommandResult shots;
    std::thread browser([&] {
        shots = runCommand(std::string(VANTROP_NODE) + " " + VANTROP_SOURCE_DIR + "/tests/web/browser.mjs " + site +
                           " stills " + dir + " " + size + list);
    });
    std::vector<CommandResult> frames;
    for (uint32_t ms : positions)
        frames.push_back(runCommand(std::string(VANTROP_RENDER_PATH) + " frame --ms " + std::to_string(ms) +
                                    " --size " + size + " --out " + dir + "/native-" + std::to_string(ms) + ".png" +
                                    options));
    browser.join();
    ASSERT_EQ(0, shots.status) << shots.output;

    std::printf("%8s  %-9s %10s %10s\n", "ms", "section", "mean/255", ">16 off");
    for (size_t i = 0; i < positions.size(); ++i) {
        const uint32_t ms = positions[i];
        const std::string native = dir + "/native-" + std::to_string(ms) + ".png";
        ASSERT_EQ(0, frames[i].status) << frames[i].output;
        int w = 0, h = 0, ww = 0, wh = 0;
        std::vector<uint8_t> a, b;
        std::string error;
        ASSERT_TRUE(readPngRgb(native, w, h, a, &error)) << error;
        ASSERT_TRUE(readPngRgb(dir + "/" + std::to_string(ms) + ".png", ww, wh, b, &error)) << error;
        ASSERT_EQ(w, ww);
        ASSERT_EQ(h, wh);
        double total = 0;
        int farOff = 0;
        for (size_t pixel = 0; pixel < a.size() / 3; ++pixel) {
            int largest = 0;
            for (size_t c = 0; c < 3; ++c) {
                const int d = std::abs(int(a[pixel * 3 + c]) - int(b[pixel * 3 + c]));
                total += d;
                largest = std::max(largest, d);
            }
            farOff += largest > FAR_OFF_LEVELS;
        }
        const double mean = total / double(a.size()), share = double(farOff) / double(a.size() / 3);
        std::printf("%8u  %-9s %10.3f %9.2f%%\n", ms, sectionAt(ms), mean, 100.0 * share);
        EXPECT_LE(mean, MAX_MEAN_DIFFERENCE) << "at " << ms << " ms";
        EXPECT_LE(share, MAX_FAR_OFF_SHARE) << "at " << ms << " ms";
    }
}

TEST(Web, StillPicturesMatchTheNativeRendererAtEverySecond)
{
    std::vector<uint32_t> positions;
    for (uint32_t ms = 0; ms <= positionAtBeat(BUILT_IN_SCHEDULE, FADE_OUT_END_BEAT); ms += 1000)
        positions.push_back(ms);
    for (uint32_t ms = positionAtBeat(BUILT_IN_SCHEDULE, GLITCH_START_BEAT) + 250;
         ms < positionAtBeat(BUILT_IN_SCHEDULE, GLITCH_END_BEAT); ms += 1500)
        positions.push_back(ms);
    expectStillsMatchFrames(SITE, positions);
}

// A site published with an edited shader, a moved section and keyed tracks
// draws what vantrop-render frame draws with the same files, glitch
// included; a published shader the browser rejects is named by file and
// line on the page; `site` refuses a folder with something in it and
// shaders that do not build, and writes nothing then.
TEST(Web, PublishedSiteDrawsWhatFrameDrawsWithTheSameData)
{
    const std::string dir = makeTempDir(), render = VANTROP_RENDER_PATH;
    ASSERT_EQ(0,
              runCommand("cp -r " + std::string(VANTROP_SOURCE_DIR) + "/shaders " + dir + "/shaders && sed -i " +
                         "'s/vec3(highlightRed, highlightGreen, highlightBlue)/vec3(0.2, 0.4, 0.6)/' " + dir +
                         "/shaders/shading.glsl && " + render + " schedule | sed " +
                         "'s/^FLASHES_START_BEAT = 37/FLASHES_START_BEAT = 35/' > " + dir + "/schedule.txt")
                  .status);
    std::ofstream(dir + "/tracks.txt") << "track tintRed\n10 0.3 smooth\n30 1.8 step\n"
                                       << "track glitchAmount\n66 2 step\n";
    const std::string data =
        " --shaders " + dir + "/shaders --schedule " + dir + "/schedule.txt --tracks " + dir + "/tracks.txt";
    const CommandResult site = runCommand(render + " site --out " + dir + "/site" + data);
    ASSERT_EQ(0, site.status) << site.output;
    EXPECT_NE(std::string::npos, site.output.find("wrote " + dir + "/site (")) << site.output;
    expectStillsMatchFrames(dir + "/site", {7500, 15000, 24500, 41500, 46250}, data);

    const CommandResult full = runCommand(render + " site --out " + dir + "/site" + data);
    EXPECT_EQ(2, full.status) << full.output;
    ASSERT_EQ(
        0,
        runCommand("sed -i 's/float period = 5.0 + /float period = fiveAndAHalf + /' " + dir + "/shaders/scene.glsl")
            .status);
    const CommandResult broken = runCommand(render + " site --out " + dir + "/other" + data);
    EXPECT_EQ(2, broken.status) << broken.output;
    EXPECT_NE(std::string::npos, broken.output.find("scene.glsl:")) << broken.output;
    EXPECT_NE(0, runCommand("ls -d " + dir + "/other").status) << "nothing is written";
    ASSERT_EQ(0, runCommand("cp " + dir + "/shaders/scene.glsl " + dir + "/site/shaders/").status);
    const CommandResult page = runCommand(std::string(VANTROP_NODE) + " " + VANTROP_SOURCE_DIR +
                                          "/tests/web/browser.mjs " + dir + "/site page still -");
    auto said = readReport(page.output);
    EXPECT_EQ("the published shaders do not build in this browser:", said["prompt"]) << page.output;
    EXPECT_NE(std::string::npos, said["detail"].find("shaders/scene.glsl:118: 'fiveAndAHalf'")) << page.output;
}

// A 3-second track, started with a key as a viewer does.
TEST(Web, PlaysToTheEndOnTheClockOfWhatIsHeard)
{
    const std::string track = makeTempDir() + "/three.mp3";
    ASSERT_EQ(0, runCommand(std::string(VANTROP_MAKE_TRACK_PATH) + " --seconds 3 " + track).status);
    const CommandResult r = runCommand(BROWSER + "play " + track);
    ASSERT_EQ(0, r.status) << r.output;
    auto report = readReport(r.output);
    EXPECT_EQ("click or press a key to start", report["prompt"]) << r.output;
    EXPECT_EQ("0", report["errors"]) << r.output;
    EXPECT_EQ("the show has played", report["ended"]) << r.output;
    EXPECT_EQ("false", report["playing"]);
    EXPECT_EQ("auto", report["cursor"]) << "the cursor stays hidden after the show";
    EXPECT_EQ("0", report["backwards"]) << r.output;
    EXPECT_GE(std::stod(report["lastMs"]), 3000.0) << r.output;
    // The picture follows the sound in real time: what is shown advances by
    // the time between frames, give or take the sound's own buffers.
    EXPECT_NEAR(1.0, std::stod(report["rate"]), 0.2) << r.output;
    EXPECT_GT(std::stoi(report["frames"]), 10) << r.output;
}

// The player steered as a viewer does (browser.mjs steer says how), on a
// 20-second track: beat 15 of the show is at 10227.3 ms, beat 16 at 10909.1.
TEST(Web, PlayerPausesSeeksStepsAndOpensALinkToAMoment)
{
    const std::string track = makeTempDir() + "/twenty.mp3";
    ASSERT_EQ(0, runCommand(std::string(VANTROP_MAKE_TRACK_PATH) + " --seconds 20 " + track).status);
    const CommandResult r = runCommand(BROWSER + "steer " + track);
    ASSERT_EQ(0, r.status) << r.output;
    auto seen = readReport(r.output);
    EXPECT_EQ("0", seen["errors"]) << r.output;
    EXPECT_EQ("true", seen["paused"]) << r.output;
    EXPECT_EQ(seen["pausedMs"], seen["heldMs"]) << "the position holds while paused\n" << r.output;
    EXPECT_EQ("0", seen["framesWhilePaused"]) << r.output;
    const double length = std::stod(seen["lengthMs"]);
    EXPECT_NEAR(length / 2, std::stod(seen["middleMs"]), length / 200) << r.output;
    EXPECT_EQ("10228", seen["beatAheadMs"]) << r.output;
    EXPECT_EQ("10910", seen["barAheadMs"]) << r.output;
    EXPECT_EQ("10228", seen["beatBackMs"]) << r.output;
    // Played on from where it was paused: the clock starts at the new place.
    EXPECT_GE(std::stod(seen["playingMs"]), 10228.0) << r.output;
    EXPECT_LT(std::stod(seen["playingMs"]), 12228.0) << r.output;
    EXPECT_EQ("false", seen["controlsWhenIdle"]) << r.output;
    EXPECT_EQ("true", seen["controlsOnMove"]) << r.output;

    EXPECT_EQ("paused at 0:03.0", seen["linkMessage"]) << r.output;
    EXPECT_EQ("3000", seen["linkMs"]) << r.output;
    EXPECT_EQ("60px", seen["linkTop"]) << "letterboxed in a 640x480 window\n" << r.output;
    EXPECT_EQ("true", seen["linkControls"]) << r.output;
    EXPECT_NEAR(length / 4, std::stod(seen["quarterMs"]), length / 200) << "a tap a quarter along\n" << r.output;
    EXPECT_NE(std::string::npos, seen["copied"].find("/index.html?ms=" + seen["quarterMs"])) << r.output;

    for (const auto& [query, said] :
         {std::pair{"ms=25000", "?ms=25000 is past the end of the music"},
          std::pair{"colour=red", "unknown parameter ?colour"}, std::pair{"preview=fast", "bad value ?preview=fast"}}) {
        const CommandResult bad = runCommand(BROWSER + "page " + query + " " + track);
        ASSERT_EQ(0, bad.status) << bad.output;
        EXPECT_EQ(said, readReport(bad.output)["prompt"]) << bad.output;
    }
}

TEST(Web, SaysWhatToDoWhenTheMusicIsMissingOrNotMp3)
{
    const CommandResult missing = runCommand(BROWSER + "play -");
    ASSERT_EQ(0, missing.status) << missing.output;
    auto report = readReport(missing.output);
    EXPECT_NE(std::string::npos, report["prompt"].find("no music: lomu_hmm.mp3 could not be loaded")) << missing.output;
    EXPECT_NE(std::string::npos, report["detail"].find("put lomu_hmm.mp3 beside index.html")) << missing.output;
    EXPECT_NE(std::string::npos, report["detail"].find("drop a sound file (MP3, WAV, FLAC, Ogg, Opus) on this page"))
        << missing.output;
    // The browser's own line about the failed request is the only error.
    EXPECT_EQ("1", report["errors"]) << missing.output;
    EXPECT_NE(std::string::npos, report["error"].find("404")) << missing.output;

    const std::string notMp3 = makeTempDir() + "/notes.txt";
    std::ofstream(notMp3) << "these are notes, not music\n";
    const CommandResult text = runCommand("VANTROP_NOT_MP3=" + notMp3 + " " + BROWSER + "page music=notes.txt -");
    ASSERT_EQ(0, text.status) << text.output;
    EXPECT_NE(std::string::npos,
              readReport(text.output)["prompt"].find("notes.txt is not a sound file this browser decodes"))
        << text.output;
    // Any sound file the browser decodes plays: a WAV file ffmpeg made gets the prompt to start.
    const std::string wav = makeTempDir() + "/song.wav";
    ASSERT_EQ(0, runCommand("ffmpeg -loglevel error -f lavfi -i sine=frequency=440:duration=2 " + wav).status);
    const CommandResult sound = runCommand("VANTROP_WAV=" + wav + " " + BROWSER + "page music=song.wav -");
    ASSERT_EQ(0, sound.status) << sound.output;
    EXPECT_NE(std::string::npos, readReport(sound.output)["prompt"].find("start")) << sound.output;

    const CommandResult square = runCommand(BROWSER + "page size=100x100 -");
    ASSERT_EQ(0, square.status) << square.output;
    auto bad = readReport(square.output);
    EXPECT_EQ("bad size '100x100'", bad["prompt"]) << square.output;
    EXPECT_NE(std::string::npos, bad["detail"].find("16:9")) << square.output;

    for (const char* ms : {"-5", "Infinity", "4295019296"}) {
        const CommandResult r = runCommand(BROWSER + "page ms=" + ms + " -");
        ASSERT_EQ(0, r.status) << r.output;
        EXPECT_EQ(std::string("bad position ?ms=") + ms, readReport(r.output)["prompt"]) << r.output;
    }
    // A download that breaks off, or one too large to take: said, with a way on, and nothing uncaught.
    for (const auto& [name, said] : {std::pair{"broken.mp3", "the music download from broken.mp3 "},
                                     std::pair{"huge.mp3", "huge.mp3 is 3072 MB, more than"}}) {
        const CommandResult r = runCommand(BROWSER + "page music=" + name + " -");
        ASSERT_EQ(0, r.status) << r.output;
        EXPECT_EQ(0u, readReport(r.output)["prompt"].find(said)) << r.output;
        EXPECT_EQ(std::string::npos, r.output.find("uncaught")) << r.output;
    }
}
