// The vantrop-render command line, run as a user runs it.
#include "image/for_tests.h"
#include "image/png_file.h"
#include "image/text.h"
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <fstream>
#include <map>
#include <thread>

static const std::string TOOL = VANTROP_RENDER_PATH;

TEST(RenderTool, ParamsPrintsExactSlotsForTheScheduleEdges)
{
    const CommandResult r = runCommand(TOOL + " params 0 35454 35455 40909 40910 41500");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ(
        "ms time finale glitch spare beat hit warp pulseGain\n"
        "0 0 0 0 0 0 0 1 0.200000003\n"
        "35454 35.4540024 0 0 0 51.9990654 0 1 0.200000003\n"
        "35455 35.4550018 0 0 0 52.0005341 0 1 0.400000006\n"
        "40909 40.9090004 0 0 0 59.9997101 0 0.550021708 0.400000006\n"
        "40910 40.9100037 0 0 0 60.0011826 0 1 0.400000006\n"
        "41500 41.5000038 0 0 0 60.8665123 0 1 0.400000006\n",
        r.output);
    const CommandResult hex = runCommand(TOOL + " params --hex 41500");
    ASSERT_EQ(0, hex.status) << hex.output;
    EXPECT_NE(std::string::npos,
              hex.output.find("41500 0x42260001 0x00000000 0x00000000 0x00000000 0x4273774F 0x00000000 "
                              "0x3F800000 0x3ECCCCCD\n"))
        << hex.output;
}

TEST(RenderTool, HelpAndBadArguments)
{
    for (const char* args : {" --help", " params --help", " frame --help"}) {
        const CommandResult r = runCommand(TOOL + args);
        EXPECT_EQ(0, r.status) << args;
        EXPECT_NE(std::string::npos, r.output.find("Usage: vantrop-render")) << args;
    }
    for (const char* args :
         {"", " params", " params -5", " params 4294967296", " params 12abc", " nonsense", " frame --out x.png",
          " frame --ms 5", " frame --ms 5 --size 100x100 --out x.png", " frame --ms"}) {
        const CommandResult r = runCommand(TOOL + args);
        EXPECT_EQ(2, r.status) << args << ": " << r.output;
        EXPECT_FALSE(r.output.empty()) << args;
    }
    // Positions past the latest the timeline counts are refused, never wrapped to a negative time.
    for (const char* args : {" params 3000000000", " frame --ms 2147483648 --out x.png", " bench --ms 3000000000",
                             " video --out x.mp4 --from 2147483648"}) {
        const CommandResult r = runCommand(TOOL + args);
        EXPECT_EQ(2, r.status) << args << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("from 0 to 2147483647")) << args << ": " << r.output;
    }
}

static std::vector<uint8_t> loadPng(const std::string& path, int expectWidth, int expectHeight)
{
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    EXPECT_TRUE(readPngRgb(path, width, height, rgb, &error)) << error;
    EXPECT_EQ(expectWidth, width);
    EXPECT_EQ(expectHeight, height);
    return rgb;
}

// --shaders DIR: a copy of the build's own sources draws the build's pixels;
// an edit moves them; a broken edit names its file and line.
TEST(RenderTool, ShaderFolderDrawsAsTheStudioPacksIt)
{
    const std::string dir = makeTempDir(), shaders = dir + "/shaders";
    ASSERT_EQ(0, runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + shaders).status);
    const std::string frame = TOOL + " frame --ms 52000 --size 160x90 --out ";
    ASSERT_EQ(0, runCommand(frame + dir + "/own.png").status);
    const CommandResult copy = runCommand(frame + dir + "/copy.png --shaders " + shaders);
    ASSERT_EQ(0, copy.status) << copy.output;
    EXPECT_EQ(loadPng(dir + "/own.png", 160, 90), loadPng(dir + "/copy.png", 160, 90));

    ASSERT_EQ(0,
              runCommand("sed -i 's/vec3(tintRed, tintGreen, tintBlue)/vec3(0.5, 1.0, 1.0)/' " + shaders + "/main.glsl")
                  .status);
    ASSERT_EQ(0, runCommand(frame + dir + "/edited.png --shaders " + shaders).status);
    EXPECT_NE(loadPng(dir + "/own.png", 160, 90), loadPng(dir + "/edited.png", 160, 90));

    ASSERT_EQ(
        0,
        runCommand("sed -i 's/float c = cos(0.05 \\* p.y);/float c = cos(0.05 * p.y)/' " + shaders + "/scene.glsl")
            .status);
    for (const char* command : {" frame --ms 0 --size 160x90 --out ", " sheet --size 160x90 --out "}) {
        const CommandResult broken = runCommand(TOOL + command + dir + "/broken.png --shaders " + shaders);
        EXPECT_EQ(1, broken.status) << broken.output;
        EXPECT_NE(std::string::npos, broken.output.find("do not build")) << broken.output;
        EXPECT_NE(std::string::npos, broken.output.find("scene.glsl:")) << broken.output;
    }
    const CommandResult missing = runCommand(frame + dir + "/none.png --shaders " + dir + "/nothing");
    EXPECT_EQ(2, missing.status) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find(dir + "/nothing/")) << missing.output;
    const CommandResult both = runCommand(TOOL + " bench --shaders " + shaders + " --shader " + shaders + "/main.glsl");
    EXPECT_EQ(2, both.status) << both.output;
    const CommandResult part = runCommand(TOOL + " bench --shader " + shaders + "/scene.glsl");
    EXPECT_EQ(2, part.status) << part.output;
    EXPECT_NE(std::string::npos, part.output.find("not a whole fragment shader; give its folder with --shaders DIR"))
        << part.output;
}

// `schedule` prints the built-in schedule; given back with --schedule it
// draws and times every command bit for bit as without it; a moved beat
// moves the curves (params) and the shader's effects (frame) it names; a
// broken file is refused with exit 2 and its file and line by every command.
TEST(RenderTool, ScheduleFilesRetimeEveryCommand)
{
    const std::string dir = makeTempDir(), schedule = dir + "/schedule.txt";
    ASSERT_EQ(0, runCommand(TOOL + " schedule > " + schedule).status);
    const std::string positions = " 0 24500 30000 47000 52000 56000 68000";
    const CommandResult builtIn = runCommand(TOOL + " params --hex" + positions);
    const CommandResult read = runCommand(TOOL + " params --hex --schedule " + schedule + positions);
    ASSERT_EQ(0, read.status) << read.output;
    EXPECT_EQ(builtIn.output, read.output);
    const std::string frame = TOOL + " frame --ms 24500 --size 160x90 --out ";
    ASSERT_EQ(0, runCommand(frame + dir + "/own.png").status);
    const CommandResult same = runCommand(frame + dir + "/same.png --schedule " + schedule);
    ASSERT_EQ(0, same.status) << same.output;
    EXPECT_EQ(loadPng(dir + "/own.png", 160, 90), loadPng(dir + "/same.png", 160, 90));

    // The glitch four beats later (a curve), the flashes two beats earlier (the shader).
    const std::string moved = dir + "/moved.txt";
    ASSERT_EQ(0,
              runCommand("sed -e 's/^GLITCH_START_BEAT = 66/GLITCH_START_BEAT = 70/' -e "
                         "'s/^FLASHES_START_BEAT = 37/FLASHES_START_BEAT = 35/' " +
                         schedule + " > " + moved)
                  .status);
    const CommandResult later = runCommand(TOOL + " params --schedule " + moved + " 47000");
    EXPECT_NE(std::string::npos, later.output.find("\n47000 47.0000038 0 0 0")) << later.output;
    ASSERT_EQ(0, runCommand(frame + dir + "/earlier.png --schedule " + moved).status);
    EXPECT_NE(loadPng(dir + "/own.png", 160, 90), loadPng(dir + "/earlier.png", 160, 90))
        << "at 24.5 s (beat 35.9) the moved flashes have begun";

    const std::string broken = dir + "/broken.txt";
    ASSERT_EQ(
        0, runCommand("sed 's/^FADE_OUT_END_BEAT = 101/FADE_OUT_END_BEAT = 96/' " + schedule + " > " + broken).status);
    for (const std::string command : {" params 0", " frame --ms 0 --out x.png", " sheet --out x.png", " bench",
                                      " video --out x.mp4", " schedule"}) {
        const CommandResult r = runCommand("cd " + dir + " && " + TOOL + command + " --schedule " + broken);
        EXPECT_EQ(2, r.status) << command << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(broken + ":")) << command << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("FADE_OUT_END_BEAT (96) must come after FADE_OUT_START_BEAT (97)"))
            << r.output;
    }
    EXPECT_EQ("broken.txt\nearlier.png\nmoved.txt\nown.png\nsame.png\nschedule.txt\n",
              runCommand("ls -A " + dir).output)
        << "nothing is written for a refused schedule";
    const CommandResult compare = runCommand(TOOL + " bench --compare --schedule " + schedule);
    EXPECT_EQ(2, compare.status) << compare.output;

    // A fade-out 16 beats later (ending at 79.8 s): the sheet goes on to its
    // last picture, and an export without music to its end.
    const std::string longer = dir + "/longer.txt";
    ASSERT_EQ(0,
              runCommand("sed -e 's/^FADE_OUT_START_BEAT = 97/FADE_OUT_START_BEAT = 113/' -e "
                         "'s/^FADE_OUT_END_BEAT = 101/FADE_OUT_END_BEAT = 117/' " +
                         schedule + " > " + longer)
                  .status);
    const CommandResult sheet =
        runCommand(TOOL + " sheet --size 16x9 --every 58 --out " + dir + "/long.png --schedule " + longer);
    EXPECT_NE(std::string::npos, sheet.output.find("(3 stills, ")) << "beats 0, 58 and 116: " << sheet.output;
    const CommandResult tail = runCommand(
        "cd " + dir + " && " + TOOL + " video --from 79000 --fps 10 --size 160x90 --out end.mp4 --schedule " + longer);
    EXPECT_NE(std::string::npos, tail.output.find("wrote end.mp4 (0:01, 10 frames at 10 fps")) << tail.output;
}

// The overlay shows driver logs ("expecting ',' or ';'"): every printable
// character must be drawn, and none may look like another.
TEST(Text, EveryPrintableCharacterHasAGlyphOfItsOwn)
{
    std::map<std::string, char> seen; // each glyph's pixels, and the character that drew them
    for (char c = '!'; c <= '~'; ++c) {
        std::vector<uint8_t> rgb(size_t(GLYPH_ADVANCE) * GLYPH_HEIGHT * 3, 0);
        drawText(rgb, GLYPH_ADVANCE, GLYPH_HEIGHT, 0, 0, std::string(1, c), 1, 255);
        EXPECT_NE(std::count(rgb.begin(), rgb.end(), 255), 0) << "'" << c << "' draws nothing";
        const auto [at, added] = seen.emplace(std::string(rgb.begin(), rgb.end()), c);
        EXPECT_TRUE(added) << "'" << c << "' looks like '" << at->second << "'";
    }
}

TEST(RenderTool, FrameWritesAnRgbPng)
{
    const std::string out = makeTempDir() + "/frame.png";
    const CommandResult r = runCommand(TOOL + " frame --ms 41500 --size 160x90 --out " + out);
    ASSERT_EQ(0, r.status) << r.output;
    const std::vector<uint8_t> rgb = loadPng(out, 160, 90);
    ASSERT_FALSE(rgb.empty());
    size_t bright = 0;
    for (uint8_t v : rgb) bright += v > 40;
    EXPECT_GT(bright, rgb.size() / 8);
    const CommandResult unwritable = runCommand(TOOL + " frame --ms 0 --size 160x90 --out /nonexistent/dir/f.png");
    EXPECT_EQ(1, unwritable.status);
    EXPECT_NE(std::string::npos, unwritable.output.find("/nonexistent/dir/f.png")) << unwritable.output;
}

static const std::string MAKE_TRACK = VANTROP_MAKE_TRACK_PATH;

static double meanDifference(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b)
{
    if (a.size() != b.size() || a.empty()) return 1e9;
    double sum = 0;
    for (size_t i = 0; i < a.size(); ++i) sum += std::abs(int(a[i]) - int(b[i]));
    return sum / double(a.size());
}

// Frame n of a video, decoded by ffmpeg as its colour tags say, as raw RGB
// (a PNG would carry the video's gamma, which a PNG reader may apply).
static std::vector<uint8_t> videoFrame(const std::string& video, int n, const std::string& dir)
{
    const std::string raw = dir + "/video" + std::to_string(n) + ".rgb";
    const CommandResult r = runCommand("ffmpeg -v error -y -i " + video + " -vf 'select=eq(n\\," + std::to_string(n) +
                                       ")' -frames:v 1 -f rawvideo -pix_fmt rgb24 " + raw);
    EXPECT_EQ(0, r.status) << r.output;
    std::ifstream in(raw, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

static std::vector<uint8_t> toolFrame(uint32_t ms, const std::string& dir)
{
    const std::string png = dir + "/frame" + std::to_string(ms) + ".png";
    const CommandResult r = runCommand(TOOL + " frame --size 160x90 --ms " + std::to_string(ms) + " --out " + png);
    EXPECT_EQ(0, r.status) << r.output;
    return loadPng(png, 160, 90);
}

class VideoExport : public testing::Test {
protected:
    void SetUp() override
    {
        dir = makeTempDir();
        const CommandResult r = runCommand("cd " + dir + " && " + MAKE_TRACK + " --seconds 4 lomu_hmm.mp3");
        ASSERT_EQ(0, r.status) << r.output;
    }
    std::string dir;
};

TEST_F(VideoExport, TwoSecondsWithSoundAndExactFrames)
{
    const std::string video = dir + "/two.mp4";
    const CommandResult r =
        runCommand("cd " + dir + " && " + TOOL + " video --out " + video + " --size 160x90 --fps 10 --to 2000");
    ASSERT_EQ(0, r.status) << r.output;
    const CommandResult probe = runCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,nb_read_frames,width,height:format=duration -of "
        "default=noprint_wrappers=1 " +
        video);
    ASSERT_EQ(0, probe.status) << "ffprobe (Debian package ffmpeg) is needed: " << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("codec_type=video\nwidth=160\nheight=90\nnb_read_frames=20\n"))
        << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("codec_type=audio")) << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("duration=2.0")) << probe.output;
    // Off a terminal (a log): a line every tenth, then one naming what was written.
    for (const char* line : {"video: 10% (frame 2 of 20)\n", "video: 50% (frame 10 of 20)\n",
                             "video: 100% (frame 20 of 20)\n", "video: wrote ", "(0:02, 20 frames at 10 fps, 160x90, "})
        EXPECT_NE(std::string::npos, r.output.find(line)) << r.output;
}

TEST_F(VideoExport, FrameNShowsPositionFromPlusNTimes1000OverFpsRoundedDown)
{
    // The glitch overlay changes its whole pattern at 50000 ms, so a frame
    // placed one millisecond off shows the wrong pattern. 60 fps from
    // 49950: frame 3 is at 49950 + 50 = 50000, frame 2 at 49983.
    const std::string video = dir + "/exact.mp4";
    const CommandResult r = runCommand("cd " + dir + " && " + TOOL + " video --out " + video +
                                       " --size 160x90 --fps 60 --from 49950 --to 50050");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ("nb_read_frames=6\n",
              runCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                         "stream=nb_read_frames -of default=noprint_wrappers=1 " +
                         video)
                  .output);
    const auto third = videoFrame(video, 3, dir), second = videoFrame(video, 2, dir), first = videoFrame(video, 0, dir);
    // The noisy overlay costs H.264 about 5 levels of 255 on average at this size.
    const double CODEC_LOSS = 8.0;
    EXPECT_LT(meanDifference(first, toolFrame(49950, dir)), CODEC_LOSS);
    const double right = meanDifference(third, toolFrame(50000, dir));
    EXPECT_LT(right, CODEC_LOSS);
    EXPECT_LT(right * 1.5, meanDifference(third, toolFrame(49999, dir))) << right;
    EXPECT_LT(meanDifference(second, toolFrame(49983, dir)), CODEC_LOSS);
}

TEST_F(VideoExport, MissingFfmpegAndUnwritableOutputAreErrors)
{
    const CommandResult noFfmpeg =
        runCommand("cd " + dir + " && PATH=/nonexistent " + TOOL + " video --out x.mp4 --size 160x90 --to 500");
    EXPECT_EQ(1, noFfmpeg.status);
    EXPECT_NE(std::string::npos,
              noFfmpeg.output.find("ffmpeg program was found neither beside vantrop-render nor on PATH"))
        << noFfmpeg.output;
    const CommandResult unwritable =
        runCommand("cd " + dir + " && " + TOOL + " video --out /nonexistent/x.mp4 --size 160x90 --to 500");
    EXPECT_EQ(1, unwritable.status);
    EXPECT_NE(std::string::npos, unwritable.output.find("cannot write /nonexistent/x.mp4")) << unwritable.output;
    const CommandResult silent =
        runCommand("cd /tmp && " + TOOL + " video --out " + dir + "/silent.mp4 --size 160x90 --fps 5 --to 400");
    EXPECT_EQ(0, silent.status) << silent.output;
    EXPECT_NE(std::string::npos, silent.output.find("silent")) << silent.output;
    for (const char* args :
         {" --size 160x90", " --out x.mp4 --fps 0", " --out x.mp4 --from 900 --to 100", " --out x.mp4 --size 16x9"}) {
        const CommandResult bad = runCommand("cd " + dir + " && " + TOOL + " video" + args);
        EXPECT_EQ(2, bad.status) << args << ": " << bad.output;
    }
}

TEST(RenderTool, SheetAndBench)
{
    const std::string dir = makeTempDir();
    const CommandResult sheet = runCommand(TOOL + " sheet --size 160x90 --every 50 --out " + dir + "/sheet.png");
    ASSERT_EQ(0, sheet.status) << sheet.output;
    // Three stills (beats 0, 50, 100) in one row, with labels under them.
    loadPng(dir + "/sheet.png", 3 * (160 + 4) + 4, 90 + 16 + 4 + 4);
    // Off a terminal (a log): a line every tenth, each still a third, then one naming what was written.
    for (const char* line : {"sheet: 33% (still 1 of 3)\n", "sheet: 66% (still 2 of 3)\n",
                             "sheet: 100% (still 3 of 3)\n", "sheet: wrote ", "sheet.png (3 stills, 496x114, "})
        EXPECT_NE(std::string::npos, sheet.output.find(line)) << sheet.output;
    EXPECT_EQ(4u, size_t(std::count(sheet.output.begin(), sheet.output.end(), '\n'))) << sheet.output;
    const CommandResult bench = runCommand(TOOL + " bench --size 160x90 --frames 2 --ms 41500 66000");
    ASSERT_EQ(0, bench.status) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("renderer: ")) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("logical cores\n")) << "bench names the processor: " << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("   41500   60.87")) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("median over positions")) << bench.output;
}

static std::string readBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// Nothing but what the user asked for, nothing of a failed run.
static std::string listing(const std::string& dir)
{
    return runCommand("ls -A " + dir).output;
}

// A half-second export in `dir` through a stand-in ffmpeg (dir/bin/ffmpeg)
// made of these shell lines.
static CommandResult exportWithStandInFfmpeg(const std::string& dir, const std::string& lines, const std::string& out)
{
    const std::string bin = dir + "/bin";
    const CommandResult made = runCommand("mkdir " + bin + " && printf '#!/bin/sh\\n" + lines + "\\n' > " + bin +
                                          "/ffmpeg && chmod +x " + bin + "/ffmpeg");
    EXPECT_EQ(0, made.status) << made.output;
    return runCommand("cd " + dir + " && PATH=" + bin + ":$PATH " + TOOL + " video --out " + out +
                      " --size 160x90 --to 500");
}

TEST_F(VideoExport, OutputsThatWouldHarmAFileAreRefusedAndFailuresLeaveNothing)
{
    const std::string music = readBytes(dir + "/lomu_hmm.mp3");
    ASSERT_EQ(0, runCommand("ln -s lomu_hmm.mp3 " + dir + "/song.mp4").status);
    for (const std::string& out : {std::string("./lomu_hmm.mp3"), std::string("song.mp4"),
                                   dir + "/../" + dir.substr(dir.rfind('/') + 1) + "/song.mp4"}) {
        const CommandResult r =
            runCommand("cd " + dir + " && " + TOOL + " video --out " + out + " --size 160x90 --to 500");
        EXPECT_EQ(1, r.status) << r.output;
        if (out != "./lomu_hmm.mp3") {
            EXPECT_NE(std::string::npos, r.output.find("it is the input")) << r.output;
        }
        EXPECT_EQ(music, readBytes(dir + "/lomu_hmm.mp3")) << "the music file was touched by --out " << out;
    }
    ASSERT_EQ(0, runCommand("rm " + dir + "/song.mp4").status);
    for (const char* out : {"c", "c.gif", "c.png", "c.mp3"}) {
        const CommandResult r =
            runCommand("cd " + dir + " && " + TOOL + " video --out " + out + " --size 160x90 --to 500");
        EXPECT_EQ(1, r.status) << out << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(".mp4, .mkv, .mov")) << r.output;
    }
    // An encoder that fails: its message reaches the user, and no file is left.
    const CommandResult failed = exportWithStandInFfmpeg(dir, "echo ffmpeg: out of cheese >&2\\nexit 3", "v.mkv");
    EXPECT_EQ(1, failed.status);
    EXPECT_NE(std::string::npos, failed.output.find("out of cheese")) << failed.output;
    EXPECT_NE(std::string::npos, failed.output.find("exit status 3")) << failed.output;
    EXPECT_EQ("bin\nlomu_hmm.mp3\n", listing(dir));
    const std::string sheetDir = makeTempDir();
    const CommandResult sheet = runCommand(TOOL + " sheet --size 16x9 --every 50 --out " + sheetDir + "/s.jpg");
    EXPECT_EQ(1, sheet.status);
    EXPECT_EQ("", listing(sheetDir));
}

// Past the end of the music: the video is as long as asked, its sound
// padded with silence; frame counts come from the closed form.
TEST_F(VideoExport, StretchPastTheMusicHasTheLengthAskedFor)
{
    const std::string video = dir + "/tail.mov";
    const CommandResult r = runCommand("cd " + dir + " && " + TOOL + " video --out " + video +
                                       " --size 160x90 --fps 10 --from 3000 --to 5500");
    ASSERT_EQ(0, r.status) << r.output;
    const CommandResult probe = runCommand(
        "ffprobe -v error -count_frames -show_entries "
        "stream=codec_type,nb_read_frames,duration,color_space -of "
        "default=noprint_wrappers=1 " +
        video);
    EXPECT_NE(std::string::npos, probe.output.find("codec_type=video\ncolor_space=bt709\nduration=2.500000"))
        << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("nb_read_frames=25\n")) << probe.output;
    const size_t audio = probe.output.find("codec_type=audio\nduration=");
    ASSERT_NE(std::string::npos, audio) << probe.output;
    EXPECT_NEAR(2.5, std::stod(probe.output.substr(audio + 26)), 0.05) << probe.output;
    // The last second is silence: the music ended at 4 s.
    const CommandResult volume = runCommand("ffmpeg -v info -ss 1.6 -i " + video + " -af volumedetect -f null - 2>&1");
    EXPECT_NE(std::string::npos, volume.output.find("max_volume: -91")) << volume.output;
}

// The video and sound durations of a file, in seconds, as ffprobe reads them.
static std::pair<double, double> streamDurations(const std::string& video)
{
    const CommandResult probe = runCommand(
        "ffprobe -v error -show_entries stream=codec_type,duration -of "
        "default=noprint_wrappers=1 " +
        video);
    EXPECT_EQ(0, probe.status) << probe.output;
    const size_t v = probe.output.find("codec_type=video\nduration="),
                 a = probe.output.find("codec_type=audio\nduration=");
    if (v == std::string::npos || a == std::string::npos) {
        ADD_FAILURE() << "no video or no audio stream: " << probe.output;
        return {0, 0};
    }
    return {std::stod(probe.output.substr(v + 26)), std::stod(probe.output.substr(a + 26))};
}

// A shell line that starts `command` in the background, waits (up to 30 s)
// until the shell test `condition` holds, sends the signal, and prints
// "status=N" with the command's exit status.
static std::string signalWhen(const std::string& command, const std::string& condition, const std::string& signal)
{
    return "(" + command + " & pid=$!; i=0; until " + condition +
        " || [ $i -ge 3000 ]; do sleep 0.01; i=$((i + 1)); done; kill -" + signal + " $pid; wait $pid; echo status=$?)";
}

// Stopped by any of the three signals: the file kept has sound exactly as
// long as its frames, no temporary file is left, and the message says what
// was kept; stopped before the first frame, nothing is left at all.
TEST_F(VideoExport, SignalsKeepAFileWhoseSoundEndsWithItsFrames)
{
    ASSERT_EQ(0, runCommand("cd " + dir + " && " + MAKE_TRACK + " --seconds 60 --force lomu_hmm.mp3").status);
    for (const auto& [signal, status] : {std::pair{"TERM", 143}, std::pair{"HUP", 129}, std::pair{"INT", 130}}) {
        const std::string video = std::string("stopped-") + signal + ".mp4";
        // Once ten frames are drawn (the renderer's log has a line per frame).
        const std::string frames = makeTempDir() + "/programs.log";
        const CommandResult r =
            runCommand("cd " + dir + " && " +
                       signalWhen("VANTROP_PROGRAM_LOG=" + frames + " " + TOOL + " video --out " + video +
                                      " --size 320x180 --fps 30",
                                  "[ \"$(cat " + frames + " 2> /dev/null | wc -l)\" -ge 10 ]", signal));
        EXPECT_NE(std::string::npos, r.output.find("status=" + std::to_string(status))) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("kept " + video + " with the first")) << r.output;
        const auto [pictures, sound] = streamDurations(dir + "/" + video);
        EXPECT_GT(pictures, 0.1) << signal;
        EXPECT_LT(pictures, 50.0) << signal;
        EXPECT_NEAR(pictures, sound, 0.03) << signal << ": the sound must end with the last frame";
        EXPECT_EQ(0, std::remove((dir + "/" + video).c_str()));
        EXPECT_EQ("lomu_hmm.mp3\n", listing(dir)) << signal;
    }
    // Once it catches SIGINT (bit 2 of the caught mask), long before its first 1280x720 frame.
    const CommandResult early = runCommand("cd " + dir + " && " +
                                           signalWhen(TOOL + " video --out early.mp4 --size 1280x720",
                                                      "grep -q '^SigCgt:.*[2367abef]$' /proc/$pid/status", "INT"));
    EXPECT_NE(std::string::npos, early.output.find("status=130")) << early.output;
    EXPECT_EQ("lomu_hmm.mp3\n", listing(dir));
}

// An encoder ended from outside, names at the folder's limit, a folder or a
// soundless stub as the music, a repeated option: each is told as it is.
TEST_F(VideoExport, FailuresAreNamedForWhatTheyAre)
{
    const CommandResult killed = exportWithStandInFfmpeg(dir, "kill -9 $$", "v.mp4");
    EXPECT_EQ(1, killed.status);
    EXPECT_NE(std::string::npos, killed.output.find("ended by signal 9 (Killed)")) << killed.output;
    EXPECT_EQ(std::string::npos, killed.output.find("message is above")) << killed.output;

    const std::string longest = std::string(251, 'v') + ".mp4", tooLong = std::string(252, 'v') + ".mp4";
    const CommandResult fits =
        runCommand("cd " + dir + " && " + TOOL + " video --out " + longest + " --size 160x90 --fps 5 --to 400");
    EXPECT_EQ(0, fits.status) << fits.output;
    const CommandResult over =
        runCommand("cd " + dir + " && " + TOOL + " video --out " + tooLong + " --size 160x90 --to 400");
    EXPECT_EQ(1, over.status);
    EXPECT_NE(std::string::npos, over.output.find("its name is 256 bytes long")) << over.output;
    EXPECT_NE(std::string::npos, over.output.find("at most 255")) << over.output;

    ASSERT_EQ(0, runCommand("cd " + dir + " && mkdir folder.mp3 && head -c 417 lomu_hmm.mp3 > stub.mp3").status);
    const CommandResult folder = runCommand(TOOL + " video --music " + dir + "/folder.mp3 --out " + dir + "/f.mp4");
    EXPECT_EQ(1, folder.status);
    EXPECT_NE(std::string::npos, folder.output.find("is a folder")) << folder.output;
    const CommandResult stub = runCommand(TOOL + " video --music " + dir + "/stub.mp3 --out " + dir + "/f.mp4");
    EXPECT_EQ(1, stub.status);
    EXPECT_NE(std::string::npos, stub.output.find("is too short")) << stub.output;
    ASSERT_EQ(0, runCommand("mkfifo " + dir + "/shader.frag").status);
    const CommandResult fifo = runCommand(TOOL + " bench --frames 1 --shader " + dir + "/shader.frag");
    EXPECT_EQ(2, fifo.status);
    EXPECT_NE(std::string::npos, fifo.output.find("not a regular file")) << fifo.output;
    for (const char* args : {" video --out a.mp4 --out b.mp4", " frame --ms 1 --ms 2 --out a.png",
                             " sheet --out a.png --out b.png", " bench --frames 1 --frames 2"}) {
        const CommandResult r = runCommand("cd " + dir + " && " + TOOL + args);
        EXPECT_EQ(2, r.status) << args;
        EXPECT_NE(std::string::npos, r.output.find("is given twice")) << args << ": " << r.output;
    }
}

// The highest resident memory a process reached, read from /proc while it runs; -1 when it could not be read.
static long peakMemoryKiB(pid_t pid)
{
    long peak = -1;
    // Until it has ended (a zombie, not yet waited for, has no memory line).
    for (bool running = true; running;) {
        std::ifstream status("/proc/" + std::to_string(pid) + "/status");
        std::string line;
        running = false;
        while (std::getline(status, line))
            if (line.rfind("VmHWM:", 0) == 0) {
                peak = std::max(peak, std::stol(line.substr(6)));
                running = true;
            }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return peak;
}

// A second of a 40-minute track: only that second is decoded (the whole
// track as 16-bit stereo would be 423 MB).
TEST_F(VideoExport, MemoryDoesNotGrowWithTheTrack)
{
    const CommandResult made =
        runCommand("ffmpeg -v error -f lavfi -i anullsrc=r=44100:cl=stereo -t 2400 -b:a 8k " + dir + "/long.mp3");
    ASSERT_EQ(0, made.status) << made.output;
    const pid_t tool = spawnProcess({TOOL, "video", "--music", "long.mp3", "--out", "clip.mp4", "--size", "160x90",
                                     "--from", "1200000", "--to", "1201000"},
                                    dir, {}, dir + "/tool.log");
    const ProcessGuard toolGuard{tool};
    ASSERT_GT(tool, 0);
    const long peak = peakMemoryKiB(tool);
    EXPECT_EQ(0, waitForExit(tool, 60000));
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 300 * 1024) << "peak resident memory in KiB";
    const auto [pictures, sound] = streamDurations(dir + "/clip.mp4");
    EXPECT_DOUBLE_EQ(1.0, pictures);
    EXPECT_NEAR(1.0, sound, 0.01);
}

// The sound of a clip exported from a FLAC and an Opus file is the file's
// own stretch, as ffmpeg decodes it: correlated sample for sample.
TEST_F(VideoExport, SoundComesFromFlacAndOpusFiles)
{
    const CommandResult made = runCommand(
        "cd " + dir + " && ffmpeg -v error -f lavfi -i \"aevalsrc=0.5*sin(2*PI*(200+400*t)*t):d=3\" -ac 2 s.wav" +
        " && flac -s -o s.flac s.wav && opusenc --quiet s.wav s.opus 2>&1");
    ASSERT_EQ(0, made.status) << "ffmpeg, flac and opus-tools are needed: " << made.output;
    for (const char* music : {"s.flac", "s.opus"}) {
        const CommandResult r =
            runCommand("cd " + dir + " && " + TOOL + " video --force --music " + music +
                       " --out clip.mp4 --size 160x90 --fps 10 --from 1000 --to 2000 2>&1" +
                       " && ffmpeg -v error -y -i clip.mp4 -f s16le -ac 1 -ar 44100 heard.raw" +
                       " && ffmpeg -v error -y -ss 1 -t 1 -i " + music + " -f s16le -ac 1 -ar 44100 source.raw");
        ASSERT_EQ(0, r.status) << music << ": " << r.output;
        const std::string heard = readBytes(dir + "/heard.raw"), source = readBytes(dir + "/source.raw");
        const size_t n = std::min(heard.size(), source.size()) / 2;
        EXPECT_GT(n, 43000u) << music;
        double both = 0, heardSquares = 0, sourceSquares = 0;
        for (size_t i = 0; i < n; ++i) {
            int16_t h, s;
            std::memcpy(&h, heard.data() + 2 * i, 2);
            std::memcpy(&s, source.data() + 2 * i, 2);
            both += double(h) * s;
            heardSquares += double(h) * h;
            sourceSquares += double(s) * s;
        }
        EXPECT_GT(both / std::sqrt(heardSquares * sourceSquares), 0.98) << music;
    }
}

// Every command draws each frame with the program the show draws it with:
// the smallest of the show's set that its parameters need.
TEST_F(VideoExport, EveryCommandDrawsWithTheShowsProgram)
{
    const std::string log = dir + "/programs.log", env = "VANTROP_PROGRAM_LOG=" + log + " ";
    for (const char* command :
         {" frame --ms 5500 --size 160x90 --out f.png", " frame --ms 52000 --size 160x90 --out g.png",
          " frame --ms 62000 --size 160x90 --out h.png",
          " bench --size 16x9 --frames 1 --ms 5500 30000 47000 52000 62000 66000",
          " bench --compare --size 16x9 --frames 1 --ms 5500 47000 62000", " sheet --size 16x9 --every 8 --out s.png",
          " video --size 160x90 --fps 5 --from 46000 --to 48000 --out v.mp4"}) {
        ASSERT_EQ(0, runCommand("cd " + dir + " && rm -f " + log + " && " + env + TOOL + command).status) << command;
        // --compare draws the baseline and the reference alone first: the show's frames are the rest.
        ASSERT_EQ(0, runCommand("grep -v ' -1$' " + log + " > " + log + ".show; true").status);
        EXPECT_EQ("", programLogMismatches(TOOL, log + ".show")) << command;
    }
    // A shader of one's own is drawn alone, whatever the position.
    std::ofstream(dir + "/mine.frag") << "uniform vec4 m[2];\nvoid main() { gl_FragColor = vec4(m[0].x); }\n";
    ASSERT_EQ(0,
              runCommand("cd " + dir + " && rm -f " + log + " && " + env + TOOL +
                         " bench --size 16x9 --frames 1 --ms 52000 62000 --shader mine.frag")
                  .status);
    std::ifstream drawn(log);
    std::string line;
    int frames = 0;
    while (std::getline(drawn, line)) {
        EXPECT_EQ(" -1", line.substr(line.find(' '))) << line;
        ++frames;
    }
    EXPECT_GT(frames, 0);
}

// Every command that writes a file keeps one that is there unless --force
// is given, as vantrop-make-track does; icon takes --schedule like the
// others; a mistyped option is named with the one meant.
TEST(RenderTool, OutputsAreReplacedOnlyWithForce)
{
    const std::string dir = makeTempDir(), schedule = dir + "/schedule.txt";
    ASSERT_EQ(0, runCommand(TOOL + " schedule > " + schedule).status);
    for (const std::string& command :
         std::vector<std::string>{" frame --ms 0 --size 160x90", " sheet --size 160x90 --every 40",
                                  " icon --size 16 --schedule " + schedule, " video --size 160x90 --to 100"}) {
        const std::string out = dir + (command.find("video") != std::string::npos ? "/mine.mp4" : "/mine.png");
        std::ofstream(out) << "my notes\n";
        const CommandResult kept = runCommand("cd " + dir + " && " + TOOL + command + " --out " + out);
        EXPECT_EQ(1, kept.status) << command;
        EXPECT_NE(std::string::npos, kept.output.find("already exists; give --force")) << kept.output;
        EXPECT_EQ("my notes\n", readBytes(out)) << command;
        const CommandResult forced = runCommand("cd " + dir + " && " + TOOL + command + " --force --out " + out);
        EXPECT_EQ(0, forced.status) << command << ": " << forced.output;
        EXPECT_NE("my notes\n", readBytes(out)) << command;
    }
    const CommandResult typo = runCommand(TOOL + " video --out x.mp4 --fsp 30");
    EXPECT_EQ(2, typo.status);
    EXPECT_NE(std::string::npos, typo.output.find("unknown option '--fsp' (did you mean --fps?)")) << typo.output;
}

// vantrop-make-track never harms a file: an existing one is kept unless
// --force, a name that is not .mp3 is refused, a signal leaves nothing.
TEST(MakeTrack, NeverHarmsAFile)
{
    const std::string dir = makeTempDir();
    std::ofstream(dir + "/song.mp3") << "my notes\n";
    const CommandResult kept = runCommand(MAKE_TRACK + " --seconds 1 " + dir + "/song.mp3");
    EXPECT_EQ(1, kept.status);
    EXPECT_NE(std::string::npos, kept.output.find("already exists; give --force")) << kept.output;
    EXPECT_EQ("my notes\n", readBytes(dir + "/song.mp3"));
    for (const char* name : {"/out.wav", "/song", "/x.mp3.txt"}) {
        const CommandResult refused = runCommand(MAKE_TRACK + " --seconds 1 " + dir + name);
        EXPECT_EQ(1, refused.status) << name;
        EXPECT_NE(std::string::npos, refused.output.find("name the file with one of .mp3")) << refused.output;
    }
    EXPECT_EQ(2, runCommand(MAKE_TRACK + " --seconds 1 --seconds 2 " + dir + "/x.mp3").status);
    const CommandResult forced = runCommand(MAKE_TRACK + " --seconds 1 --force " + dir + "/song.mp3");
    EXPECT_EQ(0, forced.status) << forced.output;
    EXPECT_NE("my notes\n", readBytes(dir + "/song.mp3"));
    EXPECT_NE(std::string::npos, forced.output.find("vantrop-make-track: wrote " + dir + "/song.mp3 (0:01, "))
        << forced.output;
    // Stopped while it writes its temporary file.
    const CommandResult stopped = runCommand(signalWhen(MAKE_TRACK + " --seconds 3600 " + dir + "/long.mp3",
                                                        "ls -A " + dir + " | grep -q '^\\.vantrop-'", "TERM"));
    EXPECT_NE(std::string::npos, stopped.output.find("status=143")) << stopped.output;
    EXPECT_EQ("song.mp3\n", listing(dir));
}

TEST(RenderTool, MistakesAreCaughtBeforeAnyWork)
{
    const std::string dir = makeTempDir();
    const auto started = std::chrono::steady_clock::now();
    const CommandResult big = runCommand(TOOL + " frame --ms 0 --size 7680x4320 --out /nonexistent/x.png");
    EXPECT_EQ(1, big.status);
    EXPECT_NE(std::string::npos, big.output.find("the folder /nonexistent does not exist")) << big.output;
    // An 8K frame takes tens of seconds on the software renderer; a refusal, none.
    EXPECT_LT(std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(), 5.0);

    std::ofstream(dir + "/broken.frag") << "uniform vec4 m[2];\nvoid main() { gl_FragColor = vec4(oops); }\n";
    const CommandResult bench = runCommand(TOOL + " bench --size 160x90 --frames 1 --shader " + dir + "/broken.frag");
    EXPECT_EQ(1, bench.status);
    EXPECT_NE(std::string::npos, bench.output.find("the shader " + dir + "/broken.frag does not compile"))
        << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("oops")) << bench.output;
    EXPECT_EQ(std::string::npos, bench.output.find("update the graphics driver")) << bench.output;

    const CommandResult zero = runCommand(MAKE_TRACK + " --seconds 0 " + dir + "/t.mp3");
    EXPECT_EQ(2, zero.status);
    EXPECT_NE(std::string::npos, zero.output.find("above 0")) << zero.output;
    EXPECT_EQ(std::string::npos, listing(dir).find("t.mp3"));
    const CommandResult missing = runCommand("cd " + dir + " && " + TOOL + " video --out v.mp4 --music /x/none.mp3");
    EXPECT_EQ(1, missing.status);
    EXPECT_NE(std::string::npos,
              missing.output.find("/x/none.mp3: No such file or directory (check the name and the folder)"))
        << missing.output;
    for (const std::string& program : {TOOL, MAKE_TRACK}) {
        const CommandResult version = runCommand(program + " --version");
        EXPECT_EQ(0, version.status) << program;
        EXPECT_NE(std::string::npos, version.output.find(" 1.")) << version.output;
    }
}

// Stills far smaller than their labels: each label stays under its own
// still, never running into the next one.
TEST(RenderTool, SheetLabelsOfTinyStillsStayInTheirCells)
{
    const std::string out = makeTempDir() + "/tiny.png";
    const CommandResult r = runCommand(TOOL + " sheet --size 16x9 --every 1 --out " + out);
    ASSERT_EQ(0, r.status) << r.output;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    ASSERT_TRUE(readPngRgb(out, width, height, rgb, &error)) << error;
    // Each label row is followed by a gap column of pure background between two cells.
    int blankColumns = 0;
    const int labelRow = 4 + 9 + 3 + 4; // the first row of cells: a label's middle
    for (int x = 0; x < width; ++x) {
        bool blank = true;
        for (int y = labelRow - 4; y < labelRow + 4; ++y) blank = blank && rgb[(size_t(y) * width + x) * 3] == 24;
        blankColumns += blank;
    }
    EXPECT_GE(blankColumns, 6 * 4) << "labels run into each other";
}

// `tracks` prints the shader's tracks at their defaults; given back with
// --tracks (the uniform route) every still draws bit for bit as the built-in
// program; a key changes the picture from its beat on and not before; a
// broken file is refused with exit 2 by every command, before any work.
TEST(RenderTool, TracksKeyEveryCommandAndTheirDefaultsDrawTheBuiltInPixels)
{
    const std::string dir = makeTempDir(), defaults = dir + "/defaults.txt";
    ASSERT_EQ(0, runCommand(TOOL + " tracks > " + defaults).status);
    const std::string sheet = TOOL + " sheet --size 160x90 --every 1 --out ";
    ASSERT_EQ(0, runCommand(sheet + dir + "/own.png").status);
    const CommandResult same = runCommand(sheet + dir + "/same.png --tracks " + defaults);
    ASSERT_EQ(0, same.status) << same.output;
    EXPECT_EQ(readBytes(dir + "/own.png"), readBytes(dir + "/same.png")) << "a still every beat, glitch included";

    // Beat 40 is at 27272.8 ms.
    const std::string keyed = dir + "/keyed.txt";
    std::ofstream(keyed) << "track tintRed\n0 1.1 step\n40 0.2 linear\n48 1.1 step\n";
    const std::string frame = TOOL + " frame --size 160x90 --out " + dir;
    for (const char* ms : {"27000", "27300"}) {
        ASSERT_EQ(0, runCommand(frame + "/own" + ms + ".png --ms " + ms).status);
        ASSERT_EQ(0, runCommand(frame + "/keyed" + ms + ".png --ms " + ms + " --tracks " + keyed).status);
    }
    EXPECT_EQ(loadPng(dir + "/own27000.png", 160, 90), loadPng(dir + "/keyed27000.png", 160, 90));
    EXPECT_NE(loadPng(dir + "/own27300.png", 160, 90), loadPng(dir + "/keyed27300.png", 160, 90));

    const CommandResult xml =
        runCommand(TOOL + " tracks --tracks " + keyed + " --export --rows-per-beat 4 > " + dir + "/keyed.rocket");
    ASSERT_EQ(0, xml.status) << xml.output;
    const CommandResult back = runCommand(TOOL + " tracks --rows-per-beat 4 --import " + dir + "/keyed.rocket");
    EXPECT_EQ(runCommand(TOOL + " tracks --tracks " + keyed).output, back.output);

    const std::string broken = dir + "/broken.txt";
    std::ofstream(broken) << "track tintRed\n0 1.1 step\n0 2 step\n";
    for (const std::string command : {" frame --ms 0 --out x.png", " sheet --out x.png", " icon --size 16 --out x.png",
                                      " bench", " video --out x.mp4", " tracks"}) {
        const CommandResult r = runCommand("cd " + dir + " && " + TOOL + command + " --tracks " + broken);
        EXPECT_EQ(2, r.status) << command << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(broken + ":3: track tintRed has two keys at beat 0")) << r.output;
    }
    const std::string shaders = dir + "/shaders";
    ASSERT_EQ(0,
              runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + shaders + " && sed -i " +
                         "'s|^uniform float tintBlue; // @track 1.0|uniform float tintRed; // @track 1.0|' " + shaders +
                         "/interface.glsl")
                  .status);
    const CommandResult twice = runCommand(TOOL + " tracks --shaders " + shaders);
    EXPECT_EQ(2, twice.status) << twice.output;
    EXPECT_NE(std::string::npos, twice.output.find("interface.glsl:14: track tintRed is declared twice"))
        << twice.output;
    EXPECT_EQ(
        "broken.txt\ndefaults.txt\nkeyed.rocket\nkeyed.txt\nkeyed27000.png\nkeyed27300.png\nown.png\n"
        "own27000.png\nown27300.png\nsame.png\nshaders\n",
        runCommand("ls -A " + dir).output)
        << "nothing is written for a refused track file";
}
