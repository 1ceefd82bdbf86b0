// Track files: the keys of the shader's tracks as plain text. "track NAME"
// starts a track; each line after it is "BEAT VALUE INTERPOLATION" (beats
// as in the schedule, fractions allowed; step, linear, smooth or ramp);
// "#" comments and blank lines.
#pragma once
#include "timeline/tracks.h"

#include <string>

// The largest track file read, in bytes (1 MiB: tens of thousands of keys).
inline constexpr long TRACK_FILE_MAX_BYTES = 1024 * 1024;

// The tracks that have keys, as a file that reads back exactly.
std::string tracksText(const Tracks& tracks);
// `declared` with each track holding one key at beat 0, its default (step):
// what a file to edit starts from, which draws as the shader's defaults do.
Tracks defaultKeyed(const Tracks& declared);
// Reads a track file's text against the tracks the shaders declare: `out`
// is `declared` with the file's keys. False with *error naming path:line and
// what is wrong: an unknown track or one given twice, keys out of order or
// two at one beat, a value that is not a finite number, an unknown
// interpolation, a beat outside 0 to 24000, a key before any track.
bool parseTracks(const std::string& text, const std::string& path, const Tracks& declared, Tracks& out,
                 std::string* error);
// Reads and parses a track file (a regular file of at most TRACK_FILE_MAX_BYTES).
bool readTrackFile(const std::string& path, const Tracks& declared, Tracks& out, std::string* error);
