// The probes call OpenGL 2.0 and 3.0 by name: declared before any header brings GL in.
#define GL_GLEXT_PROTOTYPES
#include "tests/gl_harness.h"

#include "render/headless.h"
#include "render/noise.h"
#include "render/renderer.h"
#include "shaders/shader_sources.h"

#include <GL/gl.h>
#include <GL/glext.h>
#include <gtest/gtest.h>

#include <map>

// One context for the whole test process, kept open to its end.
static HeadlessContext* context;
static Renderer* renderer;
static int rendererWidth;
static const char* rendererSource;

bool ensureHeadlessGl()
{
    if (context) return true;
    std::string error;
    context = openHeadlessContext(&error);
    if (!context) ADD_FAILURE() << "no headless OpenGL: " << error;
    return context != nullptr;
}

GlLookup headlessGlLookup()
{
    return ensureHeadlessGl() ? headlessLookup(*context) : nullptr;
}

static GLuint compileProbe(const std::string& body)
{
    static std::map<std::string, GLuint> programs;
    if (auto found = programs.find(body); found != programs.end()) return found->second;
    const std::string fragment = std::string(FRAGMENT_FUNCTIONS) +
        "uniform vec4 probeIn[64];void main(){initPixelValues();vec4 p=probeIn[int(gl_FragCoord.x)];"
        "vec4 result=vec4(0.);" +
        body + "gl_FragColor=result;}";
    const char* sources[] = {VERTEX_SOURCE, fragment.c_str()};
    const GLenum stages[] = {GL_VERTEX_SHADER, GL_FRAGMENT_SHADER};
    const GLuint program = glCreateProgram();
    for (int i = 0; i < 2; ++i) {
        const GLuint shader = glCreateShader(stages[i]);
        glShaderSource(shader, 1, &sources[i], nullptr);
        glCompileShader(shader);
        GLint ok = 0;
        glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
        if (!ok) {
            char log[4096] = {};
            glGetShaderInfoLog(shader, sizeof log, nullptr, log);
            ADD_FAILURE() << "probe shader does not compile: " << log;
        }
        glAttachShader(program, shader);
    }
    glLinkProgram(program);
    programs[body] = program;
    return program;
}

// Binds a float framebuffer of this size; channels are stored unclamped.
static void bindFloatTarget(int width, int height)
{
    static GLuint framebuffer, texture;
    if (!framebuffer) {
        glGenFramebuffers(1, &framebuffer);
        glGenTextures(1, &texture);
    }
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA32F, width, height, 0, GL_RGBA, GL_FLOAT, nullptr);
    glBindFramebuffer(GL_FRAMEBUFFER, framebuffer);
    glFramebufferTexture2D(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, texture, 0);
    glViewport(0, 0, width, height);
    glClampColor(GL_CLAMP_READ_COLOR, GL_FALSE);
    glClampColor(GL_CLAMP_FRAGMENT_COLOR, GL_FALSE);
}

static std::vector<Vec4> readFloat(int width, int height)
{
    std::vector<Vec4> out(size_t(width) * height);
    glReadPixels(0, 0, width, height, GL_RGBA, GL_FLOAT, out.data());
    return out;
}

static void bindNoise()
{
    static GLuint noise[2];
    if (!noise[0]) createNoiseTexture(noise);
    glActiveTexture(GL_TEXTURE0);
    glBindTexture(GL_TEXTURE_2D, noise[0]);
}

std::vector<Vec4> evaluateShader(const std::string& body, const FrameParams& params, const std::vector<Vec4>& inputs)
{
    if (!ensureHeadlessGl() || inputs.empty() || inputs.size() > 64) return {};
    const int count = int(inputs.size());
    bindFloatTarget(count, 1);
    bindNoise();
    const GLuint program = compileProbe(body);
    glUseProgram(program);
    glUniform4fv(glGetUniformLocation(program, "m"), 2, &params.time);
    glUniform1i(glGetUniformLocation(program, "v"), 0);
    glUniform4fv(glGetUniformLocation(program, "probeIn"), count, inputs[0].data());
    glRects(-1, -1, 1, 1);
    return readFloat(count, 1);
}

FrameParams paramsAtBeat(float beat)
{
    FrameParams p{};
    p.beat = beat;
    p.time = beat * SECONDS_PER_BEAT;
    p.warp = 1.0f;
    p.pulseGain = 0.2f;
    return p;
}

std::vector<Vec4> renderFloatFrame(uint32_t positionMs, int width, int height, const char* fragmentSource,
                                   const ScheduleValues& schedule)
{
    if (!ensureHeadlessGl()) return {};
    std::string error;
    if (!renderer) renderer = createRenderer(headlessLookup(*context), &error);
    if (!renderer) {
        ADD_FAILURE() << error;
        return {};
    }
    if (rendererWidth != width || rendererSource != fragmentSource) {
        rendererSource = fragmentSource;
        // Without a source, the show's shader draws as the show does, with its set of programs.
        if (!(fragmentSource ? useSingleProgram(*renderer, fragmentSource, width, height, &error)
                             : useShowPrograms(*renderer, width, height, &error))) {
            ADD_FAILURE() << error;
            return {};
        }
        rendererWidth = width;
    }
    bindFloatTarget(width, height);
    renderFrame(*renderer, schedule, positionMs);
    return readFloat(width, height);
}
