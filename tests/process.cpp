#include "tests/process.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <vector>

CommandResult runCommand(const std::string& commandLine)
{
    CommandResult result{-1, {}};
    FILE* pipe = popen((commandLine + " 2>&1").c_str(), "r");
    if (!pipe) return result;
    char buffer[4096];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) result.output.append(buffer, got);
    const int status = pclose(pipe);
    if (status != -1 && WIFEXITED(status)) result.status = WEXITSTATUS(status);
    return result;
}

static std::vector<std::string> tempDirs;

static void removeTempDirs()
{
    std::error_code ignored;
    for (const std::string& dir : tempDirs) std::filesystem::remove_all(dir, ignored);
}

std::string makeTempDir()
{
    char pattern[] = "/tmp/vantrop-test-XXXXXX";
    const char* dir = mkdtemp(pattern);
    if (!dir) return "/tmp";
    if (tempDirs.empty()) std::atexit(removeTempDirs);
    tempDirs.push_back(dir);
    return dir;
}
