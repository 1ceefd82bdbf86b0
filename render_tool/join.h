// vantrop-render join: the parts of an export (video --part K/N), checked
// and encoded once into the video a whole export gives.
#pragma once

// Runs the command with its arguments (after "join"); returns the exit status.
int runJoin(int argc, char** argv);
