// Schedule files: the show retimed without rebuilding it. A plain text file
// with one "NAME = value" a line for every name of the schedule and the
// beat's length (SECONDS_PER_BEAT), "#" comments and blank lines.
#pragma once
#include "timeline/timeline.h"

#include <string>

// The largest schedule file read, in bytes (64 KiB; the built-in one is under 2 KiB).
inline constexpr long SCHEDULE_FILE_MAX_BYTES = 64 * 1024;

// The schedule as a file, each value written so that it reads back exactly.
std::string scheduleText(const ScheduleValues& values);
// Reads a schedule file's text; false with *error naming path:line and what
// is wrong: an unknown, repeated or missing name, a value that is not a
// number, a negative beat, a curve that falls before it rises, a beat length
// or rate that is not positive.
bool parseSchedule(const std::string& text, const std::string& path, ScheduleValues& out, std::string* error);
// Reads and parses a schedule file (a regular file of at most
// SCHEDULE_FILE_MAX_BYTES); *error names the file and the reason.
bool readScheduleFile(const std::string& path, ScheduleValues& out, std::string* error);
