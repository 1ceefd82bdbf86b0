// ffmpeg as the export's encoder: its two command lines, and the WAV file
// that carries the sound to it.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// ffmpeg's arguments (the program at `ffmpeg`) for pass one: raw RGB frames of
// width x height (bottom row first) at fps on its input, encoded as H.264 in
// BT.709 into `path`.
std::vector<std::string> pictureEncoderArguments(const std::string& ffmpeg, int width, int height, uint32_t fps,
                                                 const std::string& path);
// ffmpeg's arguments for pass two: pass one's pictures as they are and the
// WAV file's sound encoded as AAC beside them, into `path`.
std::vector<std::string> soundJoinArguments(const std::string& ffmpeg, const std::string& pictures,
                                            const std::string& sound, const std::string& path);
// Writes (or, at the start of the file, rewrites) the header of a 16-bit
// stereo WAV file of `frames` sample frames, leaving the file at its end.
bool writeWavHeader(FILE* file, long rate, uint64_t frames);
