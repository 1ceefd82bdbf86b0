// An offscreen 8-bit RGBA picture to draw into: OpenGL 3.0 framebuffer
// objects, whose functions Windows' opengl32 does not export, so they are
// looked up in the context like the renderer's.
#pragma once
#include "render/entry_points.h"

#include <string>

#define VANTROP_FRAMEBUFFER_FUNCTIONS(X)                           \
    X(PFNGLGENFRAMEBUFFERSPROC, glGenFramebuffers)                 \
    X(PFNGLDELETEFRAMEBUFFERSPROC, glDeleteFramebuffers)           \
    X(PFNGLGENRENDERBUFFERSPROC, glGenRenderbuffers)               \
    X(PFNGLDELETERENDERBUFFERSPROC, glDeleteRenderbuffers)         \
    X(PFNGLBINDRENDERBUFFERPROC, glBindRenderbuffer)               \
    X(PFNGLRENDERBUFFERSTORAGEPROC, glRenderbufferStorage)         \
    X(PFNGLBINDFRAMEBUFFERPROC, glBindFramebuffer)                 \
    X(PFNGLFRAMEBUFFERRENDERBUFFERPROC, glFramebufferRenderbuffer) \
    X(PFNGLCHECKFRAMEBUFFERSTATUSPROC, glCheckFramebufferStatus)   \
    X(PFNGLBLITFRAMEBUFFERPROC, glBlitFramebuffer)
struct FramebufferFunctions {
#define VANTROP_FRAMEBUFFER_FIELD(type, name) type name;
    VANTROP_FRAMEBUFFER_FUNCTIONS(VANTROP_FRAMEBUFFER_FIELD)
#undef VANTROP_FRAMEBUFFER_FIELD
};

struct ColourTarget {
    FramebufferFunctions gl{};
    GLuint framebuffer = 0, colour = 0;
};

// Makes `target` (again, at a new size) an 8-bit RGBA picture of width x
// height, left bound for drawing; false with *error saying what the driver
// lacks or cannot do.
bool makeColourTarget(GlLookup lookup, int width, int height, ColourTarget& target, std::string* error);
// Deletes the target's framebuffer (in the context it was made in).
void deleteColourTarget(ColourTarget& target);
