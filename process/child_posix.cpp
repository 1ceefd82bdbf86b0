#include "process/child.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

// How long a child asked to stop has before it is ended outright, in milliseconds.
static constexpr int STOP_GRACE_MS = 10000;
static constexpr int STOP_POLL_MS = 10;

static void closeEnd(intptr_t& end)
{
    if (end >= 0) close(int(end));
    end = -1;
}

bool startChild(Child& child, const std::vector<std::string>& args, int pipes, std::string* error)
{
    int input[2] = {-1, -1}, errors[2] = {-1, -1};
    if (((pipes & CHILD_INPUT) && pipe2(input, O_CLOEXEC) != 0) ||
        ((pipes & CHILD_ERRORS) && pipe2(errors, O_CLOEXEC) != 0)) {
        *error = std::string("no pipe to ") + args[0] + " could be made (" + std::strerror(errno) + ")";
        for (int fd : {input[0], input[1]})
            if (fd >= 0) close(fd);
        return false;
    }
    const pid_t pid = fork();
    if (pid == 0) {
        setpgid(0, 0);
        const int nothing = (pipes & CHILD_ERRORS) ? open("/dev/null", O_RDWR) : -1;
        if (pipes & CHILD_INPUT)
            dup2(input[0], STDIN_FILENO);
        else if (nothing >= 0)
            dup2(nothing, STDIN_FILENO);
        if (pipes & CHILD_ERRORS) {
            dup2(errors[1], STDERR_FILENO);
            dup2(nothing, STDOUT_FILENO);
        }
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execv(argv[0], argv.data());
        std::fprintf(stderr, "cannot run %s: %s\n", argv[0], std::strerror(errno));
        _exit(127);
    }
    const int forkError = errno;
    for (int fd : {input[0], errors[1]})
        if (fd >= 0) close(fd);
    if (pid < 0) {
        for (int fd : {input[1], errors[0]})
            if (fd >= 0) close(fd);
        *error = args[0] + " could not be started (" + std::strerror(forkError) + ")";
        return false;
    }
    if (errors[0] >= 0) fcntl(errors[0], F_SETFL, O_NONBLOCK);
    child.process = pid;
    child.id = uint32_t(pid);
    child.input = input[1];
    child.errors = errors[0];
    return true;
}

bool writeToChild(Child& child, const void* data, size_t size)
{
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (size > 0) {
        const ssize_t written = write(int(child.input), bytes, size);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return false;
        bytes += written;
        size -= size_t(written);
    }
    return true;
}

void readFromChild(Child& child, std::string& text)
{
    if (child.errors < 0) return;
    char buffer[4096];
    for (ssize_t got; (got = read(int(child.errors), buffer, sizeof buffer)) > 0;) text.append(buffer, size_t(got));
}

static ChildEnd endOf(int status)
{
    if (WIFSIGNALED(status)) return {0, WTERMSIG(status)};
    return {WIFEXITED(status) ? WEXITSTATUS(status) : 1, 0};
}

// The child has ended with `status`: what it wrote last is taken, and it is forgotten.
static ChildEnd ended(Child& child, int status, std::string* text)
{
    if (text) readFromChild(child, *text);
    closeEnd(child.input);
    closeEnd(child.errors);
    child = Child{};
    return endOf(status);
}

bool childEnded(Child& child, ChildEnd& end, std::string& text)
{
    int status = 0;
    if (waitpid(pid_t(child.process), &status, WNOHANG) != pid_t(child.process)) return false;
    end = ended(child, status, &text);
    return true;
}

ChildEnd waitForChild(Child& child, std::string& text)
{
    closeEnd(child.input);
    int status = 0;
    for (pid_t done; (done = waitpid(pid_t(child.process), &status, WNOHANG)) != pid_t(child.process);) {
        if (done < 0 && errno != EINTR) break;
        if (child.errors < 0) {
            while (waitpid(pid_t(child.process), &status, 0) < 0 && errno == EINTR) {}
            break;
        }
        pollfd errors{int(child.errors), POLLIN, 0};
        poll(&errors, 1, STOP_POLL_MS);
        readFromChild(child, text);
    }
    return ended(child, status, &text);
}

ChildEnd interruptChild(Child& child, std::string& text)
{
    closeEnd(child.input);
    int status = 0;
    for (int waited = 0; waitpid(pid_t(child.process), &status, WNOHANG) != pid_t(child.process);
         waited += STOP_POLL_MS) {
        if (waited >= STOP_GRACE_MS) {
            kill(pid_t(child.process), SIGKILL);
            while (waitpid(pid_t(child.process), &status, 0) < 0 && errno == EINTR) {}
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(STOP_POLL_MS));
    }
    return ended(child, status, &text);
}

bool standardInputEnded()
{
    pollfd input{STDIN_FILENO, POLLIN, 0};
    if (poll(&input, 1, 0) <= 0 || !(input.revents & (POLLIN | POLLHUP))) return false;
    char byte;
    return read(STDIN_FILENO, &byte, 1) == 0;
}
