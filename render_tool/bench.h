// vantrop-render bench: how long the show's frames take to draw on this machine.
#pragma once

// Runs the subcommand with its arguments (after "bench"); returns the exit status.
int runBench(int argc, char** argv);
