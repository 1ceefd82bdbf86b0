// vantrop-render sheet: a contact sheet of stills over the whole show.
#pragma once

// Runs the subcommand with its arguments (after "sheet"); returns the exit status.
int runSheet(int argc, char** argv);
