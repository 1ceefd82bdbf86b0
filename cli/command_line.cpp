#include "cli/command_line.h"

#include "view/view.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <limits.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

bool isHelp(const char* arg)
{
    return std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0;
}

std::string numberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", value);
    return text;
}

std::string wrapText(const std::string& text, size_t width)
{
    std::string out;
    size_t lineStart = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        out += text[i];
        if (text[i] == '\n') lineStart = out.size();
        if (out.size() - lineStart <= width) continue;
        const size_t space = out.rfind(' ', out.size() - 1);
        if (space == std::string::npos || space < lineStart) continue;
        out[space] = '\n';
        lineStart = space + 1;
    }
    return out;
}

bool isVersion(const char* arg)
{
    return std::strcmp(arg, "--version") == 0;
}

int usageError(const std::string& command, const std::string& message)
{
    std::fprintf(stderr, "%s: %s (see '%s --help')\n", command.c_str(), message.c_str(), command.c_str());
    return EXIT_USAGE;
}

bool optionRepeated(const std::string& command, std::vector<std::string>& seen, const std::string& arg)
{
    if (arg.rfind("--", 0) != 0) return false;
    if (std::find(seen.begin(), seen.end(), arg) == seen.end()) {
        seen.push_back(arg);
        return false;
    }
    usageError(command, arg + " is given twice; give it once");
    return true;
}

bool parseUint32(const char* text, uint32_t& value)
{
    if (!text || *text < '0' || *text > '9') return false;
    errno = 0;
    char* end = nullptr;
    const unsigned long long parsed = std::strtoull(text, &end, 10);
    if (errno || *end || parsed > 0xFFFFFFFFull) return false;
    value = uint32_t(parsed);
    return true;
}

bool parsePosition(const char* text, uint32_t& ms)
{
    uint32_t parsed = 0;
    if (!parseUint32(text, parsed) || parsed > MAX_POSITION_MS) return false;
    ms = parsed;
    return true;
}

std::string badPositionMessage(const std::string& what, const char* text)
{
    return "bad " + what + " '" + std::string(text ? text : "") + "': give whole milliseconds from 0 to " +
        std::to_string(MAX_POSITION_MS);
}

bool parseSize(const char* text, int& width, int& height, std::string* error)
{
    const std::string s = text ? text : "";
    const size_t x = s.find('x');
    uint32_t w = 0, h = 0;
    if (x == std::string::npos || !parseUint32(s.substr(0, x).c_str(), w) || !parseUint32(s.substr(x + 1).c_str(), h)) {
        *error = "bad size '" + s + "': write it as WIDTHxHEIGHT, for example 320x180";
        return false;
    }
    if (!isShowSize(double(w), double(h))) {
        *error = "bad size '" + s +
            "': the show is framed for 16:9, from 16x9 to 7680x4320 (for example 320x180, "
            "1280x720, 1920x1080)";
        return false;
    }
    width = int(w);
    height = int(h);
    return true;
}

bool stderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(STDERR_FILENO);
#endif
}

void logProgressTenth(const std::string& command, const char* unit, uint32_t done, uint32_t total, uint32_t& nextTenth)
{
    // A tenth of the work, counted in whole items: 10 lines in all, however many items there are.
    static constexpr uint32_t TENTHS = 10;
    if (total == 0 || uint64_t(done) * TENTHS < uint64_t(nextTenth) * total) return;
    std::fprintf(stderr, "%s: %u%% (%s %u of %u)\n", command.c_str(), uint32_t(uint64_t(done) * 100 / total), unit,
                 done, total);
    nextTenth = uint32_t(uint64_t(done) * TENTHS / total) + 1;
}

bool letGoOfOwnConsole()
{
#ifdef _WIN32
    // The console is ours alone when no other process (a Command Prompt) is attached to it.
    DWORD processes[2];
    const bool ownConsole =
        GetConsoleProcessList(processes, 2) == 1 && GetFileType(GetStdHandle(STD_ERROR_HANDLE)) == FILE_TYPE_CHAR;
    if (ownConsole) FreeConsole();
    return ownConsole;
#else
    return false;
#endif
}

std::string programFolder()
{
#ifdef _WIN32
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return "";
    const std::string program(path, length);
    return program.substr(0, program.find_last_of("\\/"));
#else
    char path[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    if (length <= 0) return "";
    const std::string program(path, size_t(length));
    return program.substr(0, program.rfind('/'));
#endif
}
