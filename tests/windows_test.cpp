// The Windows build as a Windows user runs it: the cross-built programs
// under Wine, on a real X server (Xvfb) and the same Mesa as the Linux
// build, with a sound path that ends in ALSA's null device.
#include "image/for_tests.h"
#include "image/png_file.h"
#include "tests/show_fixture.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <set>

static const std::string WINDOWS_BUILD = VANTROP_WINDOWS_BUILD;
static const std::string WINE_PREFIX = VANTROP_WINE_PREFIX;
static const std::string LINUX_RENDER = VANTROP_RENDER_PATH;

class WindowsBuild : public ShowOnXvfb {
protected:
    void SetUp() override
    {
        ShowOnXvfb::SetUp();
        clockLogFolder = "Z:"; // Wine's drive for the Unix root
        // Wine's sound goes through ALSA; without a sound card its default device is a null one.
        std::FILE* alsa = std::fopen((dir + "/alsa.conf").c_str(), "w");
        ASSERT_NE(nullptr, alsa);
        std::fputs("pcm.!default { type null }\n", alsa);
        std::fclose(alsa);
    }
    // Wine's desktop process keeps the X server it started on: the next
    // test, on an X server of its own, must find none running.
    void TearDown() override
    {
        ShowOnXvfb::TearDown();
        runCommand("WINEPREFIX=" + WINE_PREFIX + " wineserver -k; WINEPREFIX=" + WINE_PREFIX + " wineserver -w");
    }
    std::vector<std::string> wineEnvironment() const
    {
        return {"WINEPREFIX=" + WINE_PREFIX, "WINEDEBUG=fixme-all",
                "WINEDLLOVERRIDES=mscoree,mshtml=", "ALSA_CONFIG_PATH=" + dir + "/alsa.conf"};
    }
    void startWindows(const std::string& program, std::vector<std::string> arguments = {})
    {
        arguments.insert(arguments.begin(), WINDOWS_BUILD + "/" + program);
        start("wine", arguments, wineEnvironment());
    }
    CommandResult runWindows(const std::string& commandLine, const std::string& extra = "") const
    {
        return runWine(WINDOWS_BUILD + "/" + commandLine, extra);
    }
    // Runs a Windows program given by its Unix path, in the test's folder; `extra` goes into its environment.
    CommandResult runWine(const std::string& commandLine, const std::string& extra = "") const
    {
        std::string environment;
        for (const std::string& entry : wineEnvironment()) environment += entry + " ";
        return runCommand("cd " + dir + " && env DISPLAY=" + x.display + " " + environment + extra +
                          " timeout -s KILL 60 wine " + commandLine);
    }
    // Copies these programs of the build (and the stand-in ffmpeg.exe when
    // asked) into dir/bin, as they lie together in the zip.
    void programsTogether(const std::vector<std::string>& programs, bool withFfmpeg)
    {
        std::string command = "mkdir -p " + dir + "/bin";
        for (const std::string& program : programs)
            command += " && cp " + WINDOWS_BUILD + "/" + program + " " + dir + "/bin/";
        if (withFfmpeg) command += " && cp " + std::string(VANTROP_FFMPEG_STANDIN) + " " + dir + "/bin/";
        ASSERT_EQ(0, runCommand(command).status) << command;
    }
    // Whether a visible window matches xdotool's criteria. xdotool dies of an
    // X error when a window goes away while it searches: such a search is made again.
    bool shown(const std::string& criteria) const
    {
        for (int attempt = 0; attempt < 5; ++attempt) {
            const CommandResult r = onDisplay("xdotool search --onlyvisible " + criteria);
            if (r.output.find("X Error") == std::string::npos) return r.status == 0;
        }
        return false;
    }
    static bool within(int timeoutMs, const std::function<bool()>& condition)
    {
        for (int waited = 0; waited < timeoutMs && !condition(); waited += 50)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        return condition();
    }
    // Wine closes a console window, and may first flash it up, shortly after
    // its last program lets go of it: gone means a whole second unseen.
    bool consoleGone() const
    {
        int unseenMs = 0;
        for (int waited = 0; waited < 5000 && unseenMs < 1000; waited += 50) {
            unseenMs = shown("--class conhost.exe") ? 0 : unseenMs + 50;
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        return unseenMs >= 1000;
    }
    std::vector<uint8_t> linuxFrame(uint32_t ms, const std::string& size, const std::string& options = "")
    {
        const std::string png = dir + "/linux.png";
        const CommandResult r = runCommand(LINUX_RENDER + " frame --force --ms " + std::to_string(ms) + " --size " +
                                           size + " " + options + " --out " + png);
        EXPECT_EQ(0, r.status) << r.output;
        return readRgb(png);
    }
    static std::vector<uint8_t> readRgb(const std::string& png)
    {
        int width = 0, height = 0;
        std::vector<uint8_t> rgb;
        std::string error;
        EXPECT_TRUE(readPngRgb(png, width, height, rgb, &error)) << error;
        return rgb;
    }
    // Frame n of a file of raw RGB frames, bottom row first (as the export sends them), turned top row first.
    static std::vector<uint8_t> rawFrame(const std::string& path, int n, int width, int height)
    {
        const size_t rowBytes = size_t(width) * 3, frameBytes = rowBytes * height;
        std::ifstream in(path, std::ios::binary);
        in.seekg(std::streamoff(frameBytes * n));
        std::vector<uint8_t> bottomFirst(frameBytes), rgb(frameBytes);
        in.read(reinterpret_cast<char*>(bottomFirst.data()), std::streamsize(frameBytes));
        EXPECT_EQ(std::streamsize(frameBytes), in.gcount()) << path << " has no frame " << n;
        for (int row = 0; row < height; ++row)
            std::copy_n(bottomFirst.begin() + ptrdiff_t(rowBytes * (height - 1 - row)), rowBytes,
                        rgb.begin() + ptrdiff_t(rowBytes * row));
        return rgb;
    }
    static uintmax_t fileSize(const std::string& path)
    {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(path, error);
        return error ? 0 : size;
    }
};

// Windows' own DLLs: what every Windows 10 or 11 has, so the zip needs nothing else.
TEST_F(WindowsBuild, ProgramsNeedOnlyWindowsOwnDlls)
{
    const std::set<std::string> windowsOwn = {
        "advapi32.dll", "gdi32.dll",    "imm32.dll",   "kernel32.dll", "msvcrt.dll", "ole32.dll",   "oleaut32.dll",
        "opengl32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",  "user32.dll", "version.dll", "winmm.dll"};
    for (const char* program : {"vantrop.exe", "vantrop-1080p.exe", "tools/vantrop-render.exe",
                                "tools/vantrop-make-track.exe", "tools/vantrop-studio.exe"}) {
        const CommandResult r = runCommand("x86_64-w64-mingw32-objdump -p " + WINDOWS_BUILD + "/" + program +
                                           " | sed -n 's/.*DLL Name: //p' | tr A-Z a-z");
        ASSERT_EQ(0, r.status) << program << ": " << r.output;
        ASSERT_FALSE(r.output.empty()) << program;
        std::istringstream names(r.output);
        for (std::string dll; std::getline(names, dll);)
            EXPECT_TRUE(windowsOwn.count(dll)) << program << " needs " << dll;
    }
}

TEST_F(WindowsBuild, ShowEndsByItselfOnEscapeAndOnCtrlC)
{
    makeTrack(3);
    startWindows("vantrop.exe");
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();
    EXPECT_GE(secondsSinceStart(), 3.0);
    EXPECT_EQ(std::string::npos, log().find("no audio device")) << "the sound went to a device: " << log();
    expectDesktopBack();

    makeTrack(60);
    startWindows("vantrop.exe");
    waitForWindow();
    EXPECT_EQ(0, onDisplay("xdotool key Escape").status);
    EXPECT_EQ(0, waitForExit(show, 15000)) << log();
    expectDesktopBack();
    // Wine hands SIGINT to the program as its console's Ctrl+C.
    startWindows("vantrop.exe");
    waitForWindow();
    kill(show, SIGINT);
    EXPECT_EQ(0, waitForExit(show, 15000)) << log();
    expectDesktopBack();
}

TEST_F(WindowsBuild, StartUpMessagesAndTheSilentClock)
{
    const CommandResult missing = runWindows("vantrop.exe --music absent.mp3");
    EXPECT_EQ(1, missing.status) << missing.output;
    EXPECT_NE(std::string::npos, missing.output.find("vantrop: cannot open the music file absent.mp3"))
        << missing.output;

    makeTrack(2);
    // A screen without the build's mode keeps its own, the picture scaled to fit.
    const CommandResult tooLarge = runWindows("vantrop-1080p.exe");
    EXPECT_EQ(0, tooLarge.status) << tooLarge.output;
    EXPECT_NE(std::string::npos,
              tooLarge.output.find("the display has no 1920x1080 mode (its modes: 1600x900, 1280x720); the picture "
                                   "is drawn at 1920x1080 and scaled to the desktop's 1600x900"))
        << tooLarge.output;
    expectDesktopBack();

    // An ALSA without any device: Windows reports no audio endpoint.
    std::FILE* noDevice = std::fopen((dir + "/alsa.conf").c_str(), "w");
    ASSERT_NE(nullptr, noDevice);
    std::fclose(noDevice);
    startWindows("vantrop.exe");
    EXPECT_EQ(0, waitForExit(show, 60000)) << log();
    EXPECT_GE(secondsSinceStart(), 2.0) << "the silent clock runs in real time";
    EXPECT_NE(std::string::npos, log().find("vantrop: no audio device (")) << log();
    EXPECT_NE(std::string::npos, log().find("the show runs silently, in time")) << log();
}

// As the README says: lomu_hmm.mp3 beside vantrop.exe, and a double-click,
// which Wine's `start` copies: the program starts in its own folder with a
// console of its own. The show lets go of that console, and a failure to
// start is told in a message box, where the user sees it.
TEST_F(WindowsBuild, StartedLikeADoubleClickItShowsNoConsoleAndFailuresInABox)
{
    ASSERT_EQ(0, runCommand("cp " + WINDOWS_BUILD + "/vantrop.exe " + dir).status);
    const std::vector<std::string> doubleClick = {"start", "/wait", "/unix", dir + "/vantrop.exe"};
    makeTrack(60);
    start("wine", doubleClick, wineEnvironment());
    // The show's own window; the console's is named after the program's path.
    ASSERT_TRUE(within(15000, [&] { return shown("--name '^vantrop$'"); })) << "no show window\n" << log();
    EXPECT_TRUE(consoleGone()) << "a console window is shown";
    waitForWindow();
    // The keyboard may still be with the console Wine just closed: the show's
    // window gets it, and the key is pressed again while the show goes on
    // (its 60 s track; a frame under Wine on a loaded machine takes seconds).
    int status = -1;
    for (int attempt = 0; attempt < 5 && status == -1; ++attempt) {
        onDisplay("xdotool search --name '^vantrop$' windowfocus --sync");
        EXPECT_EQ(0, onDisplay("xdotool key Escape").status);
        status = waitForExit(show, 8000);
    }
    EXPECT_EQ(0, status) << "the keyboard is with: " << onDisplay("xdotool getwindowfocus getwindowname").output
                         << log();
    expectDesktopBack();

    std::remove((dir + "/lomu_hmm.mp3").c_str());
    start("wine", doubleClick, wineEnvironment());
    EXPECT_TRUE(within(10000, [&] { return shown("--name 'vantrop could not start'"); })) << "no message box\n"
                                                                                          << log();
    EXPECT_TRUE(consoleGone()) << "a console window is shown";
}

// The studio started by a double-click, from the zip's layout (its shaders
// beside it): no console window, neither behind it nor for the export it
// runs; a failure to start is told in a message box.
TEST_F(WindowsBuild, StudioStartedLikeADoubleClickShowsNoConsole)
{
    // A double-click starts a program in its own folder: the track, and the export, are there.
    programsTogether({"tools/vantrop-studio.exe", "tools/vantrop-render.exe"}, true);
    const std::string bin = dir + "/bin";
    ASSERT_EQ(0,
              runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + bin + "/shaders && " +
                         VANTROP_MAKE_TRACK_PATH + " --seconds 20 " + bin + "/lomu_hmm.mp3")
                  .status);
    const std::vector<std::string> doubleClick = {"start",  "/wait",   "/unix",    bin + "/vantrop-studio.exe",
                                                  "--size", "320x180", "--paused", "--from",
                                                  "15000",  "--loop",  "15000",    "15500"};
    // The title, with the position after two spaces; the message box's has one.
    const std::string studioWindow = "--name '^vantrop-studio  '";
    start("wine", doubleClick, wineEnvironment());
    ASSERT_TRUE(within(20000, [&] { return shown(studioWindow); })) << "no studio window\n" << log();
    EXPECT_TRUE(consoleGone()) << "a console window is shown";
    // Wine may not yet take the keyboard from X's focus alone: a click in
    // the picture (which does nothing there) gives it, and a key lost on the
    // way is pressed again while its effect has not shown.
    auto press = [&](const std::string& key) {
        onDisplay("xdotool search " + studioWindow + " windowfocus --sync mousemove --window %1 10 10 click 1 key " +
                  key);
    };
    // The export runs vantrop-render.exe, which runs ffmpeg.exe: neither may bring up a console.
    const std::string video = bin + "/vantrop-studio-15000-15500.mp4";
    for (int attempt = 0; attempt < 3 && !std::ifstream(video).good(); ++attempt) {
        press("e");
        within(10000, [&] { return std::ifstream(video).good(); }); // the name is held at once
    }
    bool consoleSeen = false;
    EXPECT_TRUE(within(60000, [&] {
        consoleSeen = consoleSeen || shown("--class conhost.exe");
        // The name is held by an empty file from the start; the video moves onto it when done.
        return fileSize(video) > 0;
    })) << "the export wrote nothing";
    EXPECT_FALSE(consoleSeen) << "a console window was shown during the export";
    EXPECT_EQ(30u * 320 * 180 * 3, fileSize(video));
    // As with the show, the keyboard may not be with the window yet: ESC again while it goes on.
    int status = -1;
    for (int attempt = 0; attempt < 3 && status == -1; ++attempt) {
        press("Escape");
        status = waitForExit(show, 10000);
    }
    EXPECT_EQ(0, status) << "the keyboard is with: " << onDisplay("xdotool getwindowfocus getwindowname").output
                         << "windows: " << onDisplay("xdotool search --onlyvisible --name .").output;

    // Without its shaders it cannot start (without a track it plays silence).
    ASSERT_EQ(0, runCommand("rm -r " + bin + "/shaders").status);
    start("wine", doubleClick, wineEnvironment());
    EXPECT_TRUE(within(20000, [&] { return shown("--name '^vantrop-studio could not start$'"); })) << "no message box";
    EXPECT_TRUE(consoleGone()) << "a console window is shown";
}

// Both builds draw with llvmpipe, one through EGL, the other through
// Wine's WGL and a hidden window: the same pixels, keyed tracks too (their
// values computed by each build's own processor code).
TEST_F(WindowsBuild, RenderGivesTheLinuxBuildsPixels)
{
    std::ofstream(dir + "/keys.txt") << "track tintRed\n0 0.3 smooth\n30 1.7 step\n"
                                     << "track cameraHeight\n0 0.4 ramp\n30 1.1 step\n";
    for (const std::string ms : {"5500", "27000", "41500", "15013 --tracks keys.txt"}) {
        const std::string windowsPng = "windows-" + ms.substr(0, 5) + ".png", linuxPng = dir + "/linux.png";
        const CommandResult w =
            runWindows("tools/vantrop-render.exe frame --force --ms " + ms + " --size 160x90 --out " + windowsPng);
        ASSERT_EQ(0, w.status) << w.output;
        const CommandResult l = runCommand("cd " + dir + " && " + LINUX_RENDER + " frame --force --ms " + ms +
                                           " --size 160x90 --out " + linuxPng);
        ASSERT_EQ(0, l.status) << l.output;
        int width = 0, height = 0, linuxWidth = 0, linuxHeight = 0;
        std::vector<uint8_t> windowsRgb, linuxRgb;
        std::string error;
        ASSERT_TRUE(readPngRgb(dir + "/" + windowsPng, width, height, windowsRgb, &error)) << error;
        ASSERT_TRUE(readPngRgb(linuxPng, linuxWidth, linuxHeight, linuxRgb, &error)) << error;
        EXPECT_EQ(160, width);
        EXPECT_EQ(90, height);
        EXPECT_TRUE(windowsRgb == linuxRgb) << "at " << ms << " ms";
        EXPECT_GT(*std::max_element(linuxRgb.begin(), linuxRgb.end()), 40) << "a black frame proves nothing";
    }
}

// The video export hands its frames to an ffmpeg.exe beside the program, or
// else on PATH, and says what to install when there is none. The stand-in
// keeps the raw frames it is sent: they are the Linux build's pixels.
TEST_F(WindowsBuild, VideoGoesThroughTheFfmpegBesideItOrOnPath)
{
    makeTrack(8);
    const std::string video = " video --force --out v.mp4 --size 160x90 --fps 10 --from 5000 --to 5300";
    const CommandResult missing = runWindows("tools/vantrop-render.exe" + video);
    EXPECT_EQ(1, missing.status) << missing.output;
    EXPECT_NE(std::string::npos,
              missing.output.find("ffmpeg.exe was found neither beside vantrop-render.exe nor on PATH; "
                                  "download a Windows build of ffmpeg"))
        << missing.output;

    // A name Windows refuses is refused before any work, not when the finished file is moved in.
    const CommandResult badName = runWindows("tools/vantrop-render.exe video --out 'a?.mp4' --size 160x90 --to 300");
    EXPECT_EQ(1, badName.status) << badName.output;
    EXPECT_NE(std::string::npos, badName.output.find("cannot write a?.mp4: Windows allows none of")) << badName.output;

    programsTogether({"tools/vantrop-render.exe"}, true);
    const CommandResult beside = runWine(dir + "/bin/vantrop-render.exe" + video);
    ASSERT_EQ(0, beside.status) << beside.output;
    EXPECT_NE(std::string::npos,
              beside.output.find("vantrop-render video: wrote v.mp4 (0:00, 3 frames at 10 fps, 160x90"))
        << beside.output;
    EXPECT_EQ(3u * 160 * 90 * 3, fileSize(dir + "/v.mp4")) << "three frames, sound joined in the second pass";
    std::ifstream log(dir + "/ffmpeg-standin.log");
    std::string picturePass, soundPass;
    std::getline(log, picturePass);
    std::getline(log, soundPass);
    EXPECT_NE(std::string::npos, picturePass.find("-video_size 160x90 -framerate 10 -i pipe:0")) << picturePass;
    EXPECT_NE(std::string::npos, soundPass.find(".wav -map 0:v -map 1:a")) << soundPass;
    EXPECT_TRUE(rawFrame(dir + "/v.mp4", 0, 160, 90) == linuxFrame(5000, "160x90"));
    EXPECT_TRUE(rawFrame(dir + "/v.mp4", 2, 160, 90) == linuxFrame(5200, "160x90"));

    ASSERT_EQ(0, runCommand("mkdir " + dir + "/path && mv " + dir + "/bin/ffmpeg.exe " + dir + "/path/").status);
    const CommandResult onPath =
        runWindows("tools/vantrop-render.exe video --force --out w.mp4 --size 160x90 --fps 10 --to 200",
                   "WINEPATH=Z:" + dir + "/path");
    ASSERT_EQ(0, onPath.status) << onPath.output;
    EXPECT_EQ(2u * 160 * 90 * 3, fileSize(dir + "/w.mp4"));
}

// The studio as on Linux: it starts, shows the Linux build's pixels at a
// paused position, redraws an edited shader, and exports the loop through
// vantrop-render.exe and ffmpeg.exe beside it while the window goes on.
TEST_F(WindowsBuild, StudioDrawsReloadsAndExports)
{
    makeTrack(20);
    programsTogether({"tools/vantrop-studio.exe", "tools/vantrop-render.exe"}, true);
    ASSERT_EQ(0, runCommand("cp -r " + std::string(VANTROP_SHADERS_DIR) + " " + dir + "/shaders").status);
    start("wine",
          {dir + "/bin/vantrop-studio.exe", "--size", "320x180", "--paused", "--from", "15000", "--loop", "15000",
           "15500", "--shaders", dir + "/shaders"},
          wineEnvironment());
    std::string window, title;
    for (int i = 0; i < 600 && title.find(':') == std::string::npos; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        const CommandResult r = onDisplay("xdotool search --name '^vantrop-studio '");
        window = r.status == 0 ? r.output.substr(0, r.output.find('\n')) : "";
        title = window.empty() ? "" : onDisplay("xdotool getwindowname " + window).output;
    }
    ASSERT_NE(std::string::npos, title.find("vantrop-studio  0:15.000")) << title << "\n" << log();
    auto screenshot = [&] {
        EXPECT_EQ(0, onDisplay("import -window " + window + " " + dir + "/shot.png").status)
            << "ImageMagick's import is needed";
        return readRgb(dir + "/shot.png");
    };
    auto shows = [&](const std::vector<uint8_t>& expected) {
        for (int i = 0; i < 50; ++i) {
            if (screenshot() == expected) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
        }
        return false;
    };
    onDisplay("xdotool windowfocus --sync " + window + " key Tab"); // the overlay off: the bare picture
    EXPECT_TRUE(shows(linuxFrame(15000, "320x180"))) << log();

    ASSERT_EQ(
        0,
        runCommand("sed -i 's/vec3(tintRed, tintGreen, tintBlue)/vec3(0.2, 1.0, 1.0)/' " + dir + "/shaders/main.glsl")
            .status);
    const std::vector<uint8_t> edited = linuxFrame(15000, "320x180", "--shaders " + dir + "/shaders");
    EXPECT_TRUE(shows(edited)) << "the edit did not reach the picture\n" << log();
    EXPECT_NE(std::string::npos, log().find("the shader was rebuilt and drawn")) << log();

    onDisplay("xdotool windowfocus --sync " + window + " key e");
    const std::string video = dir + "/vantrop-studio-15000-15500.mp4";
    for (int i = 0; i < 1200 && log().find("exported:") == std::string::npos; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_NE(std::string::npos, log().find("vantrop-studio: exported: wrote vantrop-studio-15000-15500.mp4")) << log();
    EXPECT_EQ(30u * 320 * 180 * 3, fileSize(video)) << "half a second at 60 frames a second";
    EXPECT_TRUE(rawFrame(video, 0, 320, 180) == edited) << "the export draws the edited shader";

    // Closed during an export of the whole show, the studio stops it as
    // Ctrl+C would: a shorter file is kept and nothing else is left.
    const size_t mark = log().size();
    onDisplay("xdotool windowfocus --sync " + window + " key BackSpace key e");
    // Its frames flow once ffmpeg's third command line (the second export's first pass) is written down.
    for (int i = 0; i < 600 && std::atoi(runCommand("wc -l < " + dir + "/ffmpeg-standin.log").output.c_str()) < 3; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    onDisplay("xdotool windowfocus --sync " + window + " key Escape");
    EXPECT_EQ(0, waitForExit(show, 30000)) << log();
    EXPECT_NE(std::string::npos,
              log().find("the export was stopped as the studio closed: stopped by the end of its "
                         "input; kept vantrop-studio-0-20000.mp4 with the first",
                         mark))
        << log();
    EXPECT_EQ("", runCommand("ls -A " + dir + " | grep '^\\.vantrop-'").output) << "temporary files were left\n"
                                                                                << log();
}
