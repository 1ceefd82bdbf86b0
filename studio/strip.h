// The studio's timeline strip as numbers: the stretch of the music it spans,
// where a millisecond falls in it and what lies under a column. Pure: the
// drawing and the mouse are the studio's.
#pragma once
#include "timeline/timeline.h"

#include <cstdint>

struct StripView {
    uint32_t startMs = 0, spanMs = 1; // the stretch shown; never empty
};

// The narrowest stretch the wheel zooms in to, milliseconds: about three beats.
inline constexpr uint32_t MIN_STRIP_SPAN_MS = 2000;

// The whole track.
StripView wholeTrack(uint32_t lengthMs);
// The millisecond under column x of a strip `width` columns wide: start + x / width × span, within the track.
uint32_t stripPositionAt(const StripView& v, double x, int width, uint32_t lengthMs);
// The column a millisecond falls in (outside 0 .. width - 1 when it is out of view).
double stripColumnOf(const StripView& v, uint32_t ms, int width);
// The first millisecond of the whole beat of `schedule` nearest to ms.
uint32_t nearestBeatMs(const ScheduleValues& schedule, uint32_t ms);
// Zoomed by `factor` (below 1 zooms in) with anchorMs kept under the same
// column; at least MIN_STRIP_SPAN_MS (or the track) and at most the track.
StripView zoomStrip(StripView v, double factor, uint32_t anchorMs, uint32_t lengthMs);
// A zoomed strip follows the playhead a page at a time: when it leaves the
// view (from previousMs, in view, to positionMs, out of it) the strip moves
// to show it a tenth of the way in; a playhead already out of view (the
// strip zoomed around the mouse elsewhere) leaves it where it is.
StripView followPlayhead(StripView v, uint32_t previousMs, uint32_t positionMs, uint32_t lengthMs);
