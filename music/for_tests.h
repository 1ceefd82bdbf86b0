// What the tests (and the sync check and the fuzzer beside them) reach
// inside the music module. No program includes it.
#pragma once
#include "music/music.h"

#include <cstdint>
#include <string>
#include <vector>

// Decodes a whole stream as playback does (16-bit stereo at the first frame's
// rate), with a decoder of its own; *samples (when not null) gets the
// interleaved samples, *sampleFrames their count, *rate the rate in Hz.
bool decodeMusicFile(const char* fileName, std::vector<int16_t>* samples, uint64_t* sampleFrames, long* rate,
                     std::string* error);
// True when playback runs on the silent clock (no audio device, or it was lost).
bool musicIsSilent(const MusicPlayer& player);
