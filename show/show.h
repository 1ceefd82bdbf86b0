// The show: the music opened and checked, then the display and the renderer,
// then the music started; frames until the music has played out or the user
// stops it; then the desktop back.
#pragma once
#include "shaders/pack.h"
#include "timeline/tracks.h"

// Runs the whole show at width x height (the size its renderer was built
// for; in a window with `windowed`) to the music in musicFile, timed by `schedule`, drawn with the
// build's shader or, when `readable` is given, with those sources packed
// with the schedule's values (for a schedule file) and, given `tracks`
// (from a track file), its tracks as uniforms keyed by them;
// returns the process exit status (0 for a normal end, ESC or a signal, 1
// when start-up failed, after printing why).
int runShow(const char* musicFile, int width, int height, bool windowed, const ScheduleValues& schedule,
            const ShaderSources* readable, const Tracks* tracks);
