// Programs this one runs: started with pipes to their input or from their
// errors, written and read without blocking, waited for, asked to stop.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// What ends a program's file name on this system: ".exe" on Windows.
#ifdef _WIN32
inline constexpr const char* PROGRAM_SUFFIX = ".exe";
#else
inline constexpr const char* PROGRAM_SUFFIX = "";
#endif

// Which of the child's standard streams are pipes held by this program
// (CHILD_INPUT | CHILD_ERRORS). With CHILD_ERRORS, its output (and its input
// unless piped) goes nowhere; without, it writes where this program does.
enum ChildPipes { CHILD_INPUT = 1, CHILD_ERRORS = 2 };

struct Child {
    intptr_t process = 0; // its process id, or its handle on Windows; 0 when none runs
    uint32_t id = 0;      // its process id
    intptr_t input = -1;  // this program's end of the pipe to its input
    intptr_t errors = -1; // this program's end of the pipe from its errors
};

// How a child ended: its exit status, or the signal that ended it (POSIX only).
struct ChildEnd {
    int status = 0;
    int signal = 0;
};

// Starts args[0] (a path) with `args`, in a process group of its own (the
// terminal's Ctrl+C reaches only this program, which decides how the child
// ends); false with the reason in *error.
bool startChild(Child& child, const std::vector<std::string>& args, int pipes, std::string* error);
// Writes all of `size` bytes to the child's input; false when the child no longer reads.
bool writeToChild(Child& child, const void* data, size_t size);
// Appends what the child has written to its error pipe so far, without waiting.
void readFromChild(Child& child, std::string& text);
// Whether the child has ended, without waiting; then `end` says how, the
// last of its error pipe is appended to `text`, and the child is gone.
bool childEnded(Child& child, ChildEnd& end, std::string& text);
// Closes this program's end of the pipe (its input ends), waits for the child
// and says how it ended; what it writes to its error pipe meanwhile is
// appended to `text` (so that it never waits on a full pipe).
ChildEnd waitForChild(Child& child, std::string& text);
// Asks the child to stop as Ctrl+C would by closing its input pipe (which it
// is to take as the sign: a console's Ctrl+C cannot reach a child on every
// system) and waits for it; one not stopped within a few seconds is ended
// outright. The last of its error pipe is appended to `text`.
ChildEnd interruptChild(Child& child, std::string& text);
// "" when the child succeeded; otherwise what happened to it, naming `name`,
// with `said` (its last line of errors) as the reason where it gave one.
std::string describeChildEnd(const std::string& name, const ChildEnd& end, const std::string& said);
// Whether this program's input is a pipe that the program at its other end
// has closed (the sign to stop of a program run by the studio); never waits.
bool standardInputEnded();
// The program `name` (PROGRAM_SUFFIX added) beside this one, else on PATH; "" when neither has it.
std::string findProgram(const std::string& name);
