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
// the program that drew it (an index in the show's set, or -1 for a single
// program), so that tests can see every program draw each frame with the same one.
static constexpr const char* PROGRAM_LOG_VARIABLE = "VANTROP_PROGRAM_LOG";
// What the program log says of a renderer set up with one program alone.
static constexpr int SINGLE_PROGRAM = -1;

struct Renderer {
    GlEntryPoints gl{};
    GlLookup lookup = nullptr; // for the functions beside the table
    // The programs by the features they keep (a set of the show's own shader), or
    // one program alone in the last entry (single); 0 where none is built yet.
    GLuint programs[PROGRAM_VARIANTS] = {};
    bool single = false;
    // The sources of the programs not built yet, built when a frame first needs one.
    std::string vertexSource, pendingSources[PROGRAM_VARIANTS];
    std::string lateBuildFailure;
    // Two texture names, as the show has always made: the first holds the noise, the second is never used.
    GLuint textures[2] = {};
    FILE* programLog = nullptr;
    Tracks tracks;
};

// Every program of a set, built at once.
static constexpr auto ALL_PROGRAMS = [] {
    std::array<bool, PROGRAM_VARIANTS> all{};
    all.fill(true);
    return all;
}();

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
static Function extraFunction(const Renderer& r, const char* name)
{
    return reinterpret_cast<Function>(r.lookup(name));
}

static void deleteProgram(const Renderer& r, GLuint& p)
{
    auto deleteFunction = extraFunction<PFNGLDELETEPROGRAMPROC>(r, "glDeleteProgram");
    if (p && deleteFunction) deleteFunction(p);
    p = 0;
}

// Compiles and links a program (vertex, fragment); 0 with the driver's log in
// *error when the driver rejects it. Its shaders go when the program goes.
static GLuint buildShaderProgram(const Renderer& r, const char* vertexSource, const char* fragmentSource,
                                 std::string* error)
{
    const GlEntryPoints& gl = r.gl;
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
    if (auto bindAttribute = extraFunction<PFNGLBINDATTRIBLOCATIONPROC>(r, "glBindAttribLocation"))
        bindAttribute(built, VERTEX_INPUT_LOCATION, VERTEX_INPUT_NAME);
    gl.glLinkProgram(built);

    // A shader the driver rejects would otherwise play the music over a
    // black screen and report nothing.
    std::string log = shaderLog(r.lookup, vertex, false);
    const char* stage = "vertex shader";
    if (log.empty()) {
        log = shaderLog(r.lookup, fragment, false);
        stage = "fragment shader";
    }
    if (log.empty()) {
        log = shaderLog(r.lookup, built, true);
        stage = "shader program link";
    }
    // Deleting the shaders only flags them: they go with their program.
    if (auto deleteShader = extraFunction<PFNGLDELETESHADERPROC>(r, "glDeleteShader")) {
        deleteShader(vertex);
        deleteShader(fragment);
    }
    if (!log.empty()) {
        while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
        *error = std::string("the OpenGL driver rejected the ") + stage +
            " (update the graphics driver; its log follows):\n" + log;
        deleteProgram(r, built);
        return 0;
    }
    return built;
}

// Replaces the programs with `built` (all or nothing has been built), the
// rest to be built from `pending` when a frame first needs them.
static void takePrograms(Renderer& r, const GLuint built[PROGRAM_VARIANTS], const std::string pending[PROGRAM_VARIANTS],
                         const char* vertex, bool alone)
{
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) {
        deleteProgram(r, r.programs[mask]);
        r.programs[mask] = built[mask];
        r.pendingSources[mask] = built[mask] ? std::string() : pending[mask];
    }
    r.vertexSource = vertex;
    r.single = alone;
    r.lateBuildFailure.clear();
}

// Replaces the programs with a set from these sources (the last the complete
// shader), those marked in `now` built at once; all or none.
static bool usePrograms(Renderer& r, const char* vertex, const std::string sources[PROGRAM_VARIANTS],
                        const bool now[PROGRAM_VARIANTS], bool alone, std::string* error)
{
    GLuint built[PROGRAM_VARIANTS];
    // The complete shader first: a rejection is reported against its text.
    for (int mask = PROGRAM_VARIANTS - 1; mask >= 0; --mask) {
        built[mask] = now[mask] ? buildShaderProgram(r, vertex, sources[mask].c_str(), error) : 0;
        if (now[mask] && !built[mask]) {
            for (int m = mask + 1; m < PROGRAM_VARIANTS; ++m) deleteProgram(r, built[m]);
            return false;
        }
    }
    takePrograms(r, built, sources, vertex, alone);
    return true;
}

Renderer* createRenderer(GlLookup lookup, std::string* error)
{
    GlEntryPoints table{};
    if (!loadGlEntryPoints(lookup, table, error)) return nullptr;
    auto* r = new Renderer;
    r->gl = table;
    r->lookup = lookup;
    createNoiseTexture(r->textures);
    const char* path = std::getenv(PROGRAM_LOG_VARIABLE);
    r->programLog = path && *path ? std::fopen(path, "a") : nullptr;
    return r;
}

void destroyRenderer(Renderer* r)
{
    if (!r) return;
    for (GLuint& p : r->programs) deleteProgram(*r, p);
    glDeleteTextures(2, r->textures);
    if (r->programLog) std::fclose(r->programLog);
    delete r;
}

bool useProgramSources(Renderer& r, const char* vertex, const char* const sources[PROGRAM_VARIANTS],
                       const ScheduleValues& schedule, const int64_t* framePositionMs, std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask) texts[mask] = sources[mask];
    bool now[PROGRAM_VARIANTS] = {};
    if (framePositionMs)
        now[programVariantFor(computeFrameParams(schedule, uint32_t(*framePositionMs)))] = true;
    else
        std::fill(std::begin(now), std::end(now), true);
    return usePrograms(r, vertex, texts, now, false, error);
}

// The show's own programs at this size; only those marked in `now` are built at once.
static bool useShowSet(Renderer& r, int width, int height, const bool now[PROGRAM_VARIANTS], std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    for (int mask = 0; mask < PROGRAM_VARIANTS; ++mask)
        texts[mask] = withResolution(FRAGMENT_SPECIALISED[mask], width, height);
    return usePrograms(r, VERTEX_SOURCE, texts, now, false, error);
}

bool useShowPrograms(Renderer& r, int width, int height, std::string* error)
{
    return useShowSet(r, width, height, ALL_PROGRAMS.data(), error);
}

bool useShowProgramsForFrame(Renderer& r, int width, int height, const ScheduleValues& schedule, uint32_t positionMs,
                             std::string* error)
{
    bool now[PROGRAM_VARIANTS] = {};
    now[programVariantFor(computeFrameParams(schedule, positionMs))] = true;
    return useShowSet(r, width, height, now, error);
}

bool useSingleProgram(Renderer& r, const char* fragmentSource, int width, int height, std::string* error)
{
    std::string texts[PROGRAM_VARIANTS];
    texts[PROGRAM_VARIANTS - 1] = withResolution(fragmentSource, width, height);
    bool now[PROGRAM_VARIANTS] = {};
    now[PROGRAM_VARIANTS - 1] = true;
    return usePrograms(r, VERTEX_SOURCE, texts, now, true, error);
}

bool buildPendingPrograms(Renderer& r, std::string* error)
{
    // The complete shader first, as a whole set-up does: a rejection is reported against its text.
    for (int variant = PROGRAM_VARIANTS - 1; variant >= 0; --variant) {
        if (r.programs[variant] || r.pendingSources[variant].empty()) continue;
        const GLuint p = buildShaderProgram(r, r.vertexSource.c_str(), r.pendingSources[variant].c_str(), error);
        if (!p) return false;
        r.programs[variant] = p;
        r.pendingSources[variant].clear();
    }
    return true;
}

int programVariantFor(const FrameParams& params)
{
    return (params.glitch > 0.0f ? FEATURE_GLITCH : 0) | (params.finale > 0.0f ? FEATURE_FINALE : 0);
}

std::string takeRendererFailure(Renderer& r)
{
    return std::exchange(r.lateBuildFailure, std::string());
}

// The index of the program for this frame in the set, or SINGLE_PROGRAM.
static int variantFor(const Renderer& r, const FrameParams& params)
{
    return r.single ? SINGLE_PROGRAM : programVariantFor(params);
}

// The program for this frame: the smallest of the set that has what its
// parameters need (a feature whose parameter is 0 is an `if` never taken),
// built now if no frame has needed it yet; 0 when the driver rejects it.
static GLuint programFor(Renderer& r, int variant)
{
    const int index = variant == SINGLE_PROGRAM ? PROGRAM_VARIANTS - 1 : variant;
    GLuint& p = r.programs[index];
    if (!p && !r.pendingSources[index].empty()) {
        p = buildShaderProgram(r, r.vertexSource.c_str(), r.pendingSources[index].c_str(), &r.lateBuildFailure);
        r.pendingSources[index].clear();
    }
    return p;
}

void setRendererTracks(Renderer& r, const Tracks& tracks)
{
    r.tracks = tracks;
}

void renderFrame(Renderer& r, const ScheduleValues& schedule, uint32_t positionMs)
{
    const GlEntryPoints& gl = r.gl;
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Set after the clear on purpose: they take effect from the
    // next frame's clear on, and equal the defaults of the first, so every
    // frame clears to black and to the farthest depth.
    glClearDepth(CLEAR_DEPTH);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    const FrameParams params = computeFrameParams(schedule, positionMs);
    const int variant = variantFor(r, params);
    const GLuint drawing = programFor(r, variant);
    if (r.programLog) {
        std::fprintf(r.programLog, "%u %d\n", positionMs, variant);
        std::fflush(r.programLog);
    }
    if (!drawing) return;
    gl.glUseProgram(drawing);
    // FrameParams is laid out as the two vec4 of m, slot by slot.
    gl.glUniform4fv(gl.glGetUniformLocation(drawing, "m"), 2, reinterpret_cast<const GLfloat*>(&params));
    gl.glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, r.textures[0]);
    gl.glUniform1i(gl.glGetUniformLocation(drawing, "v"), 0);
    // The studio's programs read the schedule's values here (retimed without
    // a new program); the show's have them written in and no such uniform.
    if (const GLint values = gl.glGetUniformLocation(drawing, SCHEDULE_UNIFORM); values >= 0) {
#define VANTROP_SCHEDULE_VALUE(name, value) schedule.name,
        const GLfloat inOrder[] = {VANTROP_SCHEDULE(VANTROP_SCHEDULE_VALUE)};
#undef VANTROP_SCHEDULE_VALUE
        gl.glUniform1fv(values, GLsizei(std::size(inOrder)), inOrder);
    }
    for (const Track& track : r.tracks)
        if (const GLint at = gl.glGetUniformLocation(drawing, track.name.c_str()); at >= 0) {
            const GLfloat value = trackValueAt(track, params.beat);
            gl.glUniform1fv(at, 1, &value);
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
