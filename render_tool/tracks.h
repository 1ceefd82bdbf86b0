// vantrop-render tracks: the shader's tracks as a file to edit, and the sync
// tracker editors' XML in and out.
#pragma once

// Runs the command; returns the exit status.
int runTracks(int argc, char** argv);
