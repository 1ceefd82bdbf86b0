#include "tests/spawn.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
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

XServer startXvfb(int width, int height)
{
    XServer server;
    int fds[2];
    if (pipe(fds) != 0) return server;
    const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
    // -displayfd lets Xvfb pick a free display number and tell it once ready.
    server.pid = spawnProcess({"Xvfb", "-displayfd", std::to_string(fds[1]), "-screen", "0", screen, "-nolisten",
                               "tcp", "-noreset"},
                              "", {}, "/dev/null");
    close(fds[1]);
    std::string number;
    pollfd p{fds[0], POLLIN, 0};
    char c;
    while (poll(&p, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
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
