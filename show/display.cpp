#include "show/display.h"

#include "show/session.h"

#include <SDL.h>

#include <cstdlib>
#include <cstring>

static constexpr int GL_MAJOR = 2, GL_MINOR = 0;
static constexpr int COLOUR_BITS = 8, ALPHA_BITS = 8; // per channel
static constexpr int DEPTH_BITS = 32, FALLBACK_DEPTH_BITS = 24;
static constexpr int ADAPTIVE_VSYNC = -1, VSYNC = 1; // SDL's swap intervals

// Where the user finds the show built for the other screen size.
#ifdef _WIN32
static const std::string OTHER_SIZES = "vantrop.exe for 1280x720, vantrop-1080p.exe for 1920x1080";
#else
static const std::string OTHER_SIZES = "build/720p or build/1080p";
#endif

struct ShowDisplay {
    SDL_Window* window = nullptr;
    SDL_GLContext context = nullptr;
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
static bool findShowMode(int width, int height, SDL_DisplayMode& mode, std::string* error)
{
    const SDL_DisplayMode want{SDL_PIXELFORMAT_RGB888, width, height, 0, nullptr};
    if (SDL_GetClosestDisplayMode(0, &want, &mode) && mode.w == width && mode.h == height &&
        SDL_BYTESPERPIXEL(mode.format) == 4)
        return true;
    *error = "the display cannot switch to " + std::to_string(width) + "x" + std::to_string(height) +
        " at 32 bits per pixel (its modes: " + availableModes() + "); run the build made for one of these sizes (" +
        OTHER_SIZES + ")";
    return false;
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

static SDL_Window* createWindow(const SDL_DisplayMode& mode)
{
    SDL_Window* created = SDL_CreateWindow("vantrop", 0, 0, mode.w, mode.h,
                                           SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS | SDL_WINDOW_HIDDEN);
    if (!created) return nullptr;
    if (SDL_SetWindowDisplayMode(created, &mode) != 0 || SDL_SetWindowFullscreen(created, SDL_WINDOW_FULLSCREEN) != 0) {
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

// Opens what openShowDisplay promises into `d`; false with *error, leaving what it opened for closeShowDisplay.
static bool openInto(ShowDisplay& d, int width, int height, std::string* error)
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
    SDL_DisplayMode mode;
    if (!findShowMode(width, height, mode, error)) return false;
    SDL_ShowCursor(SDL_DISABLE);

    // 32 depth bits as asked; drivers without them get the closest, 24.
    requestContext(DEPTH_BITS);
    d.window = createWindow(mode);
    if (!d.window) {
        requestContext(FALLBACK_DEPTH_BITS);
        d.window = createWindow(mode);
    }
    if (!d.window) {
        *error = std::string("no full-screen OpenGL window could be opened (") + SDL_GetError() +
            "); check that the graphics driver supports OpenGL 2.0 with 8-bit RGBA";
        return false;
    }
    SDL_DisplayMode shown;
    if (SDL_GetWindowDisplayMode(d.window, &shown) != 0 || shown.w != width || shown.h != height) {
        *error = "the display did not switch to " + std::to_string(width) + "x" + std::to_string(height) +
            " (its modes: " + availableModes() + ")";
        return false;
    }
    d.context = SDL_GL_CreateContext(d.window);
    if (!d.context || SDL_GL_MakeCurrent(d.window, d.context) != 0) {
        *error = std::string("no OpenGL 2.0 context could be made (") + SDL_GetError() +
            "); install or update the graphics driver";
        return false;
    }
    // Frames are shown at the display's refresh: a GPU neither tears nor
    // draws frames nobody sees. Adaptive where the driver has it, so that a
    // late frame is shown at once instead of a whole refresh later.
    if (SDL_GL_SetSwapInterval(ADAPTIVE_VSYNC) != 0) SDL_GL_SetSwapInterval(VSYNC);
    return true;
}

ShowDisplay* openShowDisplay(int width, int height, std::string* error)
{
    auto* d = new ShowDisplay;
    if (openInto(*d, width, height, error)) return d;
    closeShowDisplay(d);
    return nullptr;
}

void* showGlLookup(const char* name)
{
    return SDL_GL_GetProcAddress(name);
}

void swapShowBuffers(ShowDisplay& d)
{
    SDL_GL_SwapWindow(d.window);
}

bool stopRequested()
{
    // Events are latched so that a quick tap between two slow frames counts.
    bool stop = stopWasRequested();
    SDL_Event event;
    while (SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT) stop = true;
        if (event.type == SDL_KEYDOWN && event.key.keysym.sym == SDLK_ESCAPE) stop = true;
    }
    const Uint8* keys = SDL_GetKeyboardState(nullptr);
    return stop || keys[SDL_SCANCODE_ESCAPE];
}

void closeShowDisplay(ShowDisplay* d)
{
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
