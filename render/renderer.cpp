#include "render/renderer.h"

#include "shaders/shader_sources.h"
#include "timeline/timeline.h"

#include <vector>

const char* const GL_ENTRY_POINT_NAMES[GL_ENTRY_POINT_COUNT] = {
    "glCreateProgram", "glCreateShader", "glShaderSource", "glCompileShader",
    "glAttachShader", "glLinkProgram", "glUseProgram", "glUniform4fv",
    "glGetUniformLocation", "glUniform1i", "glActiveTexture",
};

static constexpr int NOISE_SIZE = 256;                 // texels per side
static constexpr uint32_t RANDOM_MULTIPLIER = 214013;
static constexpr uint32_t RANDOM_INCREMENT = 2531011;

static GlEntryPoints gl;
static GlLookup activeLookup; // for the status queries beside the table
static GLuint program;
static GLuint textures[2];
static uint32_t randomState;

static void storeSlot(GlEntryPoints& table, int slot, void* function)
{
    switch (slot) {
    case 0: table.glCreateProgram = reinterpret_cast<PFNGLCREATEPROGRAMPROC>(function); break;
    case 1: table.glCreateShader = reinterpret_cast<PFNGLCREATESHADERPROC>(function); break;
    case 2: table.glShaderSource = reinterpret_cast<PFNGLSHADERSOURCEPROC>(function); break;
    case 3: table.glCompileShader = reinterpret_cast<PFNGLCOMPILESHADERPROC>(function); break;
    case 4: table.glAttachShader = reinterpret_cast<PFNGLATTACHSHADERPROC>(function); break;
    case 5: table.glLinkProgram = reinterpret_cast<PFNGLLINKPROGRAMPROC>(function); break;
    case 6: table.glUseProgram = reinterpret_cast<PFNGLUSEPROGRAMPROC>(function); break;
    case 7: table.glUniform4fv = reinterpret_cast<PFNGLUNIFORM4FVPROC>(function); break;
    case 8: table.glGetUniformLocation = reinterpret_cast<PFNGLGETUNIFORMLOCATIONPROC>(function); break;
    case 9: table.glUniform1i = reinterpret_cast<PFNGLUNIFORM1IPROC>(function); break;
    case 10: table.glActiveTexture = reinterpret_cast<PFNGLACTIVETEXTUREPROC>(function); break;
    }
}

bool loadGlEntryPoints(GlLookup lookup, GlEntryPoints& table, std::string* error)
{
    for (int slot = 0; slot < GL_ENTRY_POINT_COUNT; ++slot) {
        void* function = lookup(GL_ENTRY_POINT_NAMES[slot]);
        if (!function) {
            *error = std::string("the OpenGL driver lacks ") + GL_ENTRY_POINT_NAMES[slot] +
                     ": an OpenGL 2.0 driver is needed (install your graphics driver, or Mesa)";
            return false;
        }
        storeSlot(table, slot, function);
    }
    return true;
}

// The status queries are OpenGL 2.0 functions outside the show's table: a
// driver that has the eleven has them too. Without them the build is not checked.
static std::string shaderLog(GlLookup lookup, GLuint shader, bool isProgram)
{
    auto getIv = reinterpret_cast<PFNGLGETSHADERIVPROC>(lookup(isProgram ? "glGetProgramiv" : "glGetShaderiv"));
    auto getLog = reinterpret_cast<PFNGLGETSHADERINFOLOGPROC>(
        lookup(isProgram ? "glGetProgramInfoLog" : "glGetShaderInfoLog"));
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

bool buildShaderProgram(const char* vertexSource, const char* fragmentSource, std::string* error)
{
    program = gl.glCreateProgram();
    const GLuint vertex = gl.glCreateShader(GL_VERTEX_SHADER);
    const GLuint fragment = gl.glCreateShader(GL_FRAGMENT_SHADER);
    gl.glShaderSource(vertex, 1, &vertexSource, nullptr);
    gl.glShaderSource(fragment, 1, &fragmentSource, nullptr);
    gl.glCompileShader(vertex);
    gl.glCompileShader(fragment);
    gl.glAttachShader(program, fragment);
    gl.glAttachShader(program, vertex);
    gl.glLinkProgram(program);

    // A shader the driver rejects would otherwise play the music over a
    // black screen and report nothing.
    std::string log = shaderLog(activeLookup, vertex, false);
    const char* stage = "vertex shader";
    if (log.empty()) {
        log = shaderLog(activeLookup, fragment, false);
        stage = "fragment shader";
    }
    if (log.empty()) {
        log = shaderLog(activeLookup, program, true);
        stage = "shader program link";
    }
    if (!log.empty()) {
        while (!log.empty() && (log.back() == '\n' || log.back() == ' ')) log.pop_back();
        *error = std::string("the OpenGL driver rejected the ") + stage +
                 " (update the graphics driver; its log follows):\n" + log;
        return false;
    }
    return true;
}

void seedRandom(uint32_t seed)
{
    randomState = seed;
}

uint32_t nextRandom()
{
    randomState = randomState * RANDOM_MULTIPLIER + RANDOM_INCREMENT;
    return randomState >> 16;
}

void fillNoise(uint8_t* bytes)
{
    seedRandom(0);
    for (int i = 0; i < NOISE_SIZE * NOISE_SIZE * 4; ++i) bytes[i] = uint8_t(nextRandom());
}

void createNoiseTexture()
{
    // Nothing reads the bytes after the upload, so they need not outlive it.
    std::vector<uint8_t> noise(size_t(NOISE_SIZE) * NOISE_SIZE * 4);
    fillNoise(noise.data());
    glGenTextures(2, textures);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, float(GL_LINEAR));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, float(GL_LINEAR));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, float(GL_REPEAT));
    glTexParameterf(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, float(GL_REPEAT));
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, NOISE_SIZE, NOISE_SIZE, 0, GL_RGBA, GL_UNSIGNED_BYTE, noise.data());
}

bool initRenderer(GlLookup lookup, const char* fragmentSource, std::string* error)
{
    activeLookup = lookup;
    if (!loadGlEntryPoints(lookup, gl, error)) return false;
    if (!buildShaderProgram(VERTEX_SOURCE, fragmentSource, error)) return false;
    createNoiseTexture();
    return true;
}

void renderFrame(uint32_t positionMs)
{
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // Set after the clear on purpose: they take effect from the next frame's
    // clear on, and equal the defaults of the first.
    glClearDepth(10000.0);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    const FrameParams params = computeFrameParams(positionMs);
    gl.glUseProgram(program);
    // FrameParams is laid out as the two vec4 of m, slot by slot.
    gl.glUniform4fv(gl.glGetUniformLocation(program, "m"), 2, reinterpret_cast<const GLfloat*>(&params));
    gl.glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, textures[0]);
    gl.glUniform1i(gl.glGetUniformLocation(program, "v"), 0);
    glRects(-1, -1, 1, 1);
}
