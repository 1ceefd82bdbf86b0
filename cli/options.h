// Every program's and command's options as one table each: the parsing, the
// mistakes (unknown with a near miss named, repeated, missing, out of range),
// --help and, through it, the manual pages all come from it.
#pragma once
#include "cli/command_line.h"

#include <cstdint>
#include <string>
#include <vector>

enum class OptionKind {
    Flag,      // bool: given or not
    Text,      // std::string: a file or folder name, taken as it is
    Count,     // uint32_t: a whole number from min to max
    Number,    // double: a decimal number from min to max
    Position,  // uint32_t: a music position, whole milliseconds
    Positions, // std::vector<uint32_t>: one position or more, up to the next option
    Texts,     // std::vector<std::string>: the operands, files taken as they are (FILE...)
    Span,      // PositionSpan: two positions, the first before the second
    Size,      // PictureSize: a 16:9 WxH
    Choice,    // std::string: one of the words in `choices`, separated by '|'
};

struct PictureSize {
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT; // pixels
};

struct PositionSpan {
    uint32_t fromMs = 0, toMs = 0;
};

struct Option {
    const char* name;  // "--fps"; "" for the operand that follows the options (OUT.mp3, MS...)
    const char* value; // what the help calls its value ("N", "FILE"); unused for a flag
    OptionKind kind;
    void* target;                       // where the value goes, of the type its kind names; it holds the default
    const char* help;                   // its text in --help, '\n' between lines
    double min = 0, max = 0;            // Count and Number: the range, both ends included
    bool aboveMin = false;              // Number: min itself is refused
    const char* shownDefault = nullptr; // "(default ...)" in the help: nullptr takes the target's value, "" shows none
    bool required = false;
    bool* given = nullptr; // set when the option is given
    const char* choices = nullptr;
};

struct CommandLine {
    const char* command;     // "vantrop-render video": in the usage line and every message
    const char* usage;       // what follows the command in the usage line
    const char* description; // the text between the usage line and the options
    std::vector<Option> options;
    const char* epilogue = ""; // the text after the options
    std::string version;       // what --version prints ("vantrop-studio 1.4.0"); "" for no --version
};

// The options of each kind, with what the help says of them; "" for the
// name makes the operand that follows the options (OUT.mp3, MS...).
Option flagOption(const char* name, bool* target, const char* help);
Option textOption(const char* name, const char* value, std::string* target, const char* help);
Option countOption(const char* name, const char* value, uint32_t* target, uint32_t min, uint32_t max, const char* help);
// A decimal number from min up, to max where max is not below min.
Option numberOption(const char* name, const char* value, double* target, double min, double max, const char* help);
Option positionOption(const char* name, uint32_t* target, const char* help);
Option positionsOption(const char* name, const char* value, std::vector<uint32_t>* target, const char* help);
Option textsOption(const char* name, const char* value, std::vector<std::string>* target, const char* help);
Option spanOption(const char* name, const char* value, PositionSpan* target, const char* help);
Option sizeOption(const char* name, PictureSize* target, const char* help);
Option choiceOption(const char* name, const char* value, std::string* target, const char* choices, const char* help);
// The option, which the command line must give.
Option required(Option option);
// The option with its default named in these words ("" names none) instead of its target's value.
Option defaultSaid(Option option, const char* words);
// The number option, with its min refused and all above it taken.
Option aboveMin(Option option);
// The option, with *given set when it is given.
Option noticed(Option option, bool* given);

// "PROGRAM VERSION": what --version prints for a program.
std::string versionLine(const char* program);
// Reads the arguments into the options' targets: -1 to go on, else the exit
// status (0 after --help or --version; EXIT_USAGE after saying what is wrong).
int parseCommandLine(const CommandLine& line, int argc, char** argv);
// The --help text: the usage line, the description, an aligned line per option
// with its default, the epilogue.
std::string commandHelp(const CommandLine& line);
