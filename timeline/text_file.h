// What the schedule and track files share: reading a small text file, its
// lines trimmed and shown safely, numbers read strictly.
#pragma once
#include <string>

// No beat lies past this one (about 4.5 hours at the show's tempo), so that every beat has a position.
inline constexpr float LATEST_BEAT = 24000.0f;

// Reads the whole of `path`, a regular file of at most maxBytes, described
// in messages as `what` ("the schedule file"); a UTF-8 byte-order mark at
// its start is dropped; *error names the file and the reason.
bool readSmallTextFile(const std::string& path, const std::string& what, long maxBytes, std::string& text,
                       std::string* error);
// The text without the spaces, tabs and carriage returns at its ends.
std::string trimmedText(const std::string& text);
// The text as it can be shown on a terminal: bytes below space and DEL as \xNN.
std::string shownText(const std::string& text);
// "path:line: ", the start of a message about one line of a file.
std::string fileLine(const std::string& path, int line);
// Reads a decimal number filling all of `text`: false for no number or NaN;
// a value too large for a float reads as an infinity (told as out of range).
bool readNumber(const std::string& text, double& value);
