// The show's screen: the display switched to the show's resolution, a
// borderless full-screen window without a cursor, and its OpenGL context.
#pragma once
#include <string>

// Switches the display mode to width x height, hides the cursor, opens the window and makes an
// OpenGL 2.0 context current; *error says what failed and what exists instead.
bool openShowDisplay(int width, int height, std::string* error);
// Looks up an OpenGL function of the show's context.
void* showGlLookup(const char* name);
// Shows the frame just drawn.
void swapShowBuffers();
// Whether the user asked to end: ESC down now or pressed since the last call,
// the window closed, or SIGINT, SIGTERM or SIGHUP received.
bool stopRequested();
// Gives the desktop back: its display mode, the cursor; closes the window.
void closeShowDisplay();
