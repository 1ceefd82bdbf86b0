#include "tests/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <thread>

extern char** environ;

pid_t spawnProcess(const std::vector<std::string>& argv, const std::string& cwd,
                   const std::vector<std::string>& environment, const std::string& logFile)
{
    pid_t pid = fork();
    if (pid != 0) return pid;
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(127);
    for (const std::string& entry : environment) putenv(const_cast<char*>(entry.c_str()));
    if (!logFile.empty()) {
        const int fd = open(logFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (fd >= 0) {
            dup2(fd, 1);
            dup2(fd, 2);
            close(fd);
        }
    }
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
}

int waitForExit(pid_t pid, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < deadline) {
        int status = 0;
        const pid_t done = waitpid(pid, &status, WNOHANG);
        if (done == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        if (done < 0) return -1;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return -1;
}

bool isRunning(pid_t pid)
{
    return waitpid(pid, nullptr, WNOHANG) == 0;
}

ProcessGuard::~ProcessGuard()
{
    if (pid <= 0 || !isRunning(pid)) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

XServer startXvfb(int width, int height)
{
    XServer server;
    char numberFile[] = "/tmp/vantrop-xvfb-XXXXXX";
    const int fd = mkstemp(numberFile);
    if (fd < 0) return server;
    close(fd);
    server.pid = spawnProcess(
        {std::string(VANTROP_SCRIPTS_DIR) + "/xvfb.sh", std::to_string(width) + "x" + std::to_string(height)}, "", {},
        numberFile);
    std::string number;
    for (int i = 0; i < 200 && server.pid > 0 && number.empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        std::ifstream in(numberFile);
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        if (text.find('\n') != std::string::npos) number = text.substr(0, text.find('\n'));
    }
    unlink(numberFile);
    if (number.empty()) {
        stopXvfb(server);
        return server;
    }
    server.display = ":" + number;
    return server;
}

void stopXvfb(XServer& server)
{
    if (server.pid > 0) {
        kill(server.pid, SIGTERM);
        if (waitForExit(server.pid, 5000) == -1 && isRunning(server.pid)) {
            kill(server.pid, SIGKILL);
            waitpid(server.pid, nullptr, 0);
        }
    }
    server.pid = -1;
    server.display.clear();
}
