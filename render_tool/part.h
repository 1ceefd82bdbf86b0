// An export cut into parts that machines draw apart (video --part K/N) and
// one join puts together: the frames each part covers, and the tag each
// part file carries saying what it is.
#pragma once
#include "render_tool/offline.h"

#include <cstdint>
#include <string>

// The most parts an export is cut into.
inline constexpr uint32_t MAX_PARTS = 10000;
// The metadata key a part file's tag is stored under.
inline constexpr const char* PART_TAG_KEY = "VANTROP_PART";

// What a part file holds: which part of which export, and its frames.
struct PartTag {
    uint32_t index = 0, count = 0;       // part `index` of `count`, from 1
    uint32_t firstFrame = 0, frames = 0; // the export's frames it holds
    int width = 0, height = 0;
    uint32_t fps = 0, fromMs = 0, toMs = 0;
    std::string shaders, schedule, tracks; // digests of what it was drawn with
};

// Reads "K/N" (1 <= K <= N <= MAX_PARTS) into the tag's index and count; false with *error.
bool parsePartSpec(const std::string& text, PartTag& tag, std::string* error);
// The frames of the tag's part of an export of `exportFrames` frames:
// contiguous, each frame of the export in exactly one part.
void choosePartFrames(PartTag& tag, uint32_t exportFrames);
// The digests of the shaders, schedule and tracks the offline draws with.
void digestDrawingSources(const Offline& offline, PartTag& tag);
// The tag as one line of words, and read back; false when the text is not one.
std::string partTagText(const PartTag& tag);
bool parsePartTag(const std::string& text, PartTag& tag);
// "" when `tag` is of the same export as `first`; else how it differs, in words.
std::string partMismatch(const PartTag& first, const PartTag& tag);
