// The XML that sync-tracker editors (GNU Rocket and its descendants) save:
// <tracks><track name="N"><key row="R" value="V" interpolation="0-3"/>...,
// rows counted at a fixed number a beat.
#pragma once
#include "timeline/tracks.h"

#include <string>

// The most rows a beat either way (a row of a thousandth of a beat).
inline constexpr int MAX_ROWS_PER_BEAT = 1000;

// Reads the editor's XML against the tracks the shaders declare: `out` is
// `declared` with the file's keys, each at row / rowsPerBeat beats. False
// with *error naming path:line: a track the shaders do not declare, two keys
// on one row, a row, value or interpolation out of range, XML it cannot read.
bool parseRocketXml(const std::string& xml, const std::string& path, int rowsPerBeat, const Tracks& declared,
                    Tracks& out, std::string* error);
// The tracks that have keys as the editor's XML, at least `rows` rows long
// (longer where a key lies beyond); false with
// *error naming a key that falls between two rows at rowsPerBeat.
bool rocketXml(const Tracks& tracks, int rowsPerBeat, int rows, std::string& xml, std::string* error);
