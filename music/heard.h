// The rule of the clock, the same for every player of the show (the native
// audio device, the browser's audio context): what is heard, from the last
// time stamp of the sound handed out, and the position a frame shows.
// Depends on nothing, so the web build compiles it too.
#pragma once
#include <cstdint>

// What a player records each time sound is handed to its device.
struct AudioStamp {
    uint64_t framesBefore; // sample frames handed over before this buffer
    uint64_t bufferFrames; // sample frames in this buffer
    int64_t handedAtUs;    // when it was handed over, microseconds of a steady clock
};
// The sample frame being heard at nowUs, given the last stamp, the frames
// still queued ahead of a buffer when it is handed over, and the rate in Hz:
// advances in real time from the stamp, never beyond the frames handed over.
uint64_t heardFrame(const AudioStamp& stamp, int64_t nowUs, uint64_t latencyFrames, long rate);
// The millisecond a frame shows: the one heard, never before the last shown,
// and at least the track's length once all of it has been played.
uint32_t nextShownMs(uint32_t lastShownMs, uint64_t heardMs, bool playedOut, uint32_t lengthMs);
