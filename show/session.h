// How the show lives in the user's session beside its window: requests to
// end that come from outside it (signals; on Windows the console's Ctrl+C
// and close), the desktop's display mode put back when the show must end at
// once, and where a failure to start is told.
#pragma once
#include <string>

// How long the frame in flight may hold up the end after the first request, milliseconds.
inline constexpr int STOP_GRACE_MS = 2000;

// Catches the session's requests to end, and on Windows lets go of a console
// of the program's own (a double-click in Explorer gives it one), whose empty
// window would stand behind the show. The first request ends the show as ESC
// does; a second, or a frame still drawing STOP_GRACE_MS after the first, puts the
// desktop's mode back and ends the process at once with 128 + the signal's
// number (130 for a Windows console's Ctrl+C or close).
void catchStopRequests();
// Notes the desktop's display mode before the show switches it.
void rememberDesktopMode();
// Whether a request to end has come.
bool stopWasRequested();
// Says the show itself has given the desktop its mode back.
void desktopModeIsBack();
// From now on a failure to start is also told in a message box (started
// from a desktop's menu, where nobody reads standard error).
void tellFailuresInABox();
// Tells why the show could not start: "vantrop: MESSAGE" on standard error,
// and in a message box where nobody reads that (a double-clicked program on
// Windows, or after tellFailuresInABox).
void tellStartFailure(const std::string& message);
