// The studio's transport: where the show is, whether it plays and how fast,
// and the loop. A pure state machine: keys and elapsed time in, the position
// and what the music must do out; the studio's window and the music module
// carry it out.
#pragma once
#include "timeline/timeline.h"

#include <cstdint>

enum class TransportKey {
    PlayPause,  // Space
    BeatBack,   // Left: to the whole beat before
    BeatAhead,  // Right: to the next whole beat
    BarBack,    // Shift+Left: to the bar line before
    BarAhead,   // Shift+Right: to the next bar line
    PhraseBack, // PgUp: to the 8-bar line before
    PhraseAhead,
    FrameBack,  // ,: one frame of 60 frames a second
    FrameAhead, // .
    Home,
    ShuttleBack,  // J
    ShuttleStop,  // K
    ShuttleAhead, // L: each press doubles the speed, up to 8x
    LoopIn,       // [
    LoopOut,      // ]
    ClearLoop,    // Backspace
};

struct Transport {
    uint32_t positionMs = 0;
    uint32_t lengthMs = 0; // the music's length: seeks stop there
    bool paused = false;
    int speed = 1; // 1 plays with sound; 2, 4, 8 ahead and -1 .. -8 back are silent
    bool looping = false;
    uint32_t loopInMs = 0, loopOutMs = 0;
    double fractionMs = 0;                               // what silent shuttling has advanced below a millisecond
    const ScheduleValues* schedule = &BUILT_IN_SCHEDULE; // where its beats, bars and sections are
};

// What the music has to do after a key or a tick.
struct MusicCommand {
    bool seek = false;  // start from positionMs, exactly
    bool sound = false; // play the music (false: silent, paused or shuttling)
};

// Applies a key to the transport.
MusicCommand pressKey(Transport& t, TransportKey key);
// Seeks to ms (within the track), as a click on the strip does.
MusicCommand seekTransport(Transport& t, uint32_t ms);
// Loops from one millisecond to the other (in either order); a stretch of nothing clears the loop.
MusicCommand setLoop(Transport& t, uint32_t fromMs, uint32_t toMs);
// Jumps to the start of section `index` (0 for the first); out-of-range indices do nothing.
MusicCommand jumpToSection(Transport& t, int index);
// One frame: heardMs is the music clock's position while the sound plays;
// elapsedMs the real time since the last tick, which silent shuttling
// advances by. Wraps at the loop's end.
MusicCommand tick(Transport& t, uint32_t heardMs, double elapsedMs);
// "PLAYING", "PAUSED", "2x", "-4x" ...: the transport's state in a word.
const char* transportStateText(const Transport& t);
