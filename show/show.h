// The show: display, renderer and music started in that order, then frames
// until the music has played out or the user stops it, then the desktop back.
#pragma once

// Runs the whole show; returns the process exit status (0 for a normal end
// or ESC, 1 when start-up failed, after printing why).
int runShow();
