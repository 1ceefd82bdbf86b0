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

TEST(RenderTool, FrameWritesAnRgbPng)
{
    const std::string out = makeTempDir() + "/frame.png";
    const CommandResult r = runCommand(TOOL + " frame --ms 41500 --size 160x90 --out " + out);
    ASSERT_EQ(0, r.status) << r.output;
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    ASSERT_TRUE(readPngRgb(out, width, height, rgb, &error)) << error;
    EXPECT_EQ(160, width);
    EXPECT_EQ(90, height);
    size_t bright = 0;
    for (uint8_t v : rgb) bright += v > 40;
    EXPECT_GT(bright, rgb.size() / 8);
    const CommandResult unwritable = runCommand(TOOL + " frame --ms 0 --size 160x90 --out /nonexistent/dir/f.png");
    EXPECT_EQ(1, unwritable.status);
    EXPECT_NE(std::string::npos, unwritable.output.find("/nonexistent/dir/f.png")) << unwritable.output;
}
