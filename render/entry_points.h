// The OpenGL 2.0 functions the renderer calls, fetched by name from the
// current context's driver.
#pragma once
#include "render/gl.h"

#include <string>

// Looks up an OpenGL function of the current context by name; null when missing.
using GlLookup = void* (*)(const char* name);

// The OpenGL 2.0 functions the renderer calls, in the order they are fetched:
// X(pointer type, name). The table, its names and its count all come from here.
#define VANTROP_GL_ENTRY_POINTS(X)                       \
    X(PFNGLCREATEPROGRAMPROC, glCreateProgram)           \
    X(PFNGLCREATESHADERPROC, glCreateShader)             \
    X(PFNGLSHADERSOURCEPROC, glShaderSource)             \
    X(PFNGLCOMPILESHADERPROC, glCompileShader)           \
    X(PFNGLATTACHSHADERPROC, glAttachShader)             \
    X(PFNGLLINKPROGRAMPROC, glLinkProgram)               \
    X(PFNGLUSEPROGRAMPROC, glUseProgram)                 \
    X(PFNGLUNIFORM4FVPROC, glUniform4fv)                 \
    X(PFNGLUNIFORM1FVPROC, glUniform1fv)                 \
    X(PFNGLGETUNIFORMLOCATIONPROC, glGetUniformLocation) \
    X(PFNGLUNIFORM1IPROC, glUniform1i)                   \
    X(PFNGLACTIVETEXTUREPROC, glActiveTexture)

struct GlEntryPoints {
#define VANTROP_GL_ENTRY_FIELD(type, name) type name;
    VANTROP_GL_ENTRY_POINTS(VANTROP_GL_ENTRY_FIELD)
#undef VANTROP_GL_ENTRY_FIELD
};
#define VANTROP_GL_ENTRY_ONE(type, name) +1
inline constexpr int GL_ENTRY_POINT_COUNT = 0 VANTROP_GL_ENTRY_POINTS(VANTROP_GL_ENTRY_ONE);
#undef VANTROP_GL_ENTRY_ONE

// Fetches the table in order; stops at the first missing function and names it in *error.
bool loadGlEntryPoints(GlLookup lookup, GlEntryPoints& table, std::string* error);
