#include "process/child.h"

#include "cli/command_line.h"

#include <cstdlib>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
static constexpr char PATH_LIST_SEPARATOR = ';';
#else
#include <unistd.h>

static constexpr char PATH_LIST_SEPARATOR = ':';
#endif

std::string describeChildEnd(const std::string& name, const ChildEnd& end, const std::string& said)
{
#ifndef _WIN32
    if (end.signal != 0)
        return name + " was ended by signal " + std::to_string(end.signal) + " (" + strsignal(end.signal) +
            ") from outside";
#endif
    if (end.status != 0)
        return name + " failed with exit status " + std::to_string(end.status) +
            (said.empty() ? " and gave no reason" : ": " + said);
    return "";
}

// A file there that may be run (a folder of the program's name is not the program).
static bool isProgramFile(const std::string& path)
{
    std::error_code error;
#ifdef _WIN32
    return std::filesystem::is_regular_file(path, error);
#else
    return std::filesystem::is_regular_file(path, error) && access(path.c_str(), X_OK) == 0;
#endif
}

std::string findProgram(const std::string& name)
{
    const std::string file = name + PROGRAM_SUFFIX;
    if (const std::string own = programFolder(); !own.empty() && isProgramFile(own + "/" + file))
        return own + "/" + file;
    const char* path = std::getenv("PATH");
    const std::string folders = path ? path : "";
    for (size_t start = 0; start <= folders.size();) {
        size_t end = folders.find(PATH_LIST_SEPARATOR, start);
        if (end == std::string::npos) end = folders.size();
        const std::string candidate = (end > start ? folders.substr(start, end - start) : ".") + "/" + file;
        if (isProgramFile(candidate)) return candidate;
        start = end + 1;
    }
    return "";
}
