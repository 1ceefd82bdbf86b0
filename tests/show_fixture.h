// A fixture for running the show end to end: its own Xvfb whose desktop is
// 1600x900 with 1280x720 among its modes unless told otherwise (so that the
// show must switch the mode, and a mode not given back shows), a fresh folder to run in, the show
// started and watched by process id.
#pragma once
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

using Clock = std::chrono::steady_clock;

class ShowOnXvfb : public testing::Test {
protected:
    void SetUp() override
    {
        x = startXvfb(DESKTOP_WIDTH, DESKTOP_HEIGHT);
        ASSERT_FALSE(x.display.empty()) << "Xvfb (Debian package xvfb) could not be started";
        dir = makeTempDir();
        if (!withShowMode) return;
        for (const char* step : {"--newmode 1280x720 0 1280 0 0 0 720 0 0 0", "--addmode screen 1280x720"}) {
            const CommandResult r = onDisplay(std::string("xrandr ") + step);
            ASSERT_EQ(0, r.status) << "xrandr (Debian package x11-xserver-utils) could not add 1280x720\n" << r.output;
        }
    }
    void TearDown() override
    {
        if (show > 0 && isRunning(show)) {
            kill(show, SIGKILL);
            waitForExit(show, 2000);
        }
        stopXvfb(x);
    }
    void makeTrack(int seconds)
    {
        const CommandResult r = runCommand(std::string(VANTROP_MAKE_TRACK_PATH) + " --force --seconds " +
                                           std::to_string(seconds) + " " + dir + "/lomu_hmm.mp3");
        ASSERT_EQ(0, r.status) << r.output;
    }
    // Starts the program on this Xvfb (unless the environment names a
    // DISPLAY, or has "DISPLAY" alone to take it away), in `cwd` (the test's folder unless given).
    void start(const std::string& program, std::vector<std::string> arguments = {},
               std::vector<std::string> environment = {}, const std::string& cwd = "")
    {
        if (std::none_of(environment.begin(), environment.end(),
                         [](const std::string& v) { return v.rfind("DISPLAY", 0) == 0; }))
            environment.push_back("DISPLAY=" + x.display);
        if (std::none_of(environment.begin(), environment.end(),
                         [](const std::string& v) { return v.rfind("VANTROP_CLOCK_LOG=", 0) == 0; }))
            environment.push_back("VANTROP_CLOCK_LOG=" + clockLogFolder + dir + "/clock.log");
#ifdef VANTROP_SHOW_PRELOAD
        environment.push_back(std::string("LD_PRELOAD=") + VANTROP_SHOW_PRELOAD);
#endif
        arguments.insert(arguments.begin(), program);
        std::remove((dir + "/clock.log").c_str()); // an earlier run's frames are not this one's
        show = spawnProcess(arguments, cwd.empty() ? dir : cwd, environment, dir + "/show.log");
        ASSERT_GT(show, 0);
        started = Clock::now();
    }
    double secondsSinceStart() const
    {
        return std::chrono::duration<double>(Clock::now() - started).count();
    }
    std::string log() const
    {
        std::ifstream in(dir + "/show.log");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    CommandResult onDisplay(const std::string& command) const
    {
        return runCommand("DISPLAY=" + x.display + " " + command);
    }
    // The frames the show has begun: lines of its clock log ("microseconds position").
    std::vector<std::string> framesBegun() const
    {
        std::ifstream in(dir + "/clock.log");
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    // Waits (up to 30 s) until the show's window is up and has shown a frame
    // (a second one has begun), so that input reaches a show that draws.
    void waitForWindow()
    {
        for (int i = 0; i < 600 && framesBegun().size() < 2 && isRunning(show); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_GE(framesBegun().size(), 2u) << "the show drew no frame\n" << log();
        ASSERT_EQ(0, onDisplay("xdotool search --name vantrop").status) << "the show opened no window\n" << log();
    }
    // Waits (up to 60 s) until the show has begun a frame at positionMs or later.
    void waitForPosition(uint32_t positionMs)
    {
        auto reached = [&] {
            const std::vector<std::string> lines = framesBegun();
            return !lines.empty() &&
                std::strtoul(lines.back().substr(lines.back().find(' ') + 1).c_str(), nullptr, 10) >= positionMs;
        };
        for (int i = 0; i < 1200 && !reached() && isRunning(show); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_TRUE(reached()) << "the show never reached " << positionMs << " ms\n" << log();
    }
    void expectDesktopBack()
    {
        EXPECT_NE(0, onDisplay("xdotool search --name vantrop").status) << "a show window is left over";
        const CommandResult info = onDisplay("xdpyinfo");
        EXPECT_NE(std::string::npos, info.output.find("dimensions:    1600x900 pixels"))
            << "the desktop's mode was not given back\n"
            << info.output;
    }

    static constexpr int DESKTOP_WIDTH = 1600, DESKTOP_HEIGHT = 900;
    // The desktop has the show's 1280x720 among its modes (false: 1600x900 alone).
    bool withShowMode = true;
    XServer x;
    std::string dir;
    pid_t show = -1;
    Clock::time_point started;
    // Put before the clock log's path: how the program under test names a Unix path.
    std::string clockLogFolder;
};
