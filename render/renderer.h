// The GL renderer: OpenGL 2.0 entry points, the scene's shader program, the
// noise texture and the per-frame draw. Needs a current GL context.
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>
#include <cstdint>
#include <string>

// Looks up an OpenGL function of the current context by name; null when missing.
using GlLookup = void* (*)(const char* name);

// The OpenGL 2.0 functions the renderer calls, fetched in this order.
struct GlEntryPoints {
    PFNGLCREATEPROGRAMPROC glCreateProgram;
    PFNGLCREATESHADERPROC glCreateShader;
    PFNGLSHADERSOURCEPROC glShaderSource;
    PFNGLCOMPILESHADERPROC glCompileShader;
    PFNGLATTACHSHADERPROC glAttachShader;
    PFNGLLINKPROGRAMPROC glLinkProgram;
    PFNGLUSEPROGRAMPROC glUseProgram;
    PFNGLUNIFORM4FVPROC glUniform4fv;
    PFNGLGETUNIFORMLOCATIONPROC glGetUniformLocation;
    PFNGLUNIFORM1IPROC glUniform1i;
    PFNGLACTIVETEXTUREPROC glActiveTexture;
};
inline constexpr int GL_ENTRY_POINT_COUNT = 11;
extern const char* const GL_ENTRY_POINT_NAMES[GL_ENTRY_POINT_COUNT];

// Fetches the table in order; stops at the first missing function and names it in *error.
bool loadGlEntryPoints(GlLookup lookup, GlEntryPoints& table, std::string* error);
// Compiles and links the program (vertex, fragment); on failure *error holds the driver's log.
bool buildShaderProgram(const char* vertexSource, const char* fragmentSource, std::string* error);
// Restarts the noise generator at seed.
void seedRandom(uint32_t seed);
// Next value of the fixed linear congruential generator: the upper 16 bits of its state.
uint32_t nextRandom();
// Fills the 256x256 RGBA noise bytes (262144 of them) from seed 0.
void fillNoise(uint8_t* bytes);
// Makes the noise texture and leaves it bound on texture unit 0.
void createNoiseTexture();
// Entry points, shader program (this fragment source), noise texture; *error says what failed.
bool initRenderer(GlLookup lookup, const char* fragmentSource, std::string* error);
// Draws the frame at this music position into the current framebuffer.
void renderFrame(uint32_t positionMs);
