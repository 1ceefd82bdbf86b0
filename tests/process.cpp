#include "tests/process.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

std::string programLogMismatches(const std::string& renderTool, const std::string& logFile)
{
    std::ifstream log(logFile);
    std::vector<std::pair<unsigned, int>> frames;
    unsigned ms = 0;
    int program = 0;
    std::string positions;
    while (log >> ms >> program) {
        frames.push_back({ms, program});
        positions += ' ';
        positions += std::to_string(ms);
    }
    if (frames.empty()) return "no frame in " + logFile;
    const CommandResult params = runCommand(renderTool + " params" + positions);
    std::istringstream lines(params.output);
    std::string line, mismatches;
    std::getline(lines, line); // the header
    for (const auto& [position, drawn] : frames) {
        double time = 0, finale = 0, glitch = 0;
        std::getline(lines, line);
        std::sscanf(line.c_str(), "%u %lf %lf %lf", &ms, &time, &finale, &glitch);
        const int expected = (glitch > 0 ? 1 : 0) | (finale > 0 ? 2 : 0);
        if (ms != position || drawn != expected)
            mismatches += std::to_string(position) + " ms drawn by program " + std::to_string(drawn) + ", not " +
                std::to_string(expected) + "\n";
    }
    return mismatches;
}
