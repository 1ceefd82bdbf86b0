#include "render/renderer.h"

#include "render/entry_points.h"
#include "render/noise.h"
#include "shaders/schedule_uniform.h"
#include "shaders/shader_sources.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <utility>
#include <vector>

// The vertex shader's one input, fed by the rectangle's corners.
static constexpr GLuint VERTEX_INPUT_LOCATION = 0;
static constexpr const char* VERTEX_INPUT_NAME = "v";
// Cleared each frame to a depth of 10000 (GL clamps it to 1): nothing tests
// depth; the value is the show's own, kept as it has always been.
static constexpr double CLEAR_DEPTH = 10000.0;

// Names a file that gets one line per frame drawn: the music position and
// the program that drew it (lastDrawnProgram), so that tests can see every
// program draw each frame with the same one.
static constexpr const char* PROGRAM_LOG_VARIABLE = "VANTROP_PROGRAM_LOG";

static GlEntryPoints gl;
static GlLookup activeLookup; // for the functions beside the table
// The programs by the features they keep (a set of the show's own shader), or
// one program alone in the last entry (single); 0 where none is built yet.
static GLuint programs[PROGRAM_VARIANTS];
static bool single;
// The sources of the programs not built yet, built when a frame first needs one.
static std::string vertexSource, pendingSources[PROGRAM_VARIANTS];
static int lastDrawn = SINGLE_PROGRAM;
static std::string lateBuildFailure;
// Every program of a set, built at once.
static constexpr auto ALL_PROGRAMS = [] {
    std::array<bool, PROGRAM_VARIANTS> all{};
    all.fill(true);
    return all;
}();
// Two texture names, as the show has always made: the first holds the noise, the second is never used.
static GLuint textures[2];

// The status queries are OpenGL 2.0 functions outside the show's table: a
// driver that has the eleven has them too. Without them the build is not checked.
static std::string shaderLog(GlLookup lookup, GLuint shader, bool isProgram)
{
    auto getIv = reinterpret_cast<PFNGLGETSHADERIVPROC>(lookup(isProgram ? "glGetProgramiv" : "glGetShaderiv"));
    auto getLog =
        reinterpret_cast<PFNGLGETSHADERINFOLOGPROC>(lookup(isProgram ? "glGetProgramInfoLog" : "glGetShaderInfoLog"));
    if (!getIv || !getLog) return {};
    GLint ok = GL_FALSE;
    getIv(shader, isProgram ? GL_LINK_STATUS : GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return {};
    GLint length = 0;
    getIv(shader, GL_INFO_LOG_LENGTH, &length);
    std::string log(length > 1 ? size_t(length) : 1, '\0');
    getLog(shader, GLsizei(log.size()), nullptr, log.data());
    log.resize(log.find('\0') == std::string::npos ? log.size() : log.find('\0'));
    return log.empty() ? std::string("(the driver gave no log)") : log;
}

// OpenGL 2.0 functions outside the eleven of the table, looked up like the
// status queries: a driver with the eleven has them.
template <typename Function>
static Function extraFunction(const char* name)
{
    return reinterpret_cast<Function>(activeLookup(name));
}

static void deleteProgram(GLuint& p)
{
    auto deleteFunction = extraFunction<PFNGLDELETEPROGRAMPROC>("glDeleteProgram");
    if (p && deleteFunction) deleteFunction(p);
    p = 0;
}

// Gives back what the last set-up made, so that building the renderer
// again (another shader, the benchmark's comparisons) costs nothing.
static void releaseRenderer()
{
    for (GLuint& p : programs) deleteProgram(p);
    if (textures[0] || textures[1]) glDeleteTextures(2, textures);
    textures[0] = textures[1] = 0;
}

// Compiles and links a program (vertex, fragment); 0 with the driver's log in
// *error when the driver rejects it. Its shaders go when the program goes.
static GLuint buildShaderProgram(const char* vertexSource, const char* fragmentSource, std::string* error)
{
    GLuint built = gl.glCreateProgram();
    const GLuint vertex = gl.glCreateShader(GL_VERTEX_SHADER);
    const GLuint fragment = gl.glCreateShader(GL_FRAGMENT_SHADER);
    gl.glShaderSource(vertex, 1, &vertexSource, nullptr);
    gl.glShaderSource(fragment, 1, &fragmentSource, nullptr);
    gl.glCompileShader(vertex);
    gl.glCompileShader(fragment);
    gl.glAttachShader(built, fragment);
    gl.glAttachShader(built, vertex);
    // The rectangle's corners arrive as attribute 0: bound by name, not left to the linker.
    if (auto bindAttribute = extraFunction<PFNGLBINDATTRIBLOCATIONPROC>("glBindAttribLocation"))
        bindAttribute(built, VERTEX_INPUT_LOCATION, VERTEX_INPUT_NAME);
    gl.glLinkProgram(built);

    // A shader the driver rejects would otherwise play the music over a
    // black screen and report nothing.
    std::string log = shaderLog(activeLookup, vertex, false);
    const char* stage = "vertex shader";
    if (log.empty()) {
        log = shaderLog(activeLookup, fragment, false);
        stage = "fragment shader";
    }
    if (log.empty()) {
        log = shaderLog(activeLookup, built, true);
        stage = "shader program link";
    }
    // Deleting the shaders only flags them: they go with their program.
    if (auto deleteShader = extraFunction<PFNGLDELETESHADERPROC>("glDeleteShader")) {
        deleteShader(vertex);
        deleteShader(fragment);
    }
    if (!log.empty()) {
        while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
        *error = std::string("the OpenGL driver rejected the ") + stage +
            " (update the graphics driver; its log follows):\n" + log;
        deleteProgram(built);
        return 0;
    }
    return built;
}

// Replaces the programs with `built` (all or nothing has been built), the
// rest to be built from `pending` when a frame first needs them.
static void takePrograms(const GLuint built[PROGRAM_VARIANTS], const std::string pending[PROGRAM_VARIANTS],
                         const char* vertex, bool alone)
{
    releaseRenderer();
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) {
        programs[mask] = built[mask];
        pendingSources[mask] = built[mask] ? std::string() : pending[mask];
    }
    vertexSource = vertex;
    single = alone;
    createNoiseTexture(textures);
}

// Builds the programs of `sources` whose entry in `now` is set; all or none.
static bool buildPrograms(const char* vertex, const std::string sources[PROGRAM_VARIANTS],
                          const bool now[PROGRAM_VARIANTS], GLuint built[PROGRAM_VARIANTS], std::string* error)
{
    // The complete shader first: a rejection is reported against its text.
    for (int mask = PROGRAM_VARIANTS - 1; mask >= 0; --mask) {
        built[mask] = now[mask] ? buildShaderProgram(vertex, sources[mask].c_str(), error) : 0;
        if (now[mask] && !built[mask]) {
            for (int m = mask + 1; m < PROGRAM_VARIANTS; ++m) deleteProgram(built[m]);
            return false;
        }
    }
    return true;
}

static bool useLookup(GlLookup lookup, std::string* error)
{
    GlEntryPoints table{};
    if (!loadGlEntryPoints(lookup, table, error)) return false;
    gl = table;
    activeLookup = lookup;
    return true;
}

// Loads the entry points and replaces the programs with a set from these
// sources (the last the complete shader), those marked in `now` built at
// once; all or nothing.
static bool initPrograms(GlLookup lookup, const char* vertex, const std::string sources[PROGRAM_VARIANTS],
                         const bool now[PROGRAM_VARIANTS], bool alone, std::string* error)
{
    if (!useLookup(lookup, error)) return false;
    GLuint built[PROGRAM_VARIANTS];
    if (!buildPrograms(vertex, sources, now, built, error)) return false;
    takePrograms(built, sources, vertex, alone);
    lateBuildFailure.clear();
    return true;
}

bool initRendererFromSources(GlLookup lookup, const char* vertex, const char* const sources[PROGRAM_VARIANTS],
                             const int64_t* framePositionMs, std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) texts[mask] = sources[mask];
    bool now[PROGRAM_VARIANTS] = {};
    if (framePositionMs)
        now[programVariantFor(computeFrameParams(uint32_t(*framePositionMs)))] = true;
    else
        std::fill(std::begin(now), std::end(now), true);
    return initPrograms(lookup, vertex, texts, now, false, error);
}

// The show's own programs at this size; only those marked in `now` are built at once.
static bool initShowPrograms(GlLookup lookup, int width, int height, const bool now[PROGRAM_VARIANTS],
                             std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask)
        texts[mask] = withResolution(FRAGMENT_SPECIALISED[mask], width, height);
    return initPrograms(lookup, VERTEX_SOURCE, texts, now, false, error);
}

bool initShowRenderer(GlLookup lookup, int width, int height, std::string* error)
{
    return initShowPrograms(lookup, width, height, ALL_PROGRAMS.data(), error);
}

bool initShowRendererForFrame(GlLookup lookup, int width, int height, uint32_t positionMs, std::string* error)
{
    bool now[PROGRAM_VARIANTS] = {};
    now[programVariantFor(computeFrameParams(positionMs))] = true;
    return initShowPrograms(lookup, width, height, now, error);
}

bool initSingleProgramRenderer(GlLookup lookup, const char* fragmentSource, int width, int height, std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    texts[PROGRAM_VARIANTS - 1] = withResolution(fragmentSource, width, height);
    bool now[PROGRAM_VARIANTS] = {};
    now[PROGRAM_VARIANTS - 1] = true;
    return initPrograms(lookup, VERTEX_SOURCE, texts, now, true, error);
}

bool buildPendingPrograms(std::string* error)
{
    // The complete shader first, as a whole set-up does: a rejection is reported against its text.
    for (int variant = PROGRAM_VARIANTS - 1; variant >= 0; --variant) {
        if (programs[variant] || pendingSources[variant].empty()) continue;
        const GLuint p = buildShaderProgram(vertexSource.c_str(), pendingSources[variant].c_str(), error);
        if (!p) return false;
        programs[variant] = p;
        pendingSources[variant].clear();
    }
    return true;
}

int programVariantFor(const FrameParams& params)
{
    return (params.glitch > 0.0f ? FEATURE_GLITCH : 0) | (params.finale > 0.0f ? FEATURE_FINALE : 0);
}

std::string takeRendererFailure()
{
    return std::exchange(lateBuildFailure, std::string());
}

int lastDrawnProgram()
{
    return lastDrawn;
}

// The program for this frame: the smallest of the set that has what its
// parameters need (a feature whose parameter is 0 is an `if` never taken),
// built now if no frame has needed it yet; 0 when the driver rejects it.
static GLuint programFor(const FrameParams& params)
{
    const int variant = single ? PROGRAM_VARIANTS - 1 : programVariantFor(params);
    lastDrawn = single ? SINGLE_PROGRAM : variant;
    GLuint& p = programs[variant];
    if (!p && !pendingSources[variant].empty()) {
        p = buildShaderProgram(vertexSource.c_str(), pendingSources[variant].c_str(), &lateBuildFailure);
        pendingSources[variant].clear();
    }
    return p;
}

// Appends the frame to the program log, when one is asked for.
static void logProgram(uint32_t positionMs)
{
    static FILE* log = [] {
        const char* path = std::getenv(PROGRAM_LOG_VARIABLE);
        return path && *path ? std::fopen(path, "a") : nullptr;
    }();
    if (!log) return;
    std::fprintf(log, "%u %d\n", positionMs, lastDrawn);
    std::fflush(log);
}

void renderFrame(uint32_t positionMs)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Set after the clear on purpose: they take effect from the
    // next frame's clear on, and equal the defaults of the first, so every
    // frame clears to black and to the farthest depth.
    glClearDepth(CLEAR_DEPTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    const FrameParams params = computeFrameParams(positionMs);
    const GLuint drawing = programFor(params);
    logProgram(positionMs);
    if (!drawing) return;
    gl.glUseProgram(drawing);
    // FrameParams is laid out as the two vec4 of m, slot by slot.
    gl.glUniform4fv(gl.glGetUniformLocation(drawing, "m"), 2, reinterpret_cast<const GLfloat*>(&params));
    gl.glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    gl.glUniform1i(gl.glGetUniformLocation(drawing, "v"), 0);
    // The studio's programs read the schedule's values here (retimed without
    // a new program); the show's have them written in and no such uniform.
    if (const GLint schedule = gl.glGetUniformLocation(drawing, SCHEDULE_UNIFORM); schedule >= 0) {
        const ScheduleValues& values = activeSchedule();
#define VANTROP_SCHEDULE_VALUE(name, value) values.name,
        const GLfloat inOrder[] = {VANTROP_SCHEDULE(VANTROP_SCHEDULE_VALUE)};
#undef VANTROP_SCHEDULE_VALUE
        gl.glUniform1fv(schedule, GLsizei(std::size(inOrder)), inOrder);
    }
    // Alpha is left as the clear set it, to the 0 the shader writes, so not
    // a byte changes. A software driver (Mesa's llvmpipe) compiles a second
    // copy of a program that writes every channel, for blocks the rectangle
    // covers whole; with one channel masked it compiles one, which halves the
    // wait for a program's first frame (the show's start, a studio edit)
    // without slowing the frames after it.
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_FALSE);
    glRects(-1, -1, 1, 1);
    glColorMask(GL_TRUE, GL_TRUE, GL_TRUE, GL_TRUE);
}
