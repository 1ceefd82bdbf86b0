#include "render/headless.h"

#include "image/png_file.h"
#include "render/framebuffer.h"
#include "render/gl.h"

#include <SDL.h>
#ifdef VANTROP_HAVE_EGL
#include <EGL/egl.h>
#include <EGL/eglext.h>
#endif

#include <cstdio>
#include <cstring>

// Where the context came from: EGL where it exists, else a hidden window.
enum HeadlessBackend { NO_CONTEXT, EGL_CONTEXT, WINDOW_CONTEXT };

struct HeadlessContext {
    HeadlessBackend backend = NO_CONTEXT;
    SDL_Window* hiddenWindow = nullptr;
    SDL_GLContext windowContext = nullptr;
    ColourTarget target; // what the tools draw into
#ifdef VANTROP_HAVE_EGL
    EGLDisplay display = EGL_NO_DISPLAY;
    EGLContext context = EGL_NO_CONTEXT;
#endif
};

#ifdef VANTROP_HAVE_EGL

static bool hasExtension(const char* list, const char* name)
{
    if (!list) return false;
    const size_t length = std::strlen(name);
    for (const char* at = std::strstr(list, name); at; at = std::strstr(at + 1, name)) {
        if ((at == list || at[-1] == ' ') && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

// Prefers a real GPU through the device platform when the vendor library
// offers one other than Mesa's software device; otherwise Mesa's surfaceless
// platform, which runs on llvmpipe without any display.
static EGLDisplay openDisplay(std::string* error)
{
    const char* clientExtensions = eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS);
    auto getPlatformDisplay =
        reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(eglGetProcAddress("eglGetPlatformDisplayEXT"));
    if (!clientExtensions || !getPlatformDisplay) {
        *error =
            "no EGL platform support found: install Mesa's EGL driver (Debian package libegl-mesa0) "
            "or your GPU vendor's EGL library";
        return EGL_NO_DISPLAY;
    }
    if (hasExtension(clientExtensions, "EGL_EXT_platform_device")) {
        auto queryDevices = reinterpret_cast<PFNEGLQUERYDEVICESEXTPROC>(eglGetProcAddress("eglQueryDevicesEXT"));
        auto queryDeviceString =
            reinterpret_cast<PFNEGLQUERYDEVICESTRINGEXTPROC>(eglGetProcAddress("eglQueryDeviceStringEXT"));
        EGLDeviceEXT devices[8];
        EGLint count = 0;
        if (queryDevices && queryDevices(8, devices, &count)) {
            for (EGLint i = 0; i < count; ++i) {
                const char* extensions = queryDeviceString ? queryDeviceString(devices[i], EGL_EXTENSIONS) : nullptr;
                // Mesa lists its software renderer as a device too; the surfaceless platform covers it.
                if (hasExtension(extensions, "EGL_MESA_device_software")) continue;
                EGLDisplay gpu = getPlatformDisplay(EGL_PLATFORM_DEVICE_EXT, devices[i], nullptr);
                if (gpu != EGL_NO_DISPLAY && eglInitialize(gpu, nullptr, nullptr)) return gpu;
            }
        }
    }
    if (hasExtension(clientExtensions, "EGL_MESA_platform_surfaceless")) {
        EGLDisplay surfaceless = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
        if (surfaceless != EGL_NO_DISPLAY && eglInitialize(surfaceless, nullptr, nullptr)) return surfaceless;
    }
    *error =
        "no headless OpenGL display could be opened: install Mesa's EGL driver and software renderer "
        "(Debian packages libegl-mesa0 and libgl1-mesa-dri)";
    return EGL_NO_DISPLAY;
}

static bool openEglContext(HeadlessContext& h, std::string* error)
{
    EGLDisplay& display = h.display;
    display = openDisplay(error);
    if (display == EGL_NO_DISPLAY) return false;
    if (!eglBindAPI(EGL_OPENGL_API)) {
        *error = "the EGL driver offers no desktop OpenGL; install Mesa's EGL driver (libegl-mesa0)";
        return false;
    }
    const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_NONE};
    EGLConfig config = nullptr;
    EGLint configCount = 0;
    const bool haveConfig = eglChooseConfig(display, configAttributes, &config, 1, &configCount) && configCount > 0;
    const EGLint contextAttributes[] = {EGL_CONTEXT_MAJOR_VERSION,
                                        2,
                                        EGL_CONTEXT_MINOR_VERSION,
                                        0,
                                        EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                        EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT,
                                        EGL_NONE};
    EGLContext& context = h.context;
    context = eglCreateContext(display, haveConfig ? config : EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, contextAttributes);
    if (context == EGL_NO_CONTEXT || !eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
        char code[16];
        std::snprintf(code, sizeof code, "0x%04X", unsigned(eglGetError()));
        *error = std::string("no OpenGL 2.0 compatibility context could be made current without a window (EGL error ") +
            code + "); install Mesa's EGL driver (libegl-mesa0) or update your GPU driver";
        return false;
    }
    return true;
}

// The display itself stays initialised: an EGL display is the process's
// (asking for it again gives the same one), and terminating it unloads the
// driver, whose process-wide allocations then look leaked from a module that
// is gone, to a leak checker no suppression can tell.
static void closeEglContext(HeadlessContext& h)
{
    eglMakeCurrent(h.display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    if (h.context != EGL_NO_CONTEXT) eglDestroyContext(h.display, h.context);
    h.display = EGL_NO_DISPLAY;
    h.context = EGL_NO_CONTEXT;
}

static void* eglLookup(const char* name)
{
    return reinterpret_cast<void*>(eglGetProcAddress(name));
}
#endif

// Lets go of what the context holds, whichever part of it was opened.
static void releaseContext(HeadlessContext& h)
{
#ifdef VANTROP_HAVE_EGL
    if (h.display != EGL_NO_DISPLAY) closeEglContext(h);
#endif
    if (h.windowContext) SDL_GL_DeleteContext(h.windowContext);
    if (h.hiddenWindow) SDL_DestroyWindow(h.hiddenWindow);
    if (h.backend == WINDOW_CONTEXT) SDL_QuitSubSystem(SDL_INIT_VIDEO);
    h = HeadlessContext{};
}

// Where EGL is missing (Windows, or a Linux without Mesa's EGL driver): a
// window that is never shown, whose context draws only into the offscreen
// framebuffer, so the pixels are the same as through EGL on the same driver.
static bool openHiddenWindowContext(HeadlessContext& h, std::string* error)
{
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        *error = std::string("no window system for a hidden OpenGL window (") + SDL_GetError() + ")";
        return false;
    }
    h.backend = WINDOW_CONTEXT;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 2);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    h.hiddenWindow = SDL_CreateWindow("vantrop-render", 0, 0, 16, 16, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    h.windowContext = h.hiddenWindow ? SDL_GL_CreateContext(h.hiddenWindow) : nullptr;
    if (!h.windowContext || SDL_GL_MakeCurrent(h.hiddenWindow, h.windowContext) != 0) {
        *error = std::string("no OpenGL 2.0 context in a hidden window (") + SDL_GetError() +
            "); install or update the graphics driver";
        releaseContext(h);
        return false;
    }
    return true;
}

HeadlessContext* openHeadlessContext(std::string* error)
{
    auto* h = new HeadlessContext;
    std::string eglError;
#ifdef VANTROP_HAVE_EGL
    if (openEglContext(*h, &eglError)) {
        h->backend = EGL_CONTEXT;
        return h;
    }
    releaseContext(*h);
    eglError += "; ";
#endif
    if (openHiddenWindowContext(*h, error)) return h;
    *error = eglError + *error;
    delete h;
    return nullptr;
}

GlLookup headlessLookup(const HeadlessContext& h)
{
#ifdef VANTROP_HAVE_EGL
    if (h.backend == EGL_CONTEXT) return eglLookup;
#endif
    (void)h;
    return SDL_GL_GetProcAddress;
}

std::string rendererName()
{
    const auto* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return name ? name : "unknown renderer";
}

bool createOffscreenTarget(HeadlessContext& h, int width, int height, std::string* error)
{
    if (!makeColourTarget(headlessLookup(h), width, height, h.target, error)) return false;
    glViewport(0, 0, width, height);
    return true;
}

std::vector<uint8_t> readPixelsRgb(int width, int height)
{
    std::vector<uint8_t> image(size_t(width) * height * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glReadPixels(0, 0, width, height, GL_RGB, GL_UNSIGNED_BYTE, image.data());
    flipRows(image, width, height);
    return image;
}

void closeHeadlessContext(HeadlessContext* h)
{
    if (!h) return;
    releaseContext(*h);
    delete h;
}
