#include "show/session.h"

#include "cli/command_line.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <atomic>
#include <csignal>
#include <cstdio>

// How long giving the desktop back may take once the frame loop has ended, ms.
static constexpr DWORD GIVING_BACK_LIMIT_MS = 10000;
// Exit status of a show ended at once: as on Linux for Ctrl+C.
static constexpr int EXIT_ENDED_AT_ONCE = EXIT_SIGNAL_BASE + SIGINT;
static constexpr DWORD MESSAGE_BOX_STYLE = MB_OK | MB_ICONERROR | MB_SETFOREGROUND;

// The console's handler runs on a thread of its own and reaches only what is here.
static std::atomic<int> requests;
static std::atomic<bool> requestSeen; // by the frame loop, which is then giving the desktop back
static HANDLE desktopBack;            // a manual-reset event, set once the show has given the mode back

static const char* eventName(DWORD type)
{
    switch (type) {
    case CTRL_C_EVENT: return "Ctrl+C";
    case CTRL_BREAK_EVENT: return "Ctrl+Break";
    case CTRL_CLOSE_EVENT: return "closing its console";
    default: return "the session ending";
    }
}

// Windows calls this on a thread of its own. The first request lets the
// frame in flight end the show the usual way; a second one, or that frame
// still drawing after STOP_GRACE_MS, puts the desktop's mode back from
// here and ends the process at once.
static BOOL WINAPI onConsoleEvent(DWORD type)
{
    DWORD waited = WAIT_TIMEOUT;
    if (++requests == 1) {
        waited = WaitForSingleObject(desktopBack, DWORD(STOP_GRACE_MS));
        // Past the frame, closing the window and the mode switch back can be slow too (under Wine).
        if (waited != WAIT_OBJECT_0 && requestSeen) waited = WaitForSingleObject(desktopBack, GIVING_BACK_LIMIT_MS);
    }
    if (waited == WAIT_OBJECT_0) {
        if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) return TRUE;
        // Windows ends the process when a close handler returns: let main() end it first.
        Sleep(INFINITE);
    }
    ChangeDisplaySettingsA(nullptr, 0);
    std::fprintf(stderr, "vantrop: ended at once by %s; the frame being drawn was not finished\n", eventName(type));
    TerminateProcess(GetCurrentProcess(), EXIT_ENDED_AT_ONCE);
    return TRUE;
}

// Whether the program was started with a console of its own (a double-click
// in Explorer), which nobody reads, rather than from a Command Prompt.
static bool startedOnItsOwn;

void catchStopRequests()
{
    if (desktopBack) return;
    desktopBack = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    startedOnItsOwn = letGoOfOwnConsole();
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

void rememberDesktopMode()
{
    // Windows keeps the desktop's mode itself: ChangeDisplaySettings(nullptr, 0) restores it.
}

bool stopWasRequested()
{
    if (requests == 0) return false;
    requestSeen = true;
    return true;
}

void desktopModeIsBack()
{
    if (desktopBack) SetEvent(desktopBack);
}

void tellFailuresInABox()
{
    startedOnItsOwn = true;
}

void tellStartFailure(const std::string& message)
{
    std::fprintf(stderr, "vantrop: %s\n", message.c_str());
    if (startedOnItsOwn) MessageBoxA(nullptr, message.c_str(), "vantrop could not start", MESSAGE_BOX_STYLE);
}
