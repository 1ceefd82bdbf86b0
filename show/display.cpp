#include "show/display.h"

#include "show/session.h"

#include "render/framebuffer.h"
#include "render/gl.h"
#include "view/view.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

static constexpr int GL_MAJOR = 2, GL_MINOR = 0;
static constexpr int COLOUR_BITS = 8, ALPHA_BITS = 8; // per channel
static constexpr int DEPTH_BITS = 32, FALLBACK_DEPTH_BITS = 24;
static constexpr int ADAPTIVE_VSYNC = -1, VSYNC = 1; // SDL's swap intervals

struct ShowDisplay {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
    ShowScreen screen = ShowScreen::ExactMode;
    int width = 0, height = 0; // the picture's own size, pixels
    // Where the picture is drawn to be scaled into the window: a picture of its own size.
    ColourTarget target;
};

static std::string availableModes()
{
    std::string list;
    const int count = SDL_GetNumDisplayModes(0);
    for (int i = 0; i < count; ++i) {
        SDL_DisplayMode mode;
        if (SDL_GetDisplayMode(0, i, &mode) != 0) continue;
        const std::string entry = std::to_string(mode.w) + "x" + std::to_string(mode.h);
        if (list.find(entry) == std::string::npos) list += (list.empty() ? "" : ", ") + entry;
    }
    return list.empty() ? "none reported" : list;
}

// SDL reports no failure for a size the display lacks (it crops or offsets
// the window), so the mode is checked here: exactly the show's size, 32 bits
// per pixel (X11 reports 24 bits of colour in 4 bytes).
static bool findShowMode(int width, int height, SDL_DisplayMode& mode)
{
    const SDL_DisplayMode want{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
    return SDL_GetClosestDisplayMode(0, &want, &mode) && mode.w == width && mode.h == height &&
        SDL_BYTESPERPIXEL(mode.format) == 4;
}

static void requestContext(int depthBits)
{
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, GL_MAJOR);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, GL_MINOR);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_GL_SetAttribute(SDL_GL_RED_SIZE, COLOUR_BITS);
    SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, COLOUR_BITS);
    SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, COLOUR_BITS);
    SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, ALPHA_BITS);
    SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, depthBits);
}

// The show's window: full screen in the show's mode, full screen at the
// desktop's own mode, or a resizable window of width x height (at most the desktop's size).
static SDL_Window* createWindow(ShowScreen screen, const SDL_DisplayMode& mode, int width, int height)
{
    SDL_Rect desktop{0, 0, width, height};
    SDL_GetDisplayUsableBounds(0, &desktop);
    const ViewBox fits = pictureBoxIn(std::min(width, desktop.w), std::min(height, desktop.h));
    const Uint32 shape = screen == ShowScreen::Window ? SDL_WINDOW_RESIZABLE : SDL_WINDOW_BORDERLESS;
    SDL_Window* created = screen == ShowScreen::Window
        ? SDL_CreateWindow("vantrop", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, fits.width, fits.height,
                           SDL_WINDOW_OPENGL | shape | SDL_WINDOW_HIDDEN)
        : SDL_CreateWindow("vantrop", 0, 0, mode.w, mode.h, SDL_WINDOW_OPENGL | shape | SDL_WINDOW_HIDDEN);
    if (!created) return nullptr;
    const bool placed = screen == ShowScreen::Window ||
        (screen == ShowScreen::DesktopFullScreen ? SDL_SetWindowFullscreen(created, SDL_WINDOW_FULLSCREEN_DESKTOP) == 0
                                                 : SDL_SetWindowDisplayMode(created, &mode) == 0 &&
                 SDL_SetWindowFullscreen(created, SDL_WINDOW_FULLSCREEN) == 0);
    if (!placed) {
        SDL_DestroyWindow(created);
        return nullptr;
    }
    SDL_ShowWindow(created);
    return created;
}

// The video drivers that put a window on a screen someone looks at; SDL
// falls back to its invisible ones when it finds no display.
static bool drivesAScreen(const char* driver)
{
    return driver &&
        (std::strcmp(driver, "x11") == 0 || std::strcmp(driver, "wayland") == 0 || std::strcmp(driver, "windows") == 0);
}

// Without XDG_RUNTIME_DIR no Wayland session can be reached, and asking for
// one only makes libwayland print "error: XDG_RUNTIME_DIR is invalid..." to
// the user: X11 then, unless the user chose a driver.
static void preferX11WithoutWaylandRuntime()
{
#ifndef _WIN32
    if (!std::getenv("XDG_RUNTIME_DIR") && !std::getenv("SDL_VIDEODRIVER")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
#endif
}

#ifdef _WIN32
static const char* const NO_DESKTOP_ANSWERED = "no Windows desktop answered";
static const char* const DESKTOP_HINT = "";
#else
static const char* const NO_DESKTOP_ANSWERED = "no X or Wayland session answered";
static const char* const DESKTOP_HINT = " (DISPLAY or WAYLAND_DISPLAY set)";
#endif

// The picture the show is drawn into at its own size, to be scaled into
// the window; false with *error when the driver cannot draw one.
static bool makeScalingTarget(ShowDisplay& d, std::string* error)
{
    if (makeColourTarget(showGlLookup, d.width, d.height, d.target, error)) return true;
    *error += "; or run the show on a screen with its own mode";
    return false;
}

// The window and its context; false with *error.
static bool openWindow(ShowDisplay& d, const SDL_DisplayMode& mode, std::string* error)
{
    // 32 depth bits as asked; drivers without them get the closest, 24.
    requestContext(DEPTH_BITS);
    d.window = createWindow(d.screen, mode, d.width, d.height);
    if (!d.window) {
        requestContext(FALLBACK_DEPTH_BITS);
        d.window = createWindow(d.screen, mode, d.width, d.height);
    }
    if (!d.window) {
        *error = std::string("no OpenGL window could be opened (") + SDL_GetError() +
            "); check that the graphics driver supports OpenGL 2.0 with 8-bit RGBA";
        return false;
    }
    SDL_DisplayMode shown;
    if (d.screen == ShowScreen::ExactMode &&
        (SDL_GetWindowDisplayMode(d.window, &shown) != 0 || shown.w != d.width || shown.h != d.height)) {
        *error = "the display did not switch to " + std::to_string(d.width) + "x" + std::to_string(d.height) +
            " (its modes: " + availableModes() + ")";
        return false;
    }
    d.context = SDL_GL_CreateContext(d.window);
    if (!d.context || SDL_GL_MakeCurrent(d.window, d.context) != 0) {
        *error = std::string("no OpenGL 2.0 context could be made (") + SDL_GetError() +
            "); install or update the graphics driver";
        return false;
    }
    return d.screen == ShowScreen::ExactMode || makeScalingTarget(d, error);
}

// Opens what openShowDisplay promises into `d`; false with *error, leaving what it opened for closeShowDisplay.
static bool openInto(ShowDisplay& d, bool windowed, std::string* error, std::string* notice)
{
    preferX11WithoutWaylandRuntime();
    // On a Windows desktop scaled above 100%, the window and the mode are
    // then in real pixels rather than scaled ones.
    SDL_SetHint(SDL_HINT_WINDOWS_DPI_AWARENESS, "permonitorv2");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show on (") + SDL_GetError() + "); start vantrop from a desktop session";
        return false;
    }
    if (!drivesAScreen(SDL_GetCurrentVideoDriver())) {
        *error = std::string("no display to show on (") + NO_DESKTOP_ANSWERED + "; SDL offered its invisible '" +
            SDL_GetCurrentVideoDriver() + "' driver); start vantrop from a desktop session" + DESKTOP_HINT;
        return false;
    }
    rememberDesktopMode();
    SDL_DisplayMode mode{};
    const std::string size = std::to_string(d.width) + "x" + std::to_string(d.height);
    if (windowed) {
        d.screen = ShowScreen::Window;
    } else if (!findShowMode(d.width, d.height, mode)) {
        d.screen = ShowScreen::DesktopFullScreen;
        SDL_DisplayMode desktop{};
        SDL_GetDesktopDisplayMode(0, &desktop);
        *notice = "the display has no " + size + " mode (its modes: " + availableModes() +
            "); the picture is drawn at " + size + " and scaled to the desktop's " + std::to_string(desktop.w) + "x" +
            std::to_string(desktop.h);
    }
    if (d.screen != ShowScreen::Window) SDL_ShowCursor(SDL_DISABLE);
    if (!openWindow(d, mode, error)) return false;
    // Frames are shown at the display's refresh: a GPU neither tears nor
    // draws frames nobody sees. Adaptive where the driver has it, so that a
    // late frame is shown at once instead of a whole refresh later.
    if (SDL_GL_SetSwapInterval(ADAPTIVE_VSYNC) != 0) SDL_GL_SetSwapInterval(VSYNC);
    return true;
}

ShowDisplay* openShowDisplay(int width, int height, bool windowed, std::string* error, std::string* notice)
{
    auto* d = new ShowDisplay;
    d->width = width;
    d->height = height;
    if (openInto(*d, windowed, error, notice)) return d;
    closeShowDisplay(d);
    return nullptr;
}

bool desktopSize(int* width, int* height)
{
    preferX11WithoutWaylandRuntime();
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    SDL_DisplayMode desktop{};
    const bool known = drivesAScreen(SDL_GetCurrentVideoDriver()) && SDL_GetDesktopDisplayMode(0, &desktop) == 0;
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    *width = desktop.w;
    *height = desktop.h;
    return known;
}

ShowScreen showScreen(const ShowDisplay& d)
{
    return d.screen;
}

void beginShowFrame(ShowDisplay& d)
{
    if (d.target.framebuffer) d.target.gl.glBindFramebuffer(GL_FRAMEBUFFER, d.target.framebuffer);
    glViewport(0, 0, d.width, d.height);
}

void* showGlLookup(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

void swapShowBuffers(ShowDisplay& d)
{
    if (d.target.framebuffer) {
        // The picture scaled into the window's 16:9 box, on black.
        const FramebufferFunctions& gl = d.target.gl;
        int w = 0, h = 0;
        SDL_GL_GetDrawableSize(d.window, &w, &h);
        const ViewBox box = pictureBoxIn(w, h);
        gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
        glViewport(0, 0, w, h);
        glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
        glClear(GL_COLOR_BUFFER_BIT);
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, d.target.framebuffer);
        gl.glBlitFramebuffer(0, 0, d.width, d.height, box.x, box.y, box.x + box.width, box.y + box.height,
                             GL_COLOR_BUFFER_BIT, GL_LINEAR);
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }
    SDL_GL_SwapWindow(d.window);
}

bool stopRequested(ShowDisplay& d)
{
    // Events are latched so that a quick tap between two slow frames counts.
    bool stop = stopWasRequested();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) stop = true;
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) stop = true;
        // A window goes full screen at the desktop's mode and back.
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_F11 && d.screen == ShowScreen::Window) {
            const bool full = SDL_GetWindowFlags(d.window) & SDL_WINDOW_FULLSCREEN_DESKTOP;
            SDL_SetWindowFullscreen(d.window, full ? 0 : SDL_WINDOW_FULLSCREEN_DESKTOP);
        }
    }
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return stop || keys[SDL_SCANCODE_ESCAPE];
}

void closeShowDisplay(ShowDisplay* d)
{
    if (d) deleteColourTarget(d->target);
    if (d && d->context) SDL_GL_DeleteContext(d->context);
    if (d && d->window) {
        SDL_SetWindowFullscreen(d->window, 0);
        SDL_DestroyWindow(d->window);
    }
    delete d;
    SDL_ShowCursor(SDL_ENABLE);
    SDL_Quit();
    desktopModeIsBack();
}
