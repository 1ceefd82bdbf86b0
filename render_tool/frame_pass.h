// A video export's first pass: the frames drawn headless, read back through
// two pixel buffers and piped to ffmpeg, each frame's stretch of the music
// written to a WAV file in step with it.
#pragma once
#include "music/music.h"
#include "process/child.h"
#include "render_tool/offline.h"

#include <csignal>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

struct FramePass {
    Offline* offline = nullptr;
    uint32_t from = 0, fps = 0;              // frame n shows from + floor(n * 1000 / fps) ms
    uint32_t firstFrame = 0, frameCount = 0; // the frames drawn: from firstFrame on (a part's)
    int width = 0, height = 0;
    MusicReader* music = nullptr; // none: a silent video
    long rate = 0;                // the music's sample rate
    FILE* soundFile = nullptr;    // the WAV file its sound goes to
    Child* encoder = nullptr;
    bool stopWhenInputEnds = false;
    const volatile std::sig_atomic_t* interrupted = nullptr; // set by a signal: stop after this frame
};

struct FramesDone {
    uint32_t sent = 0;                  // frames ffmpeg took
    uint64_t soundFrames = 0;           // sample frames written to the WAV file
    bool soundWritten = true;           // every write of sound succeeded
    bool pipeBroken = false;            // ffmpeg stopped taking frames
    bool inputEnded = false;            // stopped by the end of this program's input
    std::string ffmpegSaid, ffmpegLast; // ffmpeg's unfinished line, and its last whole one
};

// Whether the driver has the pixel buffers (OpenGL 1.5) that the pass reads frames back through.
bool hasPixelBuffers(const Offline& offline);
// Draws and sends every frame until done, a signal, the end of input (with
// stopWhenInputEnds) or ffmpeg's going, passing on ffmpeg's lines and
// showing progress (a line kept current on a terminal, else every tenth).
FramesDone sendFrames(const FramePass& pass);
// Writes the sound of frame n (sample frames n * RATE / FPS up to
// (n + 1) * RATE / FPS) from `music` to `file`, counting in done.soundFrames.
void writeFrameSound(MusicReader* music, long rate, uint32_t fps, uint32_t n, FILE* file, FramesDone& done,
                     std::vector<int16_t>& samples);
// Passes ffmpeg's whole lines in `pending` on to standard error, naming it
// and the command, and keeps the last in `last`.
void passOnLines(std::string& pending, std::string& last, const char* command = "vantrop-render video");
// ffmpeg beside this program or on PATH; "" after `command` has said where to get it.
std::string findFfmpeg(const std::string& command);
// Waits for an ffmpeg whose input has ended: "" when it succeeded, or what went wrong in its own words.
std::string finishFfmpeg(Child& ffmpeg, std::string& pending, std::string& last);
// "1:05": seconds as minutes and seconds, rounded.
std::string clockText(double seconds);
