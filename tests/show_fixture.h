// A fixture for running the show end to end: its own Xvfb at 1280x720, a
// fresh folder to run in, the show started and watched by process id.
#pragma once
#include "tests/process.h"
#include "tests/spawn.h"

#include <gtest/gtest.h>

#include <signal.h>

#include <chrono>
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
        x = startXvfb(1280, 720);
        ASSERT_FALSE(x.display.empty()) << "Xvfb (Debian package xvfb) could not be started";
        dir = makeTempDir();
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
    void start(const std::string& program, std::vector<std::string> arguments = {},
               std::vector<std::string> environment = {})
    {
        environment.push_back("DISPLAY=" + x.display);
#ifdef VANTROP_SHOW_PRELOAD
        environment.push_back(std::string("LD_PRELOAD=") + VANTROP_SHOW_PRELOAD);
#endif
        arguments.insert(arguments.begin(), program);
        show = spawnProcess(arguments, dir, environment, dir + "/show.log");
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
    // Waits until the show's window is mapped, so that input reaches it.
    void waitForWindow()
    {
        for (int i = 0; i < 200 && onDisplay("xdotool search --name vantrop").status != 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        ASSERT_EQ(0, onDisplay("xdotool search --name vantrop").status) << "the show opened no window\n" << log();
        std::this_thread::sleep_for(std::chrono::milliseconds(1500)); // the first frames
    }
    void expectDesktopBack()
    {
        EXPECT_NE(0, onDisplay("xdotool search --name vantrop").status) << "a show window is left over";
        const CommandResult info = onDisplay("xdpyinfo");
        EXPECT_NE(std::string::npos, info.output.find("dimensions:    1280x720 pixels")) << info.output;
    }

    XServer x;
    std::string dir;
    pid_t show = -1;
    Clock::time_point started;
};
