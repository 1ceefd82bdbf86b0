// Whole frames through the show's renderer, and the renderer's start-up checks.
#define GL_GLEXT_PROTOTYPES
#include "render/entry_points.h"
#include "render/from_readable.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "shaders/shader_sources.h"
#include "tests/gl_harness.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>

static constexpr int WIDTH = 160, HEIGHT = 90; // pixels

TEST(WholeFrames, BlackBeforeFadeInAndAfterFadeOut)
{
    // Beat 0 is position 0; beat 101 is reached at 68.864 s.
    for (uint32_t ms : {0u, 68864u, 69000u, 90000u}) {
        const auto frame = renderFloatFrame(ms, WIDTH, HEIGHT);
        ASSERT_EQ(size_t(WIDTH * HEIGHT), frame.size());
        size_t lit = 0;
        for (const Vec4& px : frame) lit += px[0] != 0 || px[1] != 0 || px[2] != 0 || px[3] != 0;
        EXPECT_EQ(0u, lit) << "ms " << ms;
    }
}

TEST(WholeFrames, AlphaZeroAndRepeatable)
{
    const auto first = renderFloatFrame(41500, WIDTH, HEIGHT);
    const auto second = renderFloatFrame(41500, WIDTH, HEIGHT);
    ASSERT_FALSE(first.empty());
    EXPECT_TRUE(first == second) << "the same position must give the same picture";
    size_t lit = 0;
    for (const Vec4& px : first) {
        EXPECT_EQ(0.0f, px[3]);
        lit += px[0] > 0.05f;
    }
    EXPECT_GT(lit, first.size() / 4) << "the lattice should fill the picture at 41.5 s";
}

TEST(WholeFrames, GlitchCoversEveryPixel)
{
    const auto frame = renderFloatFrame(50000, WIDTH, HEIGHT);
    ASSERT_FALSE(frame.empty());
    size_t black = 0;
    for (const Vec4& px : frame) black += px[0] == 0 && px[1] == 0 && px[2] == 0;
    EXPECT_EQ(0u, black);
}

// Box-filters a frame down by an integer factor.
static std::vector<Vec4> shrink(const std::vector<Vec4>& frame, int width, int height, int factor)
{
    std::vector<Vec4> out(size_t(width / factor) * (height / factor));
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                out[size_t(y / factor) * (width / factor) + x / factor][c] +=
                    frame[size_t(y) * width + x][c] / float(factor * factor);
    return out;
}

static double meanDifference(const std::vector<Vec4>& a, const std::vector<Vec4>& b, int width, int shiftX)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const int x = int(i % width);
        if (x + shiftX < 0 || x + shiftX >= width) continue;
        for (int c = 0; c < 3; ++c) sum += std::fabs(std::min(a[i][c], 1.0f) - std::min(b[i + shiftX][c], 1.0f));
        ++n;
    }
    return sum / double(n * 3);
}

TEST(WholeFrames, SmallSizesKeepTheShowsFraming)
{
    // The logo at 66 s has sharp edges that reveal any offset or scale error.
    const uint32_t ms = 66000;
    const auto full = renderFloatFrame(ms, 1280, 720);
    for (int width : {160, 320}) {
        const int height = width * 9 / 16;
        const auto small = renderFloatFrame(ms, width, height);
        const auto reference = shrink(full, 1280, 720, 1280 / width);
        const double aligned = meanDifference(small, reference, width, 0);
        const double shifted = meanDifference(small, reference, width, 2);
        EXPECT_LT(aligned, 0.05) << width;
        EXPECT_LT(aligned * 2, shifted) << width << ": a two-pixel shift should match worse";
    }
}

static const char* missingFunction;
static GlLookup realLookup;

// A driver that has every OpenGL function but one.
static void* lookupAllBut(const char* name)
{
    return std::strcmp(name, missingFunction) == 0 ? nullptr : realLookup(name);
}

TEST(Renderer, EachMissingEntryPointIsNamed)
{
    realLookup = headlessGlLookup();
    ASSERT_TRUE(realLookup);
    for (const char* name : {"glCreateProgram", "glShaderSource", "glUniform4fv", "glActiveTexture"}) {
        missingFunction = name;
        std::string error;
        EXPECT_EQ(nullptr, createRenderer(lookupAllBut, &error)) << name;
        EXPECT_NE(std::string::npos, error.find(std::string("lacks ") + name + ":")) << error;
    }
    missingFunction = "glNothingByThisName";
    std::string error;
    Renderer* renderer = createRenderer(lookupAllBut, &error);
    EXPECT_TRUE(renderer) << error;
    destroyRenderer(renderer);
}

// Set up again and again, a renderer releases the programs it replaced,
// draws the same, and gives its texture back when destroyed.
TEST(Renderer, RebuildingTenTimesReleasesTheOldProgramAndTextures)
{
    const auto first = renderFloatFrame(41500, 160, 90);
    std::string error;
    Renderer* renderer = createRenderer(headlessGlLookup(), &error);
    ASSERT_TRUE(renderer) << error;
    GLint texture = 0;
    for (int i = 0; i < 10; ++i) {
        ASSERT_TRUE(useSingleProgram(*renderer, FRAGMENT_SOURCE, 160, 90, &error)) << error;
        renderFrame(*renderer, BUILT_IN_SCHEDULE, 41500);
        GLint oldProgram = 0;
        glGetIntegerv(GL_CURRENT_PROGRAM, &oldProgram);
        glGetIntegerv(GL_TEXTURE_BINDING_2D, &texture);
        ASSERT_TRUE(useSingleProgram(*renderer, FRAGMENT_SOURCE, 160, 90, &error)) << error;
        glUseProgram(0);
        EXPECT_FALSE(glIsProgram(GLuint(oldProgram))) << "round " << i;
    }
    destroyRenderer(renderer);
    EXPECT_FALSE(glIsTexture(GLuint(texture)));
    EXPECT_TRUE(renderFloatFrame(41500, 160, 90) == first);
}

TEST(Renderer, RejectedShaderFailsStartUpWithTheDriversLog)
{
    std::string error;
    Renderer* renderer = createRenderer(headlessGlLookup(), &error);
    ASSERT_TRUE(renderer) << error;
    EXPECT_FALSE(useSingleProgram(*renderer, "void main(){gl_FragColor=undefinedThing;}", 160, 90, &error));
    EXPECT_NE(std::string::npos, error.find("fragment shader")) << error;
    EXPECT_NE(std::string::npos, error.find("undefinedThing")) << error;
    error.clear();
    EXPECT_TRUE(useSingleProgram(*renderer, FRAGMENT_SOURCE, 160, 90, &error)) << error;
    destroyRenderer(renderer);
}

// An edit that breaks only a part of the shader the frame on screen does not
// draw: the program for that frame builds, those with the glitch do not.
// Whether frames have needed them first (each program with the glitch; only
// the finale's is left to build) or they are built after the picture, the
// failure is named by the readable file and line.
TEST(Renderer, ReadableProgramRejectedOnFirstNeedIsNamedWhenTheRestAreBuilt)
{
    ShaderSources sources;
    std::string error;
    ASSERT_TRUE(readShaderSources(shaderFilesIn(VANTROP_SHADERS_DIR), sources, &error)) << error;
    const std::string shake = "q = q + 4.0 * m[0].z *";
    int brokenLine = 0;
    for (std::string& text : sources.functions)
        if (const size_t at = text.find(shake); at != std::string::npos) {
            text.replace(at, shake.size(), "q = q + 4.0 * oops * m[0].z *");
            brokenLine = 1 + int(std::count(text.begin(), text.begin() + long(at), '\n'));
        }
    ASSERT_NE(0, brokenLine) << "scene.glsl no longer has the shake this test breaks";
    const std::string named = "scene.glsl:" + std::to_string(brokenLine) + ": error: `oops' undeclared";
    const int64_t calm = 15000;
    // The glitch alone, then the glitch in the finale's first beats.
    static constexpr uint32_t GLITCH_MS = 52000, GLITCH_AND_FINALE_MS = 56000;
    Renderer* renderer = createRenderer(headlessGlLookup(), &error);
    ASSERT_TRUE(renderer) << error;
    ReadablePrograms* readable = createReadablePrograms(false, false);
    for (const bool glitchDrawnFirst : {false, true}) {
        ASSERT_TRUE(useReadablePrograms(*readable, *renderer, sources, BUILT_IN_SCHEDULE, 160, 90, &error, &calm))
            << error;
        renderFrame(*renderer, BUILT_IN_SCHEDULE, uint32_t(calm));
        if (glitchDrawnFirst) {
            renderFrame(*renderer, BUILT_IN_SCHEDULE, GLITCH_MS);
            renderFrame(*renderer, BUILT_IN_SCHEDULE, GLITCH_AND_FINALE_MS);
        }
        error.clear();
        EXPECT_FALSE(finishReadablePrograms(*readable, *renderer, &error)) << glitchDrawnFirst;
        EXPECT_NE(std::string::npos, error.find(named)) << glitchDrawnFirst << ": " << error;
    }
    destroyReadablePrograms(readable);
    destroyRenderer(renderer);
}

TEST(ShaderText, SingleLineWithTheBuildResolution)
{
    for (const char* source : {VERTEX_SOURCE, FRAGMENT_SOURCE}) {
        EXPECT_EQ(nullptr, std::strchr(source, '\n'));
        EXPECT_EQ(nullptr, std::strstr(source, "//"));
        EXPECT_EQ(nullptr, std::strstr(source, "#version"));
    }
    EXPECT_NE(nullptr, std::strstr(FRAGMENT_SOURCE, SHOW_RESOLUTION_LITERAL));
    const std::string small = withResolution(FRAGMENT_SOURCE, 160, 90);
    EXPECT_NE(std::string::npos, small.find("vec2(160.,90.)"));
    EXPECT_EQ(std::string::npos, small.find(SHOW_RESOLUTION_LITERAL));
}
