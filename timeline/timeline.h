// The show's clock and choreography: the music position becomes the eight
// floats that the scene shader reads as the uniform m.
#pragma once
#include "timeline/schedule.h"

#include <cstdint>
#include <iterator>

// The show's tempo, beats per minute.
inline constexpr int BEATS_PER_MINUTE = 88;
// Beats in a bar of the show's music.
inline constexpr int BEATS_PER_BAR = 4;
// Seconds per beat as the show computes with it: 60 / 88 written to five
// places as a single-precision constant (every beat of the schedule lands
// where this value puts it, so it stays as it is).
inline constexpr float SECONDS_PER_BEAT = 0.68182f;
static_assert(60.0 / BEATS_PER_MINUTE - SECONDS_PER_BEAT < 1e-5 && SECONDS_PER_BEAT - 60.0 / BEATS_PER_MINUTE < 1e-5,
              "SECONDS_PER_BEAT is the tempo's beat length");

// A schedule: every name of VANTROP_SCHEDULE and the beat's length. Every
// function below that times the show takes the one in use from its caller:
// the built-in one, or one a schedule file gave (timeline/schedule_file.h).
// The shader packer writes the same values.
struct ScheduleValues {
#define VANTROP_SCHEDULE_MEMBER(name, value) float name = value;
    VANTROP_SCHEDULE(VANTROP_SCHEDULE_MEMBER)
#undef VANTROP_SCHEDULE_MEMBER
    float SECONDS_PER_BEAT = ::SECONDS_PER_BEAT;
};
// The show's own schedule.
inline constexpr ScheduleValues BUILT_IN_SCHEDULE{};

// The show's sections in order, for jumping between them: a name and the schedule's name of the beat it starts on.
struct ShowSection {
    const char* name;
    float ScheduleValues::*start;
};
inline constexpr ShowSection SHOW_SECTIONS[] = {
    {"intro", &ScheduleValues::FADE_IN_START_BEAT}, {"build-up", &ScheduleValues::INTRO_BARS_START_BEAT},
    {"hits", &ScheduleValues::FIRST_HIT_BEAT},      {"flashes", &ScheduleValues::FLASHES_START_BEAT},
    {"warp", &ScheduleValues::WARP_DIP_START_BEAT}, {"glitch", &ScheduleValues::GLITCH_START_BEAT},
    {"finale", &ScheduleValues::FINALE_START_BEAT}, {"fade-out", &ScheduleValues::FADE_OUT_START_BEAT},
};
inline constexpr int SHOW_SECTION_COUNT = int(std::size(SHOW_SECTIONS));
// The beat section `index` starts on.
float sectionStartBeat(const ScheduleValues& schedule, int index);

// The uniform block m: m[0] = (time, finale, glitch, spare), m[1] = (beat, hit, warp, pulseGain).
struct FrameParams {
    float time;      // music position, seconds
    float finale;    // 0 until FINALE_START_BEAT, eases in to 1 at FINALE_FULL_BEAT
    float glitch;    // 0..0.2 from GLITCH_START_BEAT to GLITCH_END_BEAT
    float spare;     // always 0
    float beat;      // music position, beats
    float hit;       // the hit pulse train from FIRST_HIT_BEAT to LAST_HIT_BEAT
    float warp;      // lattice warp scale, always positive
    float pulseGain; // 0.2, or 0.4 once the beat is past PULSE_GAIN_STEP_BEAT
};
static_assert(sizeof(FrameParams) == 8 * sizeof(float), "FrameParams is uploaded as two vec4");

// The first whole millisecond whose frame has reached this beat (INT32_MAX for beats beyond the last position).
uint32_t positionAtBeat(const ScheduleValues& schedule, float beat);
// The first millisecond on the next line of a grid every `beats` beats after
// positionMs (with `back`, the line before it; 0 before the first), so that
// a step from between two lines lands on one and a step from a line on the next.
int64_t gridLineMs(const ScheduleValues& schedule, uint32_t positionMs, float beats, bool back);
// The last beat with a picture worth showing: the one before the fade-out's
// end, after which the picture is black.
float lastPictureBeat(const ScheduleValues& schedule);
// The whole second by which the picture has faded out,
// milliseconds (69000 for the built-in one, whose fade-out ends at 68.86 s):
// where an export without music ends, and the placeholder track's length less one second.
uint32_t showEndMs(const ScheduleValues& schedule);
// The parameters of the frame shown at this music position (milliseconds, read as a signed 32-bit count).
FrameParams computeFrameParams(const ScheduleValues& schedule, uint32_t positionMs);
