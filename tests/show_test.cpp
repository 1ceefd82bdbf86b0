// The show end to end: the real program on a real X server (Xvfb), with the
// silent audio fallback, as a user starts and stops it.
#include "image/for_tests.h"
#include "image/png_file.h"
#include "tests/show_fixture.h"

#include <cmath>
#include <cstdlib>

#include <sys/stat.h>

static const std::string SHOW = VANTROP_SHOW_PATH;
static const std::string SHOW_1080P = VANTROP_SHOW_1080P_PATH;
static const std::string MAKE_TRACK = VANTROP_MAKE_TRACK_PATH;

// The whole screen of an X display as RGB bytes, through a PNG file at `png`.
static std::vector<uint8_t> screenOf(const std::string& display, const std::string& png, int& width, int& height)
{
    std::vector<uint8_t> rgb;
    std::string error;
    EXPECT_EQ(0, runCommand("DISPLAY=" + display + " import -window root " + png).status)
        << "ImageMagick's import is needed";
    EXPECT_TRUE(readPngRgb(png, width, height, rgb, &error)) << error;
    return rgb;
}

class Show : public ShowOnXvfb {};
// Tests whose point is a bound in real time.
class ShowTiming : public ShowOnXvfb {};

TEST_F(Show, EndsByItselfWhenTheMusicHasPlayed)
{
    makeTrack(3);
    start(SHOW, {}, {"VANTROP_PROGRAM_LOG=" + dir + "/programs.log"});
    const int status = waitForExit(show, 30000);
    EXPECT_EQ(0, status) << log();
    EXPECT_GE(secondsSinceStart(), 3.0);
    expectDesktopBack();
    EXPECT_EQ("", programLogMismatches(VANTROP_RENDER_PATH, dir + "/programs.log"));
}

TEST_F(Show, EscapeEndsTheShowAlsoAsAQuickTap)
{
    makeTrack(60);
    for (const char* press : {"xdotool key Escape", "xdotool keydown Escape keyup Escape"}) {
        start(SHOW);
        waitForWindow();
        EXPECT_EQ(0, onDisplay(press).status);
        // Well before the minute of music is over.
        EXPECT_EQ(0, waitForExit(show, 15000)) << press << "\n" << log();
        expectDesktopBack();
    }
}

TEST_F(Show, SignalsEndTheShowAndRestoreTheDisplay)
{
    makeTrack(60);
    for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
        start(SHOW);
        waitForWindow();
        kill(show, signal);
        EXPECT_EQ(0, waitForExit(show, 15000)) << "signal " << signal << "\n" << log();
        expectDesktopBack();
    }
}

// A frame on Mesa's reference software rasterizer takes far longer than the
// grace a signal gives it: the show ends at once all the same.
TEST_F(ShowTiming, SignalsEndTheShowEvenInsideAnEndlessFrame)
{
    makeTrack(60);
    const std::vector<std::vector<int>> rounds = {{SIGTERM}, {SIGINT, SIGHUP}};
    for (const std::vector<int>& signals : rounds) {
        start(SHOW, {}, {"GALLIUM_DRIVER=softpipe"});
        // Inside the endless frame: one has begun and none other for a whole second
        // (the first may already be past 0 ms, and be the endless one).
        size_t begun = 0;
        Clock::time_point lastBegun = Clock::now();
        bool stuck = false;
        for (int i = 0; i < 1200 && !stuck && isRunning(show); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (const size_t now = framesBegun().size(); now != begun) {
                begun = now;
                lastBegun = Clock::now();
            }
            stuck = begun >= 1 && Clock::now() - lastBegun > std::chrono::seconds(1);
        }
        ASSERT_TRUE(stuck) << "no frame was begun, or none took a second\n" << log();
        const Clock::time_point sent = Clock::now();
        for (int signal : signals) {
            kill(show, signal);
            std::this_thread::sleep_for(std::chrono::milliseconds(200));
        }
        const int status = waitForExit(show, 10000);
        const double seconds = std::chrono::duration<double>(Clock::now() - sent).count();
        EXPECT_EQ(128 + signals.back(), status) << log();
        EXPECT_LT(seconds, signals.size() == 1 ? 4.0 : 1.5) << "signals " << signals.size();
        EXPECT_NE(std::string::npos, log().find("ended at once by signal")) << log();
        expectDesktopBack();
    }
}

TEST_F(Show, MissingMusicFailsBeforeTouchingTheScreen)
{
    start(SHOW);
    EXPECT_EQ(1, waitForExit(show, 30000));
    EXPECT_NE(std::string::npos, log().find("lomu_hmm.mp3: No such file or directory")) << log();
    expectDesktopBack();
    // Checked first: without a display the music is still what it names.
    const CommandResult r =
        runCommand("cd " + dir + " && env -u DISPLAY -u WAYLAND_DISPLAY timeout -s KILL 20 " + SHOW);
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos, r.output.find("cannot open the music file lomu_hmm.mp3")) << r.output;
    // The ways out: the file, --music, the placeholder maker; a named file only needs checking.
    for (const char* fix :
         {"put lomu_hmm.mp3 in the folder you start from", "--music FILE", "vantrop-make-track lomu_hmm.mp3"})
        EXPECT_NE(std::string::npos, r.output.find(fix)) << r.output;
    const CommandResult named = runCommand("cd " + dir + " && timeout -s KILL 20 " + SHOW + " --music absent.mp3");
    EXPECT_EQ(1, named.status);
    EXPECT_NE(std::string::npos, named.output.find("absent.mp3: No such file or directory (check the name"))
        << named.output;
    EXPECT_EQ(std::string::npos, named.output.find("put lomu_hmm.mp3")) << named.output;
}

// Without a desktop session the show refuses at once instead of drawing
// unseen through SDL's invisible drivers.
TEST_F(Show, NoDisplayIsRefusedWithAMessage)
{
    makeTrack(1);
    for (const std::string& environment :
         {std::string("env -u DISPLAY -u WAYLAND_DISPLAY"), std::string("env -u WAYLAND_DISPLAY DISPLAY=:7654"),
          std::string("env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_RUNTIME_DIR"),
          "env DISPLAY=" + x.display + " SDL_VIDEODRIVER=offscreen",
          "env DISPLAY=" + x.display + " SDL_VIDEODRIVER=dummy"}) {
        const CommandResult r = runCommand("cd " + dir + " && " + environment + " timeout -s KILL 20 " + SHOW);
        EXPECT_EQ(1, r.status) << environment << "\n" << r.output;
        EXPECT_NE(std::string::npos, r.output.find("vantrop: no display to show on")) << environment << "\n"
                                                                                      << r.output;
        // One line of ours: no library's own complaint, no other system's words.
        EXPECT_EQ(std::string::npos, r.output.find("XDG_RUNTIME_DIR")) << r.output;
        EXPECT_EQ(std::string::npos, r.output.find("Windows")) << r.output;
    }
}

TEST_F(Show, CommandLine)
{
    CommandResult r = runCommand("timeout -s KILL 20 " + SHOW + " --help");
    EXPECT_EQ(0, r.status);
    EXPECT_NE(std::string::npos, r.output.find("Usage: vantrop [--music FILE]")) << r.output;
    r = runCommand(SHOW + " --version");
    EXPECT_EQ(0, r.status);
    EXPECT_EQ(0u, r.output.find("vantrop 1.")) << r.output;
    for (const char* wrong : {" --bogus", " --music", " extra"}) {
        r = runCommand("cd " + dir + " && timeout -s KILL 20 " + SHOW + wrong);
        EXPECT_EQ(2, r.status) << wrong << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("see 'vantrop --help'")) << r.output;
    }
    // --music plays another file, to its end.
    ASSERT_EQ(0, runCommand(MAKE_TRACK + " --seconds 2 " + dir + "/other.mp3").status);
    start(SHOW, {"--music", "other.mp3"});
    EXPECT_EQ(0, waitForExit(show, 30000)) << log();
    EXPECT_GE(secondsSinceStart(), 2.0);
    // --schedule: a sound file times the show (packed from the readable
    // shaders); a broken one is refused before any window, by the studio too.
    const std::string render = VANTROP_RENDER_PATH, studio = VANTROP_STUDIO_PATH;
    ASSERT_EQ(0, runCommand(render + " schedule > " + dir + "/good.txt").status);
    ASSERT_EQ(0,
              runCommand("sed 's/^FINALE_FULL_BEAT = 84/FINALE_FULL_BEAT = 79/' " + dir + "/good.txt > " + dir +
                         "/broken.txt")
                  .status);
    start(SHOW, {"--music", "other.mp3", "--schedule", dir + "/good.txt"});
    EXPECT_EQ(0, waitForExit(show, 30000)) << log();
    for (const std::string& program : {SHOW, studio}) {
        r = runCommand("cd " + dir + " && env -u DISPLAY timeout -s KILL 20 " + program + " --schedule broken.txt");
        EXPECT_EQ(2, r.status) << program << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("broken.txt:")) << r.output;
        EXPECT_NE(std::string::npos, r.output.find("FINALE_FULL_BEAT (79) must come after FINALE_START_BEAT (80)"))
            << r.output;
    }
    std::ofstream(dir + "/keys.txt") << "track tintRed\n0 red step\n";
    for (const std::string& program : {SHOW, studio}) {
        r = runCommand("cd " + dir + " && env -u DISPLAY timeout -s KILL 20 " + program + " --tracks keys.txt");
        EXPECT_EQ(2, r.status) << program << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("keys.txt:2: the value must be a finite number")) << r.output;
    }
    r = runCommand("cd " + dir + " && env -u DISPLAY timeout -s KILL 20 " + SHOW + " --music " + dir + "/absent.mp3");
    EXPECT_EQ(1, r.status);
    EXPECT_NE(std::string::npos,
              r.output.find(dir + "/absent.mp3: No such file or directory (check the name and the folder)"))
        << r.output;
}

// Started from the desktop's menu (in the home folder, --message-box): the
// show finds its track in $XDG_DATA_HOME/vantrop; without one anywhere, the
// show says both places and the ways out, in a message box too (the studio
// then plays silence), and the studio names a track it was given and cannot open.
TEST_F(Show, MenuStartFindsItsMusicAndTellsFailuresInABox)
{
    const std::string home = dir + "/home", data = dir + "/data";
    ASSERT_EQ(0, runCommand("mkdir -p " + home + " " + data + "/vantrop").status);
    ASSERT_EQ(0, runCommand(MAKE_TRACK + " --seconds 2 " + data + "/vantrop/lomu_hmm.mp3").status);
    start(SHOW, {"--message-box"}, {"XDG_DATA_HOME=" + data}, home);
    EXPECT_EQ(0, waitForExit(show, 30000)) << log();

    for (const std::string& program : {SHOW, std::string(VANTROP_STUDIO_PATH)}) {
        const std::string title = program == SHOW ? "vantrop could not start" : "vantrop-studio could not start";
        const bool studio = program != SHOW;
        start(program,
              studio ? std::vector<std::string>{"--message-box", "--music", "lomu_hmm.mp3"}
                     : std::vector<std::string>{"--message-box"},
              {"XDG_DATA_HOME=" + home}, home);
        // SDL's message box names no class xdotool searches by: its window is found by its title.
        std::string box;
        for (int i = 0; i < 200 && box.empty(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            box = onDisplay("xwininfo -root -tree | awk '/\"" + title + "\"/ { print $1 }'").output;
        }
        ASSERT_FALSE(box.empty()) << program << ": no message box (it needs the X fonts of xfonts-base)\n" << log();
        EXPECT_TRUE(isRunning(show)) << "the box waits for the user";
        // The message is wrapped: the box lies on the 1600x900 screen.
        const std::string geometry = onDisplay("xwininfo -id " + box.substr(0, box.find('\n'))).output;
        auto field = [&](const std::string& name) {
            const size_t at = geometry.find(name);
            return at == std::string::npos ? -1 : std::atoi(geometry.c_str() + at + name.size());
        };
        EXPECT_GE(field("Absolute upper-left X:"), 0) << geometry;
        EXPECT_LE(field("Width:"), DESKTOP_WIDTH) << geometry;
        onDisplay("xdotool key --window " + box.substr(0, box.find('\n')) + " Return");
        EXPECT_EQ(1, waitForExit(show, 5000)) << "closing the box ends the program";
        const std::string said = log();
        std::vector<std::string> parts = {"cannot open the music file lomu_hmm.mp3"};
        if (!studio)
            parts.insert(parts.end(),
                         {"in the folder you start from or in " + home + "/vantrop", "--music FILE",
                          "vantrop-make-track lomu_hmm.mp3"});
        for (const std::string& part : parts) EXPECT_NE(std::string::npos, said.find(part)) << program << ": " << said;
    }
    expectDesktopBack();
}

// The four programs share one set of rules: a repeated option, a size that
// is not 16:9 and --help mean the same in each, with the same exit statuses.
TEST(CommandLine, SameRulesInEveryProgram)
{
    const std::string studio = VANTROP_STUDIO_PATH;
    for (const std::string& program : {SHOW, studio, MAKE_TRACK, std::string(VANTROP_RENDER_PATH) + " frame"}) {
        const std::string name = program.substr(program.rfind('/') + 1);
        EXPECT_EQ(0, runCommand(program + " --help").status) << name;
        const std::string twice = name.rfind("vantrop-make-track", 0) == 0 ? " --seconds 1 --seconds 2 x.mp3"
            : name == "vantrop"                                            ? " --music a.mp3 --music b.mp3"
                                                                           : " --size 320x180 --size 320x180";
        const CommandResult r = runCommand(program + twice);
        EXPECT_EQ(2, r.status) << name << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("is given twice; give it once (see '" + name + " --help')"))
            << r.output;
    }
    for (const std::string& program : {studio, std::string(VANTROP_RENDER_PATH) + " frame --ms 0 --out x.png"}) {
        const CommandResult r = runCommand(program + " --size 100x100");
        EXPECT_EQ(2, r.status) << program << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find("the show is framed for 16:9")) << r.output;
    }
}

// A screen without the build's mode keeps its own: the show plays to its
// end full screen, its picture scaled to fit, and says so.
TEST_F(Show, FullHdBuildOnASmallerScreenPlaysScaledToFit)
{
    makeTrack(3);
    start(SHOW_1080P);
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();
    EXPECT_NE(std::string::npos, log().find("the display has no 1920x1080 mode")) << log();
    EXPECT_NE(std::string::npos, log().find("scaled to the desktop's 1600x900")) << log();
    expectDesktopBack();
}

TEST_F(Show, ScreenshotIsTheFullScreenPicture)
{
    makeTrack(60);
    start(SHOW);
    waitForWindow();
    // The picture has faded in by 5.5 s of music.
    waitForPosition(6000);
    int width = 0, height = 0;
    const std::vector<uint8_t> rgb = screenOf(x.display, dir + "/shot.png", width, height);
    ASSERT_EQ(1280, width);
    ASSERT_EQ(720, height);
    // Every quarter of the screen and every edge band shows the lattice: no
    // black picture, no offset window leaving a band of desktop.
    auto meanOf = [&](int x0, int y0, int x1, int y1) {
        double sum = 0;
        for (int y = y0; y < y1; ++y)
            for (int xx = x0; xx < x1; ++xx)
                for (int c = 0; c < 3; ++c) sum += rgb[(size_t(y) * width + xx) * 3 + c];
        return sum / double((x1 - x0) * (y1 - y0) * 3);
    };
    EXPECT_GT(meanOf(0, 0, 640, 360), 10.0);
    EXPECT_GT(meanOf(640, 0, 1280, 360), 10.0);
    EXPECT_GT(meanOf(0, 360, 640, 720), 10.0);
    EXPECT_GT(meanOf(640, 360, 1280, 720), 10.0);
    EXPECT_GT(meanOf(0, 40, 40, 680), 2.0) << "left band";
    EXPECT_GT(meanOf(1240, 40, 1280, 680), 2.0) << "right band";
    EXPECT_GT(meanOf(40, 0, 1240, 40), 2.0) << "top band";
    EXPECT_GT(meanOf(40, 680, 1240, 720), 2.0) << "bottom band";
    kill(show, SIGTERM);
    EXPECT_EQ(0, waitForExit(show, 15000));
}

// Without EGL (no vendor library here) vantrop-render draws in a hidden
// window of the X server instead: the same pixels as through EGL.
TEST_F(Show, RenderWithoutEglUsesAHiddenWindowAndDrawsTheSamePixels)
{
    const std::string render = VANTROP_RENDER_PATH;
    const std::string frame = " frame --ms 27000 --size 160x90 --out ";
    ASSERT_EQ(0, runCommand(render + frame + dir + "/egl.png").status);
    std::string noEgl = "__EGL_VENDOR_LIBRARY_FILENAMES=/nonexistent.json ";
#ifdef VANTROP_SHOW_PRELOAD
    noEgl += std::string("LD_PRELOAD=") + VANTROP_SHOW_PRELOAD + " "; // GLX's driver, as for the show
#endif
    const CommandResult r = onDisplay(noEgl + render + frame + dir + "/window.png");
    ASSERT_EQ(0, r.status) << r.output;
    EXPECT_EQ(0, runCommand("cmp " + dir + "/egl.png " + dir + "/window.png").status);
    const CommandResult bench = onDisplay(noEgl + render + " bench --frames 1 --size 160x90 --ms 1000");
    EXPECT_NE(std::string::npos, bench.output.find("renderer: llvmpipe")) << bench.output;
}

// The picture as a grid of cell means (factor x factor pixels each), for
// comparing pictures of different sizes.
static std::vector<double> cellMeans(const std::vector<uint8_t>& rgb, int width, int height, int factor)
{
    std::vector<double> cells(size_t(width / factor) * size_t(height / factor) * 3, 0.0);
    for (int y = 0; y < height / factor * factor; ++y)
        for (int x = 0; x < width / factor * factor; ++x)
            for (int c = 0; c < 3; ++c)
                cells[(size_t(y / factor) * size_t(width / factor) + size_t(x / factor)) * 3 + size_t(c)] +=
                    rgb[(size_t(y) * size_t(width) + size_t(x)) * 3 + size_t(c)] / double(factor * factor);
    return cells;
}

static double meanDifference(const std::vector<double>& a, const std::vector<double>& b)
{
    double sum = 0;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i) sum += std::fabs(a[i] - b[i]);
    return a.size() == b.size() ? sum / double(a.size()) : 1e9;
}

class ShowWithoutItsMode : public ShowOnXvfb {
protected:
    ShowWithoutItsMode()
    {
        withShowMode = false;
    }
    // The whole 1600x900 screen, scaled back, is the frame vantrop-render
    // draws at one of the last positions the show began, and a frame 3 s
    // away matches it at least twice worse.
    // With `options` (such as --tracks FILE) vantrop-render draws as the
    // show was told to, and its frame without them matches worse too.
    void expectScreenShowsAFrameTheShowDrew(const std::string& options = "")
    {
        const std::vector<std::string> before = framesBegun();
        int width = 0, height = 0;
        const std::vector<uint8_t> rgb = screenOf(x.display, dir + "/shot.png", width, height);
        ASSERT_EQ(1600, width);
        std::string error;
        const std::vector<double> shown = cellMeans(rgb, width, height, 20);
        double best = 1e9, far = 0, plain = 0;
        for (size_t back = 1; back <= 3 && back <= before.size(); ++back) {
            const std::string& line = before[before.size() - back];
            const uint32_t ms = uint32_t(std::strtoul(line.substr(line.find(' ') + 1).c_str(), nullptr, 10));
            for (const uint32_t at : {ms, ms + 3000, ms + 1}) {
                const std::string png = dir + "/frame.png";
                // The last: the same moment without the options.
                ASSERT_EQ(0,
                          runCommand(std::string(VANTROP_RENDER_PATH) + " frame --force --size 1280x720 --ms " +
                                     std::to_string(at == ms + 1 ? ms : at) + " --out " + png +
                                     (at == ms + 1 ? "" : options))
                              .status);
                std::vector<uint8_t> drawn;
                ASSERT_TRUE(readPngRgb(png, width, height, drawn, &error)) << error;
                const double difference = meanDifference(shown, cellMeans(drawn, width, height, 16));
                if (at == ms) best = std::min(best, difference);
                if (at == ms + 3000) far = std::max(far, difference);
                if (at == ms + 1) plain = std::max(plain, difference);
            }
        }
        EXPECT_LT(best, 4.0) << "the screen shows the frame the show drew, scaled";
        EXPECT_LT(best * 2, far) << "a frame 3 s away matches worse";
        if (!options.empty()) {
            EXPECT_LT(best * 2, plain) << "the frame drawn without" << options << " matches worse";
        }
    }
};

// On a screen whose only mode is 1600x900 the show plays to its end at that
// mode, its 1280x720 picture scaled to the whole screen: a screenshot,
// scaled back, is the frame vantrop-render draws at a moment the show drew.
// In a window the picture keeps 16:9 in a window of any shape.
TEST_F(ShowWithoutItsMode, PlaysScaledToTheScreenOrAWindow)
{
    makeTrack(12);
    start(SHOW);
    waitForPosition(6000);
    expectScreenShowsAFrameTheShowDrew();
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();
    EXPECT_NE(std::string::npos, log().find("the display has no 1280x720 mode")) << log();
    expectDesktopBack();

    start(SHOW, {"--window"});
    waitForWindow();
    ASSERT_EQ(0, onDisplay("xdotool search --name '^vantrop$' windowsize --sync 800 600").status);
    waitForPosition(4000);
    const std::string window = dir + "/window.png";
    const std::string id = onDisplay("xdotool search --name '^vantrop$'").output;
    ASSERT_EQ(0, onDisplay("import -window " + id.substr(0, id.find('\n')) + " " + window).status);
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
    std::string error;
    ASSERT_TRUE(readPngRgb(window, width, height, rgb, &error)) << error;
    ASSERT_EQ(800, width);
    const std::vector<double> bands = cellMeans(rgb, width, height, 25);
    auto rowMean = [&](int row) {
        double sum = 0;
        for (int x = 0; x < width / 25 * 3; ++x) sum += bands[size_t(row) * size_t(width / 25) * 3 + size_t(x)];
        return sum / (width / 25 * 3);
    };
    EXPECT_LT(rowMean(0), 1.0) << "black above the 16:9 picture (800x450 of 800x600)";
    EXPECT_LT(rowMean(height / 25 - 1), 1.0) << "and below it";
    EXPECT_GT(rowMean(height / 25 / 2), 10.0) << "the picture between";
    onDisplay("xdotool search --name '^vantrop$' key Escape");
    EXPECT_EQ(0, waitForExit(show, 30000)) << log();
    expectDesktopBack();
}

// Keyed by a track file (the tint turned blue), the show draws what
// vantrop-render draws with it at a moment the show drew.
TEST_F(ShowWithoutItsMode, TracksKeyTheShowAsTheyKeyTheTools)
{
    makeTrack(8);
    const std::string tracks = dir + "/blue.txt";
    std::ofstream(tracks) << "track tintRed\n0 0.1 step\ntrack tintBlue\n0 1.2 linear\n8 3 step\n";
    start(SHOW, {"--tracks", tracks});
    waitForPosition(6000);
    expectScreenShowsAFrameTheShowDrew(" --tracks " + tracks);
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();
}

// A Wayland session: the show and the studio, with no X display to fall
// back on, play through SDL's Wayland driver. weston runs with its X11
// backend on the test's Xvfb rather than its headless one, which has no
// seat: SDL 2.26 crashes on a compositor without a keyboard or pointer.
// Left out of the sanitizer suite: SDL's Wayland driver and libdecor leave
// allocations at exit, one in a module unloaded by then, which no leak
// suppression can name.
TEST_F(ShowWithoutItsMode, PlaysInAWaylandSession)
{
    makeTrack(8);
    const std::string runtime = makeTempDir();
    const pid_t weston = spawnProcess({"weston", "--backend=x11-backend.so", "--use-pixman", "--width=1600",
                                       "--height=900", "--socket=vantrop-test", "--idle-time=0"},
                                      dir, {"DISPLAY=" + x.display, "XDG_RUNTIME_DIR=" + runtime}, dir + "/weston.log");
    const ProcessGuard westonGuard{weston};
    struct stat socket {};
    for (int i = 0; i < 200 && stat((runtime + "/vantrop-test").c_str(), &socket) != 0; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(0, stat((runtime + "/vantrop-test").c_str(), &socket)) << "weston (Debian package weston) did not start";
    const std::vector<std::string> wayland = {"DISPLAY", "WAYLAND_DISPLAY=vantrop-test", "XDG_RUNTIME_DIR=" + runtime};
    start(SHOW, {}, wayland);
    waitForPosition(4000);
    expectScreenShowsAFrameTheShowDrew();
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();

    // The studio draws its first frame (a line in the program log per frame) and closes on SIGTERM.
    const std::string drawn = dir + "/studio-frames.log";
    std::vector<std::string> studio = wayland;
    studio.push_back("VANTROP_PROGRAM_LOG=" + drawn);
    start(VANTROP_STUDIO_PATH, {"--paused", "--from", "4000", "--size", "320x180"}, studio);
    auto linesIn = [](const std::string& path) {
        std::ifstream in(path);
        return std::count(std::istreambuf_iterator<char>(in), {}, '\n');
    };
    for (int i = 0; i < 600 && linesIn(drawn) == 0 && isRunning(show); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_GT(linesIn(drawn), 0) << "the studio drew no frame\n" << log();
    kill(show, SIGTERM);
    EXPECT_EQ(0, waitForExit(show, 15000)) << log();
}
