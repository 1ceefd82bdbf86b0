// Running the project's programs from tests.
#pragma once
#include <string>

struct CommandResult {
    int status;         // exit status, or -1 when the command did not exit normally
    std::string output; // standard output and standard error together
};

// Runs a shell command line and collects its output and exit status.
CommandResult runCommand(const std::string& commandLine);
// A fresh empty folder under the system's temporary folder, removed when the test program ends.
std::string makeTempDir();
// What is wrong in a program log (VANTROP_PROGRAM_LOG: "MS PROGRAM" a
// line): "" when it has frames and each was drawn by the program of the
// show's set that vantrop-render params gives for its position (glitch
// > 0 adds 1, finale > 0 adds 2); otherwise the lines that differ.
std::string programLogMismatches(const std::string& renderTool, const std::string& logFile);
