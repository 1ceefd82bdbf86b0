// The show's screen: the display switched to the show's resolution, a
// borderless full-screen window without a cursor, and its OpenGL context.
#pragma once
#include <string>

struct ShowDisplay;

// Switches the display mode to width x height, hides the cursor, opens the
// window and makes an OpenGL 2.0 context current; nullptr with *error saying
// what failed and what exists instead, the desktop given back.
ShowDisplay* openShowDisplay(int width, int height, std::string* error);
// Looks up an OpenGL function of the show's context.
void* showGlLookup(const char* name);
// Shows the frame just drawn.
void swapShowBuffers(ShowDisplay& display);
// Whether the user asked to end: ESC down now or pressed since the last call,
// the window closed, or SIGINT, SIGTERM or SIGHUP received.
bool stopRequested();
// Gives the desktop back: its display mode, the cursor; closes the window (none: the mode and cursor alone).
void closeShowDisplay(ShowDisplay* display);
