// Schedule files: the show retimed without rebuilding it. A plain text file
// with one "NAME = value" a line for every name of the schedule and the
// beat's length (SECONDS_PER_BEAT), "#" comments and blank lines.
#pragma once
#include "timeline/timeline.h"

#include <string>

// The largest schedule file read, in bytes (64 KiB; the built-in one is under 2 KiB).
inline constexpr long SCHEDULE_FILE_MAX_BYTES = 64 * 1024;

// The shortest decimal text, without an exponent, that reads back as exactly
// this value: 66, 0.125, 0.68182.
std::string exactDecimal(float value);
// The schedule as a file, each value written so that it reads back exactly.
std::string scheduleText(const ScheduleValues& values);
// Reads a schedule file's text (a UTF-8 byte-order mark at its start is
// passed over); false with *error naming path:line and what is wrong, the
// file's text shown with its control characters escaped: an unknown,
// repeated or missing name, a value that is not a number, a beat outside 0
// to 24000, a curve that falls before it rises, a beat length outside 0.05 to
// 5 seconds, a rate per beat not above 0 or over 1000.
bool parseSchedule(const std::string& text, const std::string& path, ScheduleValues& out, std::string* error);
// Reads and parses a schedule file (a regular file of at most
// SCHEDULE_FILE_MAX_BYTES); *error names the file and the reason.
bool readScheduleFile(const std::string& path, ScheduleValues& out, std::string* error);
