// The shipped shader's optimisations are exact: every pixel equals the
// straightforward baseline's, in full float precision.
#include "shaders/baseline_sources.h"
#include "shaders/pack.h"
#include "shaders/schedule_uniform.h"
#include "shaders/shader_sources.h"
#include "tests/gl_harness.h"
#include "tests/process.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <list>
#include <set>
#include <sstream>
#include <vector>

// Intro with thick bars, the bars' shrink, shake, a hit, flashes at both
// ends, the pulse after beat 52, warp dip and snap, warp swell with the
// glitch, the shake of the second half, finale, logo, fade-out, black; and
// every second of the show.
static const std::vector<uint32_t>& comparedPositions()
{
    static const std::vector<uint32_t> positions = [] {
        std::vector<uint32_t> p = {0,     2000,  7100,  13200, 14600, 25230, 30000, 35450, 37500,
                                   40910, 46000, 50000, 55500, 58000, 63000, 67500, 68864, 70000};
        for (uint32_t ms = 0; ms <= 70000; ms += 1000) p.push_back(ms);
        return p;
    }();
    return positions;
}

// The baseline's frames at those positions, drawn once for every test here
// (one shader at a time: switching costs a compile).
static const std::vector<std::vector<Vec4>>& baselineFrames()
{
    static std::vector<std::vector<Vec4>> frames;
    if (frames.empty())
        for (uint32_t ms : comparedPositions())
            frames.push_back(renderFloatFrame(ms, 160, 90, BASELINE_FRAGMENT_SOURCE));
    return frames;
}

TEST(Optimisations, ShippedShaderDrawsTheBaselinesPictureExactly)
{
    const std::vector<uint32_t>& positions = comparedPositions();
    const std::vector<std::vector<Vec4>>& baseline = baselineFrames();
    ASSERT_GE(positions.size(), 85u);
    for (size_t k = 0; k < positions.size(); ++k) {
        const auto shipped = renderFloatFrame(positions[k], 160, 90);
        ASSERT_EQ(baseline[k].size(), shipped.size());
        size_t differing = 0;
        for (size_t i = 0; i < shipped.size(); ++i)
            differing += std::memcmp(baseline[k][i].data(), shipped[i].data(), sizeof(Vec4)) != 0;
        EXPECT_EQ(0u, differing) << "pixels differ at " << positions[k] << " ms";
    }
    // The logo close up, where its strokes decide most pixels.
    for (uint32_t ms : {62000u, 66000u, 68000u}) {
        const auto baselineFrame = renderFloatFrame(ms, 640, 360, BASELINE_FRAGMENT_SOURCE);
        EXPECT_TRUE(baselineFrame == renderFloatFrame(ms, 640, 360)) << "pixels differ at " << ms;
    }
}

// A watched schedule file's values reach the studio's programs through a
// uniform instead of being written in: the same pictures, float for float,
// with the built-in values and with values moved past the frames compared.
TEST(Optimisations, ScheduleFromAUniformDrawsAsWrittenInValues)
{
    ShaderSources sources;
    std::string error;
    ASSERT_TRUE(readShaderSources(shaderFilesIn(SHADERS_DIR), sources, &error)) << error;
    const std::vector<std::string> names = optimisationNames();
    const std::set<std::string> all(names.begin(), names.end());
    PackedShaders fromUniform, writtenIn;
    ASSERT_TRUE(packShaders(sources, all, 160, 90, false, PackSchedule{&BUILT_IN_SCHEDULE, true}, fromUniform, &error))
        << error;
    const std::string& uniformProgram = fromUniform.specialised[PROGRAM_VARIANTS - 1];
    ASSERT_NE(std::string::npos, uniformProgram.find(SCHEDULE_UNIFORM));
    const std::vector<uint32_t>& positions = comparedPositions();
    const std::vector<std::vector<Vec4>>& baseline = baselineFrames();
    for (size_t k = 0; k < positions.size(); ++k)
        EXPECT_TRUE(renderFloatFrame(positions[k], 160, 90, uniformProgram.c_str()) == baseline[k])
            << "pixels differ at " << positions[k] << " ms";

    // Inside each stretch the other schedule moves, so that the two draw different pictures there.
    const std::vector<uint32_t> movedStretches = {7500, 12500, 24200, 34500, 65000, 66500};
    std::vector<std::vector<Vec4>> beforeTheMove;
    for (uint32_t ms : movedStretches) beforeTheMove.push_back(renderFloatFrame(ms, 160, 90, uniformProgram.c_str()));
    ScheduleValues moved;
    moved.INTRO_BARS_END_BEAT = 12.5f;
    moved.FIRST_SHAKE_START_BEAT = 18.0f;
    moved.FLASHES_START_BEAT = 35.0f;
    moved.FLASHES_END_BEAT = 50.0f;
    moved.FADE_OUT_START_BEAT = 95.0f;
    moved.FADE_OUT_RATE = 0.5f;
    ASSERT_TRUE(packShaders(sources, all, 160, 90, false, PackSchedule{&moved, false}, writtenIn, &error)) << error;
    const std::string& literalProgram = writtenIn.specialised[PROGRAM_VARIANTS - 1];
    for (size_t k = 0; k < movedStretches.size(); ++k) {
        const auto literal = renderFloatFrame(movedStretches[k], 160, 90, literalProgram.c_str(), moved);
        EXPECT_FALSE(literal == beforeTheMove[k]) << "the move shows at " << movedStretches[k] << " ms";
        EXPECT_TRUE(renderFloatFrame(movedStretches[k], 160, 90, uniformProgram.c_str(), moved) == literal)
            << "pixels differ at " << movedStretches[k] << " ms";
    }
}

// Each optimisation on its own (the variants the build packs for the
// benchmark script) is exact too.
TEST(Optimisations, EachOptimisationAloneDrawsTheBaselinesPicture)
{
    const CommandResult names = runCommand(std::string(GLSL_PACK_PATH) + " --list");
    ASSERT_EQ(0, names.status);
    const std::vector<uint32_t>& positions = comparedPositions();
    const std::vector<std::vector<Vec4>>& baseline = baselineFrames();
    std::istringstream list(names.output);
    std::string name;
    std::list<std::string> sources;
    int variants = 0;
    while (list >> name) {
        std::ifstream in(std::string(SINGLE_VARIANTS_DIR) + "/" + name + "/fragment.frag");
        const std::string text((std::istreambuf_iterator<char>(in)), {});
        ASSERT_FALSE(text.empty()) << "no packed variant for " << name;
        // Packed at the show's size, as the build does for the benchmark script.
        // Each source lives on in its own string: the harness knows a shader by its address.
        const std::string& source = sources.emplace_back(text);
        for (size_t k = 0; k < positions.size(); ++k)
            EXPECT_TRUE(renderFloatFrame(positions[k], 160, 90, source.c_str()) == baseline[k])
                << name << " alone differs at " << positions[k] << " ms";
        ++variants;
    }
    EXPECT_EQ(5, variants);
}

// The packer is the one reader of the optimisation markers: a misspelt
// name or marker fails the build, naming the file and line.
TEST(Optimisations, PackerRefusesUnknownNamesAndMarkers)
{
    const std::string dir = makeTempDir(), pack = std::string(GLSL_PACK_PATH) + " ";
    const std::string sources = std::string(SHADERS_DIR) + "/";
    const std::string files = sources + "vertex.glsl " + sources + "main.glsl " + sources + "interface.glsl " + dir +
        "/scene.glsl " + sources + "camera.glsl " + sources + "shading.glsl";
    struct Broken {
        const char* sed;      // the edit to scene.glsl
        const char* expected; // in the message
    };
    const Broken cases[] = {
        {"s|// @fast hoist|// @fast hoistt|", "scene.glsl:"},
        {"s|// @fast hoist|// @fats hoist|", "unknown marker"},
        {"0,\\|// @end|s|// @end||", "inside the block of hoist"},
        {"$ a // @fast fade", "never ended"},
        {"s|// @baseline logomin|// @baseline hoist|", "must follow"},
        {"s|// @target es|// @target gles|", "unknown target 'gles'"},
        {"/@target desktop/,/@end/ s|// @end|// @fast fade|", "inside the block of target desktop"},
    };
    for (const Broken& c : cases) {
        ASSERT_EQ(
            0,
            runCommand("sed '" + std::string(c.sed) + "' " + sources + "scene.glsl > " + dir + "/scene.glsl").status);
        const CommandResult r = runCommand(pack + "--enable all " + dir + "/out.cpp " + dir + " 160 90 " + files);
        EXPECT_EQ(1, r.status) << c.sed << ": " << r.output;
        EXPECT_NE(std::string::npos, r.output.find(c.expected)) << c.sed << ": " << r.output;
    }
    ASSERT_EQ(0, runCommand("cp " + sources + "scene.glsl " + dir + "/scene.glsl").status);
    const CommandResult unknown =
        runCommand(pack + "--enable march,hosit " + dir + "/out.cpp " + dir + " 160 90 " + files);
    EXPECT_EQ(2, unknown.status);
    EXPECT_NE(std::string::npos, unknown.output.find("unknown optimisation 'hosit'")) << unknown.output;
    // A single optimisation switched on packs into a shader between the two.
    ASSERT_EQ(0, runCommand(pack + "--enable march " + dir + "/out.cpp " + dir + " 160 90 " + files).status);
    const CommandResult text = runCommand("cat " + dir + "/fragment.frag");
    EXPECT_NE(std::string::npos, text.output.find("break;"));
    EXPECT_EQ(std::string::npos, text.output.find("logoBound"));
}

// A track is declared as "uniform float NAME; // @track DEFAULT": any other
// form, a name GLSL refuses, a name declared twice or a missing default is
// named by file and line before anything is packed.
TEST(Packer, TrackDeclarationsAreCheckedByFileAndLine)
{
    ShaderSources sources;
    std::string error;
    ASSERT_TRUE(readShaderSources(shaderFilesIn(SHADERS_DIR), sources, &error)) << error;
    const std::pair<const char*, const char*> mistakes[] = {
        {"uniform float tintRed; // @track 2.0", "interface.glsl:13: track tintRed is declared twice (first at "},
        {"uniform float 2tint; // @track 1.0", "interface.glsl:1: '2tint' is not a name GLSL allows"},
        {"uniform float gl_tint; // @track 1.0", "interface.glsl:1: 'gl_tint' is not a name GLSL allows"},
        {"uniform float tint; // @track", "interface.glsl:1: track tint has no default"},
        {"uniform float tint; // @track red", "interface.glsl:1: track tint has a default that is not a number"},
        {"uniform vec3 tint; // @track 1.0", "interface.glsl:1: a track is declared as 'uniform float NAME;"},
    };
    const std::string original = sources.functions[0];
    PackedShaders packed;
    for (const auto& [line, expected] : mistakes) {
        sources.functions[0] = std::string(line) + "\n" + original;
        error.clear();
        EXPECT_FALSE(packShaders(sources, {}, 160, 90, false, PackSchedule{}, packed, &error)) << line;
        EXPECT_NE(std::string::npos, error.find(expected)) << error;
    }
    // A negative default written in stays apart from the operator before it.
    sources.functions[0] = "uniform float offset; // @track -0.5\n" + original;
    sources.main.replace(sources.main.find("colour *= smoothstep"), 0, "colour.r = colour.r - offset;\n    ");
    ASSERT_TRUE(packShaders(sources, {}, 160, 90, false, PackSchedule{}, packed, &error)) << error;
    EXPECT_NE(std::string::npos, packed.fragment.find("-(-0.5)")) << packed.fragment;
}
