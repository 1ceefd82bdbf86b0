// What the tests reach inside the timeline: the curves the frame parameters
// are made of. No program includes it.
#pragma once
#include "timeline/timeline.h"

// Cubic rise from 0 to 1 over [start, start + length].
float easeIn(float x, float start, float length);
// Ramp up over rise, hold 1, ramp down over fall, 0 outside (start, end); the rising edge wins where they overlap.
float trapezoid(float x, float start, float rise, float fall, float end);
// 1 up to start, then a half sine from 0 up to 1 and back to 0 over length, then 0.
float sineHump(float x, float start, float length);
// 1 when x is strictly greater than edge, else 0.
float stepAbove(float edge, float x);
// The hit pulse train on four hits evenly spaced from FIRST_HIT_BEAT to LAST_HIT_BEAT; at most 0.150146484375.
float hitPulse(const ScheduleValues& schedule, float x);
