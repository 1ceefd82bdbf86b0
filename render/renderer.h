// The GL renderer: OpenGL 2.0 entry points, the scene's shader program, the
// noise texture and the per-frame draw. Needs a current GL context.
#pragma once
#include "render/gl.h"
#include "shaders/features.h"
#include "timeline/timeline.h"

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
// What lastDrawnProgram says of a renderer set up with one program alone.
inline constexpr int SINGLE_PROGRAM = -1;

// Each set-up loads the entry points, makes the noise texture and builds its
// programs; called again, it replaces the last set-up's programs and textures
// once the new ones have built. A rejected shader leaves the renderer drawing
// as it did; *error says what failed.
//
// The show's own shader at width x height, as a set of programs: one per
// features a frame may need, each frame drawn with the smallest one that has
// them. All four are built now, so that no frame waits for one.
bool initShowRenderer(GlLookup lookup, int width, int height, std::string* error);
// The same set, with only the program of the frame at positionMs built now
// (one picture); the others are built when a frame first needs them.
bool initShowRendererForFrame(GlLookup lookup, int width, int height, uint32_t positionMs, std::string* error);
// A set of programs from these sources, indexed as PROGRAM_VARIANTS (the last
// the complete shader), with this vertex shader; all built now.
bool initRendererFromSources(GlLookup lookup, const char* vertexSource, const char* const sources[PROGRAM_VARIANTS],
                             std::string* error);
// One fragment shader alone (written for the show's size), drawn at width x height: every frame draws with it.
bool initSingleProgramRenderer(GlLookup lookup, const char* fragmentSource, int width, int height, std::string* error);
// One fragment shader alone, as it stands.
bool initRenderer(GlLookup lookup, const char* fragmentSource, std::string* error);
// The index of the show's program that draws a frame with these parameters.
int programVariantFor(const FrameParams& params);
// Which program drew the last frame: its index in the show's set, or SINGLE_PROGRAM.
int lastDrawnProgram();
// Draws the frame at this music position into the current framebuffer.
void renderFrame(uint32_t positionMs);
