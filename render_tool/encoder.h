// ffmpeg as the export's encoder: a process of its own fed on a pipe, and
// the WAV file that carries the sound to it.
#pragma once
#include <sys/types.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct Encoder {
    pid_t pid = -1;
    int input = -1; // raw frames go here
};

// ffmpeg's arguments for pass one: raw RGB frames of width x height (bottom
// row first) at fps on its input, encoded as H.264 in BT.709 into `path`.
std::vector<std::string> pictureEncoderArguments(int width, int height, uint32_t fps, const std::string& path);
// ffmpeg's arguments for pass two: pass one's pictures as they are and the
// WAV file's sound encoded as AAC beside them, into `path`.
std::vector<std::string> soundJoinArguments(const std::string& pictures, const std::string& sound,
                                            const std::string& path);
// Whether a program of this name is on PATH.
bool onPath(const char* program);
// Starts ffmpeg with `args`, reading raw RGB frames (bottom row first) on a
// pipe. It runs in its own process group, so that Ctrl+C reaches only this
// program, which then closes the pipe and lets ffmpeg finish a playable file.
bool startEncoder(Encoder& encoder, const std::vector<std::string>& args);
// Writes all of `size` bytes, through interruptions; false when the other end is gone.
bool writeAll(int fd, const void* data, size_t size);
// Closes the pipe, waits for ffmpeg and says how it ended: "" when it
// succeeded, otherwise what happened to it.
std::string finishEncoder(Encoder& encoder);
// Writes (or, at the start of the file, rewrites) the header of a 16-bit
// stereo WAV file of `frames` sample frames, leaving the file at its end.
bool writeWavHeader(FILE* file, long rate, uint64_t frames);
