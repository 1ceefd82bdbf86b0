// The studio's window: opened with its OpenGL context and renderer, the
// picture drawn into it band by band, shown in its 16:9 box, and closed.
#include "render/renderer.h"
#include "studio/studio.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>

// A frame is drawn in horizontal bands of about this many milliseconds each,
// with a look at the window's events between them: ESC and closing the
// window are answered within about this long, whatever a whole frame costs.
static constexpr double BAND_MS = 100.0;
// Events looked at between bands, at most.
static constexpr int EVENTS_PEEKED = 64;

bool openWindow(Studio& s, const StudioOptions& o, std::string* error)
{
    // Without XDG_RUNTIME_DIR there is no Wayland to reach, and trying makes
    // libwayland print an error of its own: X11 then, unless a driver is chosen.
#ifndef _WIN32
    if (!std::getenv("XDG_RUNTIME_DIR") && !std::getenv("SDL_VIDEODRIVER")) SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
#endif
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no display to show on (") + SDL_GetError() + "); start it from a desktop session";
        return false;
    }
    const char* driver = SDL_GetCurrentVideoDriver();
    if (!driver ||
        (std::strcmp(driver, "x11") != 0 && std::strcmp(driver, "wayland") != 0 &&
         std::strcmp(driver, "windows") != 0)) {
        *error = "no display to show on (no X or Wayland session answered); start it from a desktop session";
        return false;
    }
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    s.window = SDL_CreateWindow("vantrop-studio", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, o.width, o.height,
                                SDL_WINDOW_OPENGL | SDL_WINDOW_RESIZABLE);
    if (!s.window) {
        *error = std::string("no OpenGL window could be opened (") + SDL_GetError() + "); check the graphics driver";
        return false;
    }
    s.context = SDL_GL_CreateContext(s.window);
    if (!s.context || SDL_GL_MakeCurrent(s.window, s.context) != 0) {
        *error = std::string("no OpenGL context could be made (") + SDL_GetError() + "); check the graphics driver";
        return false;
    }
    bool found = true;
#define VANTROP_STUDIO_GL_LOOKUP(type, name) found = (s.gl.name = type(SDL_GL_GetProcAddress(#name))) && found;
    VANTROP_STUDIO_GL_FUNCTIONS(VANTROP_STUDIO_GL_LOOKUP)
#undef VANTROP_STUDIO_GL_LOOKUP
    if (!found) {
        *error = std::string("the OpenGL driver (") + reinterpret_cast<const char*>(glGetString(GL_RENDERER)) +
            ") has no framebuffer objects (OpenGL 3.0); update the graphics driver";
        return false;
    }
    if (SDL_GL_SetSwapInterval(-1) != 0) SDL_GL_SetSwapInterval(1);
    s.renderer = createRenderer(SDL_GL_GetProcAddress, error);
    // The schedule's values and the tracks reach the programs through
    // uniforms: a schedule edit, a dragged section or a key builds no new program.
    s.readable = createReadablePrograms(true, true);
    return s.renderer != nullptr;
}

void closeWindow(Studio& s)
{
    destroyReadablePrograms(s.readable);
    destroyRenderer(s.renderer);
    if (s.context) SDL_GL_DeleteContext(s.context);
    if (s.window) SDL_DestroyWindow(s.window);
    s.readable = nullptr;
    s.renderer = nullptr;
    s.context = nullptr;
    s.window = nullptr;
}

// Whether the window has been asked to close (ESC, or closing it), the
// events left in the queue for the frame loop to take.
static bool quitAsked()
{
    SDL_PumpEvents();
    SDL_Event events[EVENTS_PEEKED];
    const int count = SDL_PeepEvents(events, EVENTS_PEEKED, SDL_PEEKEVENT, SDL_QUIT, SDL_KEYDOWN);
    for (int i = 0; i < count; ++i)
        if (events[i].type == SDL_QUIT || (events[i].type == SDL_KEYDOWN && events[i].key.keysym.sym == SDLK_ESCAPE))
            return true;
    return false;
}

bool drawPicture(Studio& s, uint32_t positionMs, double& msPerPixel)
{
    const double pixels = double(s.drawWidth) * double(s.drawHeight);
    const int bands = std::clamp(int(std::ceil(msPerPixel * pixels / BAND_MS)), 1, s.drawHeight);
    const auto started = std::chrono::steady_clock::now();
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, s.framebuffer);
    glViewport(0, 0, s.drawWidth, s.drawHeight);
    glEnable(GL_SCISSOR_TEST);
    bool whole = true;
    for (int band = 0; band < bands && whole; ++band) {
        const int y0 = s.drawHeight * band / bands, y1 = s.drawHeight * (band + 1) / bands;
        glScissor(0, y0, s.drawWidth, y1 - y0);
        renderFrame(*s.renderer, s.schedule, positionMs);
        glFinish();
        whole = !quitAsked();
    }
    glDisable(GL_SCISSOR_TEST);
    s.gl.glBindFramebuffer(GL_FRAMEBUFFER, 0);
    if (whole)
        msPerPixel =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count() / pixels;
    return whole;
}

void showPicture(Studio& s)
{
    const ViewBox box = windowPictureBox(s.window);
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    glViewport(0, 0, w, h);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    s.gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, s.framebuffer);
    s.gl.glBlitFramebuffer(0, 0, s.drawWidth, s.drawHeight, box.x, box.y, box.x + box.width, box.y + box.height,
                           GL_COLOR_BUFFER_BIT, s.scale == 1 ? GL_NEAREST : GL_LINEAR);
    s.gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    glFinish();
}

bool windowShowsNothing(const Studio& s)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    return (SDL_GetWindowFlags(s.window) & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED)) || w < ASPECT_W || h < ASPECT_H;
}
