#include "timeline/timeline.h"

#include "timeline/for_tests.h"

#include "timeline/schedule.h"

#include <cmath>
#include <cstddef>
#include <iterator>

// Curves compute in double and round to single precision only where a value
// is stored; the constants are single-precision values used exactly.
static constexpr float PI = 3.1415927f;                   // 0x40490FDB
static constexpr float HIT_MAIN_WEIGHT = 0.10009765625f;  // 0x3DCD0000
static constexpr float HIT_ECHO_WEIGHT = 0.050048828125f; // 0x3D4D0000
static constexpr float MS_TO_SECONDS = 0.001f;            // 0x3A83126F
static constexpr float GLITCH_GAIN = 0.2f;                // 0x3E4CCCCD
static constexpr float WARP_DIP = 0.6f;                   // 0x3F19999A
static constexpr float WARP_SWELL = 0.8f;                 // 0x3F4CCCCD
static constexpr float PULSE_GAIN_STEP = 0.2f;            // 0x3E4CCCCD
// Beats over which the glitch and both warps rise and fall; the dip, six
// beats long, rises as its fall begins and the rising edge wins.
static constexpr float SLOPE_BEATS = 8.0f;
// Hit pulses, evenly spaced from the first hit beat to the last.
static constexpr int HIT_COUNT = 4;

float sectionStartBeat(const ScheduleValues& schedule, int index)
{
    return schedule.*SHOW_SECTIONS[index].start;
}

float easeIn(float x, float start, float length)
{
    if (x <= start) return 0.0f;
    if (double(x) >= double(start) + double(length)) return 1.0f;
    const double t = float((double(x) - double(start)) / double(length));
    return float(t * t * t);
}

float trapezoid(float x, float start, float rise, float fall, float end)
{
    const double dx = x;
    if (dx <= start) return 0.0f;
    if (dx >= end) return 0.0f;
    if (dx <= double(start) + double(rise)) return float((dx - start) / rise);
    if (dx >= double(end) - double(fall)) return float((double(end) - dx) / fall);
    return 1.0f;
}

float sineHump(float x, float start, float length)
{
    if (x <= start) return 1.0f;
    if (double(x) >= double(start) + double(length)) return 0.0f;
    const float angle = float((double(x) - double(start)) * double(PI) / double(length));
    return float(std::sin(double(angle)));
}

float stepAbove(float edge, float x)
{
    return edge < x ? 1.0f : 0.0f;
}

float hitPulse(const ScheduleValues& schedule, float x)
{
    // Pulse starts in beats, latest first: the first one already reached wins.
    const float spacing = (schedule.LAST_HIT_BEAT - schedule.FIRST_HIT_BEAT) / float(HIT_COUNT - 1);
    for (int i = HIT_COUNT; i-- > 0;) {
        const float start = i == HIT_COUNT - 1 ? schedule.LAST_HIT_BEAT : schedule.FIRST_HIT_BEAT + float(i) * spacing;
        if (x >= start) {
            return float(double(HIT_MAIN_WEIGHT) * sineHump(x, start + 0.5f, 0.5f) +
                         double(HIT_ECHO_WEIGHT) * sineHump(x, start + 1.0f, 0.5f));
        }
    }
    return 0.0f;
}

FrameParams computeFrameParams(const ScheduleValues& s, uint32_t positionMs)
{
    FrameParams p{};
    p.time = float(double(int32_t(positionMs)) * double(MS_TO_SECONDS));
    p.beat = float(double(p.time) / double(s.SECONDS_PER_BEAT));
    p.finale = easeIn(p.beat, s.FINALE_START_BEAT, s.FINALE_FULL_BEAT - s.FINALE_START_BEAT);
    p.glitch = float(double(trapezoid(p.beat, s.GLITCH_START_BEAT, SLOPE_BEATS, SLOPE_BEATS, s.GLITCH_END_BEAT)) *
                     double(GLITCH_GAIN));
    p.spare = 0.0f;
    p.hit = hitPulse(s, p.beat);
    // The dip is subtracted from 1 in double before the swell is added.
    p.warp = float((1.0 -
                    double(trapezoid(p.beat, s.WARP_DIP_START_BEAT, SLOPE_BEATS, SLOPE_BEATS, s.WARP_DIP_END_BEAT)) *
                        double(WARP_DIP)) +
                   double(trapezoid(p.beat, s.WARP_SWELL_START_BEAT, SLOPE_BEATS, SLOPE_BEATS, s.WARP_SWELL_END_BEAT)) *
                       double(WARP_SWELL));
    p.pulseGain =
        float(double(stepAbove(s.PULSE_GAIN_STEP_BEAT, p.beat)) * double(PULSE_GAIN_STEP) + double(PULSE_GAIN_STEP));
    return p;
}

float lastPictureBeat(const ScheduleValues& schedule)
{
    return schedule.FADE_OUT_END_BEAT - 1.0f;
}

uint32_t showEndMs(const ScheduleValues& schedule)
{
    static constexpr uint32_t MS_PER_SECOND = 1000;
    const uint32_t faded = positionAtBeat(schedule, schedule.FADE_OUT_END_BEAT);
    if (faded > INT32_MAX - MS_PER_SECOND) return faded;
    return (faded + MS_PER_SECOND - 1) / MS_PER_SECOND * MS_PER_SECOND;
}

uint32_t positionAtBeat(const ScheduleValues& schedule, float beat)
{
    // Start a few milliseconds early and walk up: rounding may put the exact
    // product on either side of the edge.
    static constexpr uint32_t MARGIN_MS = 3;
    const double estimate = double(beat) * double(schedule.SECONDS_PER_BEAT) * 1000.0;
    // Positions are signed 32-bit counts: a later beat (or no number at all) is never reached.
    if (!(estimate < double(INT32_MAX))) return INT32_MAX;
    uint32_t ms = estimate > MARGIN_MS ? uint32_t(estimate) - MARGIN_MS : 0;
    while (computeFrameParams(schedule, ms).beat < beat && ms < INT32_MAX) ++ms;
    return ms;
}

int64_t gridLineMs(const ScheduleValues& schedule, uint32_t positionMs, float beats, bool back)
{
    const double below = std::floor(double(computeFrameParams(schedule, positionMs).beat) / double(beats));
    double line = back ? below : below + 1.0;
    // A line's first millisecond is already on it: back from there is the line before.
    if (back && line >= 0.0 && positionAtBeat(schedule, float(line * double(beats))) >= positionMs) line -= 1.0;
    return line < 0.0 ? 0 : int64_t(positionAtBeat(schedule, float(line * double(beats))));
}
