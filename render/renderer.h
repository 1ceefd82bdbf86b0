// The GL renderer: OpenGL 2.0 entry points, the scene's shader program, the
// noise texture and the per-frame draw. Needs a current GL context.
#pragma once
#include "render/gl.h"

#include <cstdint>
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
extern const char* const GL_ENTRY_POINT_NAMES[GL_ENTRY_POINT_COUNT];

// Fetches the table in order; stops at the first missing function and names it in *error.
bool loadGlEntryPoints(GlLookup lookup, GlEntryPoints& table, std::string* error);
// Restarts the noise generator at seed.
void seedRandom(uint32_t seed);
// Next value of the fixed linear congruential generator: the upper 16 bits of its state.
uint32_t nextRandom();
// Fills the 256x256 RGBA noise bytes (262144 of them) from seed 0.
void fillNoise(uint8_t* bytes);
// Makes two texture names into `names`, the noise texture in the first, and leaves it bound on texture unit 0.
void createNoiseTexture(GLuint names[2]);
// Entry points, shader program (this fragment source), noise texture; *error
// says what failed. Called again (another source), it replaces the last
// call's programs and textures once the new program has built; a rejected
// shader leaves the renderer drawing as before.
bool initRenderer(GlLookup lookup, const char* fragmentSource, std::string* error);
// Features a specialised program may leave out, as bits of its index.
inline constexpr int FEATURE_GLITCH = 1, FEATURE_FINALE = 2, PROGRAM_VARIANTS = 4;
// Adds, beside initRenderer's program, programs built from specialised[mask]
// (the same shader without the code of the features outside mask); from then
// on each frame draws with the smallest one whose features its parameters need.
bool addSpecialisedPrograms(const char* const specialised[PROGRAM_VARIANTS], std::string* error);
// Entry points, noise texture and the programs of these sources: the full
// fragment shader and, when `specialised` is not null, the programs without
// some features' code, as addSpecialisedPrograms takes them. All or nothing:
// a rejected source leaves the renderer drawing as before.
bool initRendererFromSources(GlLookup lookup, const char* vertexSource, const char* fragmentSource,
                             const char* const specialised[PROGRAM_VARIANTS], std::string* error);
// initRenderer for this fragment source drawn at width x height (its
// screen-size literal replaced); the show's own shader (FRAGMENT_SOURCE) also
// gets its specialised programs, as the show draws it.
bool initRendererAtSize(GlLookup lookup, const char* fragmentSource, int width, int height, std::string* error);
// Draws the frame at this music position into the current framebuffer.
void renderFrame(uint32_t positionMs);
