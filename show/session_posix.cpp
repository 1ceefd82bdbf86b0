#include "show/session.h"

#include "cli/command_line.h"

#include <SDL.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xrandr.h>
#include <semaphore.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <thread>
#include <vector>

// The signal handler and the thread it wakes reach only what is here: the
// signal's number, and the desktop's mode to put back when a frame will not end.
static volatile std::sig_atomic_t signalled;
static volatile std::sig_atomic_t signalNumber;
static sem_t signalPosted;
static std::atomic<bool> desktopGivenBack;

// The desktop's screen as it was before the mode switch, to be put back over
// a connection of our own when the show must end while its own thread is
// stuck in a frame.
struct SavedCrtc {
    RRCrtc crtc;
    RRMode mode;
    int x, y;
    Rotation rotation;
    std::vector<RROutput> outputs;
};
static std::string desktopDisplayName;
static std::vector<SavedCrtc> desktopCrtcs;
// The screen's size in pixels and millimetres: a mode switch shrinks the
// screen to the show's size, and the desktop's mode fits only once it is back.
static int desktopWidth, desktopHeight, desktopWidthMm, desktopHeightMm;

void rememberDesktopMode()
{
    const char* name = std::getenv("DISPLAY");
    Display* display = name ? XOpenDisplay(name) : nullptr;
    if (!display) return;
    int eventBase, errorBase;
    if (XRRQueryExtension(display, &eventBase, &errorBase)) {
        if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, DefaultRootWindow(display))) {
            for (int i = 0; i < resources->ncrtc; ++i) {
                XRRCrtcInfo* info = XRRGetCrtcInfo(display, resources, resources->crtcs[i]);
                if (!info) continue;
                if (info->mode != None)
                    desktopCrtcs.push_back({resources->crtcs[i], info->mode, info->x, info->y, info->rotation,
                                            std::vector<RROutput>(info->outputs, info->outputs + info->noutput)});
                XRRFreeCrtcInfo(info);
            }
            XRRFreeScreenResources(resources);
        }
    }
    const int screen = DefaultScreen(display);
    desktopWidth = DisplayWidth(display, screen);
    desktopHeight = DisplayHeight(display, screen);
    desktopWidthMm = DisplayWidthMM(display, screen);
    desktopHeightMm = DisplayHeightMM(display, screen);
    desktopDisplayName = name;
    XCloseDisplay(display);
}

// The process ends right after the restore: an X error there (a server that
// refuses a step) must not end it first with Xlib's exit status 1.
static int ignoreXError(Display*, XErrorEvent*)
{
    return 0;
}

static void restoreDesktopModeDirectly()
{
    Display* display = desktopCrtcs.empty() ? nullptr : XOpenDisplay(desktopDisplayName.c_str());
    if (!display) return;
    XSetErrorHandler(ignoreXError);
    const Window root = DefaultRootWindow(display);
    if (XRRScreenResources* resources = XRRGetScreenResourcesCurrent(display, root)) {
        // As xrandr does: the screens off, the screen back to the desktop's
        // size, then each screen in its mode again.
        for (SavedCrtc& c : desktopCrtcs)
            XRRSetCrtcConfig(display, resources, c.crtc, CurrentTime, 0, 0, None, RR_Rotate_0, nullptr, 0);
        XRRSetScreenSize(display, root, desktopWidth, desktopHeight, desktopWidthMm, desktopHeightMm);
        for (SavedCrtc& c : desktopCrtcs)
            XRRSetCrtcConfig(display, resources, c.crtc, CurrentTime, c.x, c.y, c.mode, c.rotation, c.outputs.data(),
                             int(c.outputs.size()));
        XRRFreeScreenResources(resources);
    }
    XSync(display, False);
    XCloseDisplay(display);
}

static void onSignal(int number)
{
    signalNumber = number;
    signalled = 1;
    sem_post(&signalPosted);
}

// Waits for the first signal, then gives the frame in flight STOP_GRACE_MS
// to end the show the usual way; a second signal or the end of that grace
// puts the desktop's mode back from here and ends the process at once, so
// that no frame, however slow, keeps the user's screen.
static void watchSignals()
{
    while (sem_wait(&signalPosted) != 0 && errno == EINTR) {}
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += STOP_GRACE_MS / 1000;
    deadline.tv_nsec += long(STOP_GRACE_MS % 1000) * 1000000;
    if (deadline.tv_nsec >= 1000000000) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000;
    }
    const bool second = [&] {
        int result;
        while ((result = sem_timedwait(&signalPosted, &deadline)) != 0 && errno == EINTR) {}
        return result == 0;
    }();
    if (desktopGivenBack && !second) return; // the show ended the usual way and is on its way out
    restoreDesktopModeDirectly();
    std::fprintf(stderr, "vantrop: ended at once by signal %d; the frame being drawn was not finished\n",
                 int(signalNumber));
    _exit(EXIT_SIGNAL_BASE + signalNumber);
}

// SDL leaves handlers that are already installed alone, so these are ours.
void catchStopRequests()
{
    static bool watching = false;
    if (!watching) {
        sem_init(&signalPosted, 0, 0);
        std::thread(watchSignals).detach();
        watching = true;
    }
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

bool stopWasRequested()
{
    return signalled != 0;
}

void desktopModeIsBack()
{
    desktopGivenBack = true;
}

static bool inABox;

void tellFailuresInABox()
{
    inABox = true;
}

void tellStartFailure(const std::string& message)
{
    std::fprintf(stderr, "vantrop: %s\n", message.c_str());
    // The box is as wide as its longest line: wrapped, it fits any screen.
    if (inABox)
        SDL_ShowSimpleMessageBox(SDL_MESSAGEBOX_ERROR, "vantrop could not start",
                                 wrapText(message, MESSAGE_BOX_COLUMNS).c_str(), nullptr);
}
