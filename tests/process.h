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
