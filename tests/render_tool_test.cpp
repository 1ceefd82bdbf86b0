// The vantrop-render command line, run as a user runs it.
#include "tests/process.h"
#include "tools/png_file.h"

#include <gtest/gtest.h>

static const std::string TOOL = VANTROP_RENDER_PATH;

TEST(RenderTool, ParamsPrintsExactSlotsForTheScheduleEdges)
{
    const CommandResult r = runCommand(TOOL + " params 0 35454 35455 40909 40910 41500");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ("ms time finale glitch spare beat hit warp pulseGain\n"
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
        EXPECT_NE(std::string::npos, r.output.find("usage: vantrop-render")) << args;
    }
    for (const char* args : {"", " params", " params -5", " params 4294967296", " params 12abc", " nonsense",
                             " frame --out x.png", " frame --ms 5", " frame --ms 5 --size 100x100 --out x.png",
                             " frame --ms"}) {
        const CommandResult r = runCommand(TOOL + args);
        EXPECT_EQ(2, r.status) << args << ": " << r.output;
        EXPECT_FALSE(r.output.empty()) << args;
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

// Frame n of a video, decoded by ffmpeg into a PNG.
static std::vector<uint8_t> videoFrame(const std::string& video, int n, const std::string& dir)
{
    const std::string png = dir + "/video" + std::to_string(n) + ".png";
    const CommandResult r = runCommand("ffmpeg -v error -y -i " + video + " -vf 'select=eq(n\\," + std::to_string(n) +
                                       ")' -frames:v 1 " + png);
    EXPECT_EQ(0, r.status) << r.output;
    return loadPng(png, 160, 90);
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
    const CommandResult r = runCommand("cd " + dir + " && " + TOOL + " video --out " + video +
                                       " --size 160x90 --fps 10 --to 2000");
    ASSERT_EQ(0, r.status) << r.output;
    const CommandResult probe = runCommand("ffprobe -v error -count_frames -show_entries "
                                           "stream=codec_type,nb_read_frames,width,height:format=duration -of "
                                           "default=noprint_wrappers=1 " + video);
    ASSERT_EQ(0, probe.status) << "ffprobe (Debian package ffmpeg) is needed: " << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("codec_type=video\nwidth=160\nheight=90\nnb_read_frames=20\n"))
        << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("codec_type=audio")) << probe.output;
    EXPECT_NE(std::string::npos, probe.output.find("duration=2.0")) << probe.output;
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
    EXPECT_EQ("nb_read_frames=6\n", runCommand("ffprobe -v error -count_frames -select_streams v -show_entries "
                                               "stream=nb_read_frames -of default=noprint_wrappers=1 " + video)
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
    const CommandResult noFfmpeg = runCommand("cd " + dir + " && PATH=/nonexistent " + TOOL +
                                              " video --out x.mp4 --size 160x90 --to 500");
    EXPECT_EQ(1, noFfmpeg.status);
    EXPECT_NE(std::string::npos, noFfmpeg.output.find("ffmpeg program was not found")) << noFfmpeg.output;
    const CommandResult unwritable = runCommand("cd " + dir + " && " + TOOL +
                                                " video --out /nonexistent/x.mp4 --size 160x90 --to 500");
    EXPECT_EQ(1, unwritable.status);
    EXPECT_NE(std::string::npos, unwritable.output.find("cannot write /nonexistent/x.mp4")) << unwritable.output;
    const CommandResult silent = runCommand("cd /tmp && " + TOOL + " video --out " + dir +
                                            "/silent.mp4 --size 160x90 --fps 5 --to 400");
    EXPECT_EQ(0, silent.status) << silent.output;
    EXPECT_NE(std::string::npos, silent.output.find("silent")) << silent.output;
    for (const char* args : {" --size 160x90", " --out x.mp4 --fps 0", " --out x.mp4 --from 900 --to 100",
                             " --out x.mp4 --size 16x9"}) {
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
    const CommandResult bench = runCommand(TOOL + " bench --size 160x90 --frames 2 --ms 41500 66000");
    ASSERT_EQ(0, bench.status) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("renderer: ")) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("   41500   60.87")) << bench.output;
    EXPECT_NE(std::string::npos, bench.output.find("median over positions")) << bench.output;
}
