#include "render/framebuffer.h"

bool makeColourTarget(GlLookup lookup, int width, int height, ColourTarget& t, std::string* error)
{
    FramebufferFunctions& gl = t.gl;
#define VANTROP_FRAMEBUFFER_FETCH(type, name)                                                               \
    gl.name = reinterpret_cast<type>(lookup(#name));                                                        \
    if (!gl.name) {                                                                                         \
        *error = "the OpenGL driver lacks " #name " (OpenGL 3.0 framebuffers); update the graphics driver"; \
        return false;                                                                                       \
    }
    VANTROP_FRAMEBUFFER_FUNCTIONS(VANTROP_FRAMEBUFFER_FETCH)
#undef VANTROP_FRAMEBUFFER_FETCH
    deleteColourTarget(t);
    gl.glGenFramebuffers(1, &t.framebuffer);
    gl.glGenRenderbuffers(1, &t.colour);
    gl.glBindRenderbuffer(GL_RENDERBUFFER, t.colour);
    gl.glRenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
    gl.glBindFramebuffer(GL_FRAMEBUFFER, t.framebuffer);
    gl.glFramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, t.colour);
    if (gl.glCheckFramebufferStatus(GL_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE) return true;
    *error = "the OpenGL driver cannot draw into a " + std::to_string(width) + "x" + std::to_string(height) +
        " offscreen picture; try a smaller size";
    return false;
}

void deleteColourTarget(ColourTarget& t)
{
    if (t.framebuffer) t.gl.glDeleteFramebuffers(1, &t.framebuffer);
    if (t.colour) t.gl.glDeleteRenderbuffers(1, &t.colour);
    t.framebuffer = t.colour = 0;
}
