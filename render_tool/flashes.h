// vantrop-render flashes: the show measured against the photosensitivity
// thresholds, frame by frame.
#pragma once

// Runs the command with its arguments (after "flashes"); returns the exit status.
int runFlashes(int argc, char** argv);
