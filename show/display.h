// The show's screen: the display switched to the show's resolution and a
// borderless full-screen window without a cursor, or, on a screen without
// that mode or in a window, the picture scaled to fit; and its OpenGL context.
#pragma once
#include <string>

struct ShowDisplay;

// How the picture is shown: full screen in a mode of its own size; full
// screen at the desktop's own mode, scaled to fit (a screen without that
// mode); or in a resizable window, scaled to fit (F11: full screen and back).
enum class ShowScreen { ExactMode, DesktopFullScreen, Window };

// Opens the picture's place for a width x height picture: with `windowed` a
// window; else the display switched to width x height, or where it has no
// such mode, full screen at its own mode (*notice says so); the cursor
// hidden on a full screen; an OpenGL 2.0 context made current. nullptr with
// *error saying what failed, the desktop given back.
ShowDisplay* openShowDisplay(int width, int height, bool windowed, std::string* error, std::string* notice);
// The desktop's size in pixels, asked of the display; false when no display answers.
bool desktopSize(int* width, int* height);
// How it shows the picture.
ShowScreen showScreen(const ShowDisplay& display);
// Makes the next frame draw at the picture's own size, where it will be shown from.
void beginShowFrame(ShowDisplay& display);
// Looks up an OpenGL function of the show's context.
void* showGlLookup(const char* name);
// Shows the frame just drawn (scaled into the window's 16:9 box on black, where it is scaled).
void swapShowBuffers(ShowDisplay& display);
// Takes the window's events (F11 in a window: full screen and back) and
// says whether the user asked to end: ESC down now or pressed since the last
// call, the window closed, or SIGINT, SIGTERM or SIGHUP received.
bool stopRequested(ShowDisplay& display);
// Gives the desktop back: its display mode, the cursor; closes the window (none: the mode and cursor alone).
void closeShowDisplay(ShowDisplay* display);
