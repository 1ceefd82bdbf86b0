// vantrop-render video: the whole show, or a stretch of it, as an MP4 file.
#pragma once

// Runs the subcommand with its arguments (after "video"); returns the exit status.
int runVideo(int argc, char** argv);
