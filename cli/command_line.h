// The command line, with the same rules in every program: exit statuses,
// numbers, positions and sizes, help, repeated options and mistakes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Exit statuses: done; failed (a line on standard error says why); a
// command-line mistake; and 128 + N for a program ended by signal N, as the
// shell reports one that the signal itself ended.
inline constexpr int EXIT_DONE = 0, EXIT_FAILED = 1, EXIT_USAGE = 2, EXIT_SIGNAL_BASE = 128;
// A message box's lines are wrapped to this many characters: it is as wide
// as its longest line, and fits a small screen.
inline constexpr size_t MESSAGE_BOX_COLUMNS = 60;
// The size the tools draw at and the studio's window opens at unless told: pixels.
inline constexpr int DEFAULT_PICTURE_WIDTH = 1280, DEFAULT_PICTURE_HEIGHT = 720;

// Whether an argument asks for help (--help or -h).
bool isHelp(const char* arg);
// Whether an argument asks for the version (--version).
bool isVersion(const char* arg);
// Prints "COMMAND: MESSAGE (see 'COMMAND --help')" on standard error and
// returns EXIT_USAGE; COMMAND is the program, or the program and its command.
int usageError(const std::string& command, const std::string& message);
// True, with the usage message printed, when `arg` is an option already in
// `seen`; records it otherwise. A repeated option is refused, never silently
// taken at its last value.
bool optionRepeated(const std::string& command, std::vector<std::string>& seen, const std::string& arg);
// The text with each line longer than `width` broken at its last space before it.
std::string wrapText(const std::string& text, size_t width);
// A number as messages and help texts write it: 0.25, 3600.
std::string numberText(double value);
// Parses a whole unsigned 32-bit decimal number; false on anything else.
bool parseUint32(const char* text, uint32_t& value);
// The latest music position any program takes, milliseconds (the timeline counts them as signed 32-bit numbers).
inline constexpr uint32_t MAX_POSITION_MS = 2147483647;
// Parses a music position to start or end at: whole milliseconds from 0 to MAX_POSITION_MS.
bool parsePosition(const char* text, uint32_t& ms);
// Why parsePosition refused `text`, given as `what` ("position", "--ms"): what is accepted instead.
std::string badPositionMessage(const std::string& what, const char* text);
// Parses "WxH" as a 16:9 size from 16x9 to 7680x4320; *error explains a refusal.
bool parseSize(const char* text, int& width, int& height, std::string* error);
// Whether standard error is a terminal: there progress is one line kept current, in a log a line now and then.
bool stderrIsTerminal();
// In a log, one line "COMMAND: P% (UNIT N of TOTAL)" each time `done` reaches
// the next tenth of `total`; nextTenth starts at 1 and is kept by the caller.
void logProgressTenth(const std::string& command, const char* unit, uint32_t done, uint32_t total, uint32_t& nextTenth);
// On Windows, lets go of a console window made for this program alone (started
// by a double-click: nobody reads it, and it would stand behind the window)
// and says so; false elsewhere, and when started from a Command Prompt.
bool letGoOfOwnConsole();
// The folder the running program lies in, from the system; "" when it cannot say.
std::string programFolder();
