#include "studio/strip.h"

#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>

// Where a followed playhead lands when the strip pages on: a tenth of the way in.
static constexpr double FOLLOW_LEAD = 0.1;

StripView wholeTrack(uint32_t lengthMs)
{
    return {0, std::max<uint32_t>(lengthMs, 1)};
}

uint32_t stripPositionAt(const StripView& v, double x, int width, uint32_t lengthMs)
{
    const double ms = double(v.startMs) + x / double(std::max(width, 1)) * double(v.spanMs);
    return uint32_t(std::clamp(ms, 0.0, double(lengthMs)));
}

double stripColumnOf(const StripView& v, uint32_t ms, int width)
{
    return (double(ms) - double(v.startMs)) * double(width) / double(v.spanMs);
}

uint32_t nearestBeatMs(const ScheduleValues& schedule, uint32_t ms)
{
    const float below = std::floor(computeFrameParams(schedule, ms).beat);
    const uint32_t before = positionAtBeat(schedule, below), after = positionAtBeat(schedule, below + 1.0f);
    return ms - std::min(ms, before) <= after - std::min(after, ms) ? before : after;
}

// Within the track: the start moved back where the span would run past its end.
static StripView clampToTrack(double startMs, double spanMs, uint32_t lengthMs)
{
    const double length = std::max<double>(lengthMs, 1.0);
    spanMs = std::clamp(spanMs, std::min<double>(MIN_STRIP_SPAN_MS, length), length);
    startMs = std::clamp(startMs, 0.0, length - spanMs);
    return {uint32_t(std::lround(startMs)), uint32_t(std::lround(spanMs))};
}

StripView zoomStrip(StripView v, double factor, uint32_t anchorMs, uint32_t lengthMs)
{
    const double span = double(v.spanMs) * factor;
    const double share = (double(anchorMs) - double(v.startMs)) / double(v.spanMs);
    return clampToTrack(double(anchorMs) - share * span, span, lengthMs);
}

static bool inView(const StripView& v, uint32_t ms)
{
    return ms >= v.startMs && ms < v.startMs + v.spanMs;
}

StripView followPlayhead(StripView v, uint32_t previousMs, uint32_t positionMs, uint32_t lengthMs)
{
    if (inView(v, positionMs) || !inView(v, previousMs)) return v;
    return clampToTrack(double(positionMs) - FOLLOW_LEAD * double(v.spanMs), v.spanMs, lengthMs);
}
