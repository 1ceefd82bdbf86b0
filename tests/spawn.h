// Child processes for end-to-end tests: started, signalled and waited for by
// process id, with time limits.
#pragma once
#include <sys/types.h>

#include <string>
#include <vector>

// Starts argv[0] in folder `cwd` with extra environment entries ("NAME=value"),
// standard output and error to `logFile`; returns its process id, or -1.
pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& cwd,
                   const std::vector<std::string>& environment, const std::string& logFile);
// Waits up to timeoutMs for the process to end: its exit status, or -1 on
// time-out or abnormal end (a signal that was not handled).
int waitForExit(pid_t pid, int timeoutMs);
// Whether the process is still running.
bool isRunning(pid_t pid);

// Ends the process (SIGKILL) and reaps it when the guard goes out of scope,
// unless it has ended already: a test that fails half-way leaves nothing running.
struct ProcessGuard {
    pid_t pid = -1;
    ~ProcessGuard();
};

struct XServer {
    pid_t pid = -1;
    std::string display; // ":N"
};
// Starts Xvfb with one screen of this size on a free display number.
XServer startXvfb(int width, int height);
// Stops it by its process id.
void stopXvfb(XServer& server);
