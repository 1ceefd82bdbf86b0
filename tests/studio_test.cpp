// vantrop-studio end to end: the real program in a window on its own Xvfb,
// driven with xdotool, its pixels compared with vantrop-render's frames.
#include "image/png_file.h"
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

static const std::string STUDIO = VANTROP_STUDIO_PATH;
static const std::string RENDER = VANTROP_RENDER_PATH;
static const std::string MAKE_TRACK = VANTROP_MAKE_TRACK_PATH;

class Studio : public testing::Test {
protected:
    void SetUp() override
    {
        x = startXvfb(800, 600);
        ASSERT_FALSE(x.display.empty()) << "Xvfb (Debian package xvfb) could not be started";
        dir = makeTempDir();
        ASSERT_EQ(0, runCommand(MAKE_TRACK + " --seconds 20 " + dir + "/lomu_hmm.mp3").status);
    }
    void TearDown() override
    {
        if (studio > 0 && isRunning(studio)) {
            kill(studio, SIGKILL);
            waitForExit(studio, 2000);
        }
        stopXvfb(x);
    }
    void start(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), STUDIO);
        std::vector<std::string> environment = {"DISPLAY=" + x.display};
#ifdef VANTROP_SHOW_PRELOAD
        environment.push_back(std::string("LD_PRELOAD=") + VANTROP_SHOW_PRELOAD);
#endif
        studio = spawnProcess(arguments, dir, environment, dir + "/studio.log");
        ASSERT_GT(studio, 0);
        for (int i = 0; i < 200 && window.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            const CommandResult r = onDisplay("xdotool search --name vantrop-studio");
            if (r.status == 0) window = r.output.substr(0, r.output.find('\n'));
        }
        ASSERT_FALSE(window.empty()) << "the studio opened no window\n" << log();
        std::this_thread::sleep_for(std::chrono::milliseconds(800));
    }
    CommandResult onDisplay(const std::string& command) const
    {
        return runCommand("DISPLAY=" + x.display + " " + command);
    }
    void key(const std::string& keys)
    {
        ASSERT_EQ(0, onDisplay("xdotool key --window " + window + " " + keys).status);
        std::this_thread::sleep_for(std::chrono::milliseconds(700));
    }
    std::string log() const
    {
        std::ifstream in(dir + "/studio.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // The window's title: "vantrop-studio  m:ss.mmm  beat ..."; its position in milliseconds.
    uint32_t titlePosition()
    {
        const std::string title = onDisplay("xdotool getwindowname " + window).output;
        unsigned minutes = 0, seconds = 0, ms = 0;
        if (std::sscanf(title.c_str(), "vantrop-studio  %u:%u.%u", &minutes, &seconds, &ms) != 3) {
            ADD_FAILURE() << "title: " << title;
            return 0;
        }
        return minutes * 60000 + seconds * 1000 + ms;
    }
    std::vector<uint8_t> screenshot(int width, int height)
    {
        const std::string shot = dir + "/shot.png";
        EXPECT_EQ(0, onDisplay("import -window " + window + " " + shot).status) << "ImageMagick's import is needed";
        return readRgb(shot, width, height);
    }
    std::vector<uint8_t> frame(uint32_t ms, int width, int height)
    {
        const std::string png = dir + "/frame.png";
        const std::string size = std::to_string(width) + "x" + std::to_string(height);
        EXPECT_EQ(
            0, runCommand(RENDER + " frame --ms " + std::to_string(ms) + " --size " + size + " --out " + png).status);
        return readRgb(png, width, height);
    }
    static std::vector<uint8_t> readRgb(const std::string& path, int width, int height)
    {
        int w = 0, h = 0;
        std::vector<uint8_t> rgb;
        std::string error;
        EXPECT_TRUE(readPngRgb(path, w, h, rgb, &error)) << error;
        EXPECT_EQ(width, w);
        EXPECT_EQ(height, h);
        return rgb;
    }

    XServer x;
    std::string dir, window;
    pid_t studio = -1;
};

// Paused, the window shows exactly the frame the show draws there; a bar
// ahead is 4 beats of 681.82 ms later; play and pause again hold the place.
TEST_F(Studio, ShowsTheShowsFrameAndStepsByBars)
{
    start({"--size", "320x180", "--paused", "--from", "10000"});
    key("Tab"); // the overlay off: the bare picture
    EXPECT_TRUE(screenshot(320, 180) == frame(10000, 320, 180));
    key("shift+Right");
    EXPECT_EQ(12727u, titlePosition());
    EXPECT_TRUE(screenshot(320, 180) == frame(12727, 320, 180));
    key("Left");
    EXPECT_EQ(12045u, titlePosition());
    key("space space");
    const uint32_t after = titlePosition();
    EXPECT_GE(after, 12045u);
    EXPECT_LT(after, 12045u + 1000u) << "Space twice holds the music where it was";
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(after, titlePosition()) << "paused again";
    key("Escape");
    EXPECT_EQ(0, waitForExit(studio, 5000)) << log();
}

TEST_F(Studio, LoopOfOneBarWraps)
{
    start({"--size", "160x90", "--from", "10000", "--loop", "10000", "12727"});
    uint32_t previous = titlePosition(), wraps = 0;
    for (int i = 0; i < 40; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        const uint32_t now = titlePosition();
        EXPECT_GE(now, 10000u);
        EXPECT_LE(now, 12727u + 300u);
        wraps += now < previous;
        previous = now;
    }
    EXPECT_GE(wraps, 1u) << "six seconds of a 2.7 s loop";
}

// An edit of a copy of the shaders changes the picture; a broken edit keeps
// it and names the readable file and line.
TEST_F(Studio, ShaderEditsReloadAndBrokenOnesAreNamed)
{
    ASSERT_EQ(0, runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + dir + "/shaders").status);
    start({"--size", "320x180", "--paused", "--from", "15000", "--shaders", dir + "/shaders"});
    key("Tab");
    const auto before = screenshot(320, 180);
    EXPECT_TRUE(before == frame(15000, 320, 180));
    ASSERT_EQ(0,
              runCommand("sed -i 's/vec3(1.1, 1.0, 1.0)/vec3(0.2, 1.0, 1.0)/' " + dir + "/shaders/main.glsl").status);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const auto edited = screenshot(320, 180);
    EXPECT_FALSE(edited == before) << "the edit did not reach the picture\n" << log();
    ASSERT_EQ(
        0,
        runCommand("sed -i '49s/colour \\*= litFactor;/colour *= litFactor + oops;/' " + dir + "/shaders/shading.glsl")
            .status);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_NE(std::string::npos, log().find("shading.glsl:49")) << log();
    EXPECT_TRUE(screenshot(320, 180) == edited) << "a broken edit must keep the last good picture";
}

TEST_F(Studio, ResizedWindowRedrawsAtItsSize)
{
    start({"--size", "320x180", "--paused", "--from", "18000"});
    key("Tab");
    ASSERT_EQ(0, onDisplay("xdotool windowsize " + window + " 480 270").status);
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_TRUE(screenshot(480, 270) == frame(18000, 480, 270));
}

// The README's table of keys is the program's own.
TEST(StudioHelp, ReadmeKeysAreTheProgramsOwn)
{
    const CommandResult help = runCommand(STUDIO + " --help");
    ASSERT_EQ(0, help.status);
    std::ifstream readme(std::string(VANTROP_SOURCE_DIR) + "/README.md");
    std::string line;
    std::set<std::string> readmeKeys, helpKeys;
    bool inTable = false;
    while (std::getline(readme, line)) {
        if (line.rfind("| studio key |", 0) == 0)
            inTable = true;
        else if (inTable && line.rfind("|", 0) != 0)
            break;
        if (inTable && line.rfind("| `", 0) == 0) readmeKeys.insert(line.substr(3, line.find('`', 3) - 3));
    }
    // The help's key lines: "  KEYS   what they do", after "keys:".
    std::istringstream text(help.output.substr(help.output.find("keys:")));
    while (std::getline(text, line))
        if (line.size() > 2 && line[2] != ' ' && line.rfind("  ", 0) == 0)
            helpKeys.insert(line.substr(2, line.find("  ", 2) - 2));
    EXPECT_EQ(helpKeys, readmeKeys) << "README's table of studio keys against vantrop-studio --help";
    EXPECT_GE(readmeKeys.size(), 12u);
}
