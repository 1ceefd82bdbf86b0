// The scene shader's functions, evaluated by the real driver.
#include "render/noise.h"
#include "render/renderer.h"
#include "tests/gl_harness.h"
#include "timeline/schedule.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

static constexpr float TOLERANCE = 2e-5f;

static std::vector<uint8_t> noiseBytes()
{
    std::vector<uint8_t> bytes(256 * 256 * 4);
    fillNoise(bytes.data());
    return bytes;
}

TEST(NoiseTexture, FixedSeedBytes)
{
    const std::vector<uint8_t> bytes = noiseBytes();
    const uint8_t first[16] = {0x26, 0x27, 0xF6, 0x85, 0x97, 0x15, 0xAD, 0x1D,
                               0xD2, 0x94, 0xDD, 0xC4, 0x76, 0x19, 0x39, 0x31};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(first[i], bytes[i]) << "byte " << i;
    EXPECT_EQ(bytes, noiseBytes());
}

TEST(SharedFunctions, TexNoiseAtWholePointsIsTheGreenTexel)
{
    const std::vector<uint8_t> bytes = noiseBytes();
    const std::vector<Vec4> points = {{0, 0, 0, 0},   {3, 5, 0, 0},      {1, 2, 3, 0},   {250, 7, 9, 0},
                                      {-1, -4, 2, 0}, {300, -20, -7, 0}, {12, 200, 1, 0}};
    const auto out = evaluateShader("result.x=texNoise(p.xyz);result.y=texNoise(p.xyz+256.);", paramsAtBeat(0), points);
    ASSERT_EQ(points.size(), out.size());
    for (size_t i = 0; i < points.size(); ++i) {
        const int x = int(points[i][0]), y = int(points[i][1]), z = int(points[i][2]);
        const int column = (((x + 37 * z) % 256) + 256) % 256, row = (((y + 17 * z) % 256) + 256) % 256;
        const float green = bytes[size_t(row * 256 + column) * 4 + 1] / 255.0f;
        EXPECT_NEAR(green, out[i][0], 1e-6f) << "point " << i;
        EXPECT_NEAR(green, out[i][1], 1e-6f) << "period 256, point " << i;
    }
}

TEST(SharedFunctions, BeatWindowRampAndPulse)
{
    struct Case {
        float beat, window, ramp;
    };
    // A window from beat 3 to 4 and a ramp over beats 6 to 7.
    const Case cases[] = {{2.99f, 0, 0}, {3, 1, 0}, {3.5f, 1, 0},    {4, 0, 0},
                          {5, 0, 0},     {6, 0, 0}, {6.5f, 0, 0.5f}, {7, 0, 1}};
    for (const Case& c : cases) {
        const auto out = evaluateShader("result=vec4(beatWindow(3.,4.),beatRamp(6.,7.),0.,0.);", paramsAtBeat(c.beat),
                                        {{0, 0, 0, 0}});
        ASSERT_EQ(1u, out.size());
        EXPECT_EQ(c.window, out[0][0]) << "beat " << c.beat;
        EXPECT_NEAR(c.ramp, out[0][1], 1e-6f) << "beat " << c.beat;
    }
    for (float gain : {0.2f, 0.4f}) {
        for (float base : {0.0f, 4.0f, 8.0f, 56.0f}) {
            FrameParams at = paramsAtBeat(base);
            at.pulseGain = gain;
            auto pulse = [&](float beat) {
                at.beat = beat;
                return evaluateShader("result.x=beatPulse;", at, {{0, 0, 0, 0}})[0][0];
            };
            EXPECT_EQ(0.0f, pulse(base)) << base;
            EXPECT_NEAR(gain, pulse(base + 0.2f), 1e-5f) << base;
            EXPECT_NEAR(0.0016f * gain, pulse(base + 0.3999f), 0.002f * gain) << base;
            EXPECT_EQ(0.0f, pulse(base + 0.41f)) << base;
            EXPECT_EQ(0.0f, pulse(base + 2.0f)) << base;
        }
    }
}

// The bars are thick through the intro, thin after it, swell after each bar line
// and on a hit.
TEST(SharedFunctions, BarRadiusCarriesIntroThicknessAndHits)
{
    auto radiusAt = [](float beat, float hit) {
        FrameParams at = paramsAtBeat(beat);
        at.hit = hit;
        return evaluateShader("result.x=barRadius;", at, {{0, 0, 0, 0}})[0][0];
    };
    EXPECT_NEAR(1.15f, radiusAt(5.0f, 0), 1e-6f) << "thick in the intro";
    EXPECT_NEAR(0.15f, radiusAt(INTRO_BARS_END_BEAT, 0), 1e-6f) << "thin after it, on a beat";
    EXPECT_GT(radiusAt(INTRO_BARS_END_BEAT + 1.2f, 0), 0.15f) << "swollen by the pulse after a bar line";
    EXPECT_NEAR(0.15f + 0.150146484375f, radiusAt(FIRST_HIT_BEAT, 0.150146484375f), 1e-6f) << "and by a hit";
}

TEST(SharedFunctions, SmoothMin)
{
    const auto out = evaluateShader("result=vec4(smoothMin(p.x,p.y),smoothMin(p.y,p.x),0.,0.);", paramsAtBeat(0),
                                    {{1, 1, 0, 0}, {-3, -3, 0, 0}, {0, 0.75f, 0, 0}, {2, -5, 0, 0}, {0, 0.3f, 0, 0}});
    EXPECT_NEAR(1 - 0.1875f, out[0][0], 1e-6f);
    EXPECT_NEAR(-3 - 0.1875f, out[1][0], 1e-6f);
    EXPECT_NEAR(0.0f, out[2][0], 1e-6f);
    EXPECT_NEAR(-5.0f, out[3][0], 1e-6f);
    EXPECT_LT(out[4][0], 0.0f);
    for (const Vec4& r : out) EXPECT_NEAR(r[0], r[1], 1e-6f);
}

TEST(SceneDistance, StrokesAndLogo)
{
    FrameParams at = paramsAtBeat(2.0f); // no beat pulse
    const auto out =
        evaluateShader("result=vec4(strokeDist(p.xyz,vec3(-9.,2.,0.),vec3(-9.,-2.,0.)),logoDist(p.xyz),0.,0.);", at,
                       {{-9, 0, 0, 0}, {-9, 5, 0, 0}, {0, 5, 0, 0}, {-9, 0, 3, 0}, {10, -2, 0, 0}});
    EXPECT_NEAR(-0.25f, out[0][0], TOLERANCE);
    EXPECT_NEAR(-0.25f, out[0][1], TOLERANCE);
    EXPECT_NEAR(3 - 0.25f, out[1][0], TOLERANCE); // past the stroke's end, to its end point
    EXPECT_NEAR(std::sqrt(26.0f) - 0.25f, out[2][1], TOLERANCE);
    EXPECT_NEAR(3 - 0.25f, out[3][1], TOLERANCE);
    EXPECT_NEAR(-0.25f, out[4][1], TOLERANCE); // the end of the last stroke of the n
    at = paramsAtBeat(4.2f);                   // strokes swell with the pulse
    const auto swollen = evaluateShader("result.x=logoDist(p.xyz);result.y=beatPulse;", at, {{-9, 0, 0, 0}});
    EXPECT_NEAR(-0.25f - 0.5f * swollen[0][1], swollen[0][0], TOLERANCE);
    EXPECT_GT(swollen[0][1], 0.19f);
}

TEST(SceneDistance, CrossesWithAndWithoutGlitch)
{
    FrameParams calm = paramsAtBeat(12); // barRadius 0.15
    const std::vector<Vec4> points = {{0, 0, 0, 0}, {1, 0.5f, 2, 0}, {2.4f, -1.3f, 0.7f, 0}};
    const std::string body = "result.x=crossDist(p.xyz,p.xyz+vec3(3.7,11.2,-40.));result.y=barRadius;";
    const auto out = evaluateShader(body, calm, points);
    EXPECT_NEAR(-0.15f - 0.29296875f, out[0][0], TOLERANCE);
    FrameParams glitched = calm;
    glitched.glitch = 0.2f;
    const auto shaken = evaluateShader(body, glitched, points);
    int moved = 0;
    for (size_t i = 0; i < points.size(); ++i) {
        // The cell point moves by at most 0.4 on each axis; a distance moves no further.
        EXPECT_LE(std::fabs(shaken[i][0] - out[i][0]), 0.4f * std::sqrt(3.0f) + 1e-4f) << i;
        moved += shaken[i][0] != out[i][0];
    }
    EXPECT_GT(moved, 0);
}

TEST(SceneDistance, SceneDistanceFinaleAndMaterial)
{
    FrameParams at = paramsAtBeat(30);
    at.hit = 0;
    const std::vector<Vec4> points = {{30, 20, 10, 0}, {3, 4, 1, 0}, {-20, 1, 0.5f, 0}};
    const std::string body = "vec2 s=sceneDist(p.xyz);result=vec4(s,logoDist(.2*p.xyz),0.);";
    const auto plain = evaluateShader(body, at, points);
    at.finale = 1.0f;
    const auto finale = evaluateShader(body, at, points);
    for (size_t i = 0; i < points.size(); ++i) {
        EXPECT_EQ(0.0f, plain[i][1]);
        EXPECT_GE(finale[i][0], plain[i][0] - 1e-5f) << "the finale only pushes crosses away, point " << i;
    }
}

TEST(CameraAndMarch, CameraAtTimeZeroAndShakeWindows)
{
    const std::string body = "cameraRay();result=vec4(rayOrigin,0.);";
    const auto still = evaluateShader(body, paramsAtBeat(0), {{0, 0, 0, 0}});
    EXPECT_NEAR(0.4f, still[0][0], 1e-6f);
    EXPECT_NEAR(0.4f, still[0][1], 1e-6f);
    EXPECT_NEAR(-90.0f, still[0][2], 1e-6f);
    struct Window {
        float beat, strength;
    };
    // The shake windows of the schedule, at their edges and inside.
    for (const Window w : {Window{FIRST_SHAKE_START_BEAT - 0.01f, 0}, Window{FIRST_SHAKE_START_BEAT, 1},
                           Window{FIRST_SHAKE_START_BEAT + 0.5f, 1}, Window{FIRST_SHAKE_END_BEAT, 0},
                           Window{SECOND_SHAKE_START_BEAT - 0.01f, 0}, Window{SECOND_SHAKE_START_BEAT, 0.75f},
                           Window{SECOND_SHAKE_START_BEAT + 7, 0.75f}, Window{SECOND_SHAKE_END_BEAT, 0},
                           Window{SECOND_SHAKE_END_BEAT + 6, 0}}) {
        const FrameParams at = paramsAtBeat(w.beat);
        const auto out = evaluateShader(body, at, {{0, 0, 0, 0}});
        const float dx = out[0][0] - 0.4f, dy = out[0][1] - 0.4f;
        EXPECT_NEAR(at.time - 90.0f, out[0][2], 1e-4f) << "z is never shaken, beat " << w.beat;
        if (w.strength == 0) {
            EXPECT_EQ(0.0f, dx) << "beat " << w.beat;
            EXPECT_EQ(0.0f, dy) << "beat " << w.beat;
        } else {
            EXPECT_LE(std::fabs(dx), 0.5f * w.strength + 1e-6f) << "beat " << w.beat;
            EXPECT_LE(std::fabs(dy), 0.5f * w.strength + 1e-6f) << "beat " << w.beat;
            EXPECT_TRUE(dx != 0 || dy != 0) << "beat " << w.beat;
        }
    }
}

TEST(CameraAndMarch, MissesAndOutOfStepHits)
{
    // March the real scene along a fan of rays from the camera at 41.5 s.
    const FrameParams at = computeFrameParams(BUILT_IN_SCHEDULE, 41500);
    std::vector<Vec4> directions;
    for (int i = 0; i < 64; ++i) {
        const float angle = 0.1f * float(i);
        directions.push_back({std::sin(angle) * 0.9f, std::cos(angle * 1.7f) * 0.9f, 1.0f, 0});
    }
    const auto out = evaluateShader("cameraRay();result=march(rayOrigin,normalize(p.xyz));", at, directions);
    int misses = 0, converged = 0, outOfSteps = 0;
    for (const Vec4& r : out) {
        EXPECT_GE(r[1], 1.0f);
        EXPECT_LE(r[1], 80.0f);
        if (r[2] == -1.0f) {
            ++misses;
            EXPECT_GT(r[0], 100.0f);
        } else {
            EXPECT_EQ(0.0f, r[2]);
            EXPECT_LE(r[0], 100.0f);
            if (std::fabs(r[3]) < 0.002f)
                ++converged;
            else {
                ++outOfSteps;
                EXPECT_EQ(80.0f, r[1]) << "a hit that did not converge used every step";
            }
        }
    }
    EXPECT_GT(converged, 0);
    EXPECT_GT(misses + outOfSteps, 0);
}

TEST(Shading, FlashWaveAndFlashFieldWindow)
{
    const auto wave =
        evaluateShader("result=vec4(flashWave(p.x,500.),0.,0.,0.);", paramsAtBeat(0),
                       {{0, 0, 0, 0}, {0.5f, 0, 0, 0}, {1, 0, 0, 0}, {2, 0, 0, 0}, {-499, 0, 0, 0}, {250, 0, 0, 0}});
    EXPECT_NEAR(0.0f, wave[0][0], 1e-6f);
    EXPECT_NEAR(0.5f, wave[1][0], 1e-6f);
    EXPECT_NEAR(1.0f, wave[2][0], 1e-6f);
    EXPECT_NEAR(0.0f, wave[3][0], 1e-6f);
    EXPECT_NEAR(1.0f, wave[4][0], 1e-4f);
    EXPECT_NEAR(0.0f, wave[5][0], 1e-6f);
    // q.x placed so that pulse A peaks at the flash window's two edges: on
    // at the named beats, off just outside them.
    auto peakAt = [](float beat) { return float(std::fmod(1.0 - 413.1 - 16.0 * double(beat), 500.0) + 500.0); };
    struct Case {
        float beat, x, expected;
    };
    for (const Case c :
         {Case{FLASHES_START_BEAT, peakAt(FLASHES_START_BEAT), 1}, Case{FLASHES_END_BEAT, peakAt(FLASHES_END_BEAT), 1},
          Case{FLASHES_START_BEAT - 0.01f, peakAt(FLASHES_START_BEAT), 0},
          Case{FLASHES_END_BEAT + 0.01f, peakAt(FLASHES_END_BEAT), 0}}) {
        const auto out = evaluateShader("result.x=flashField(p.xyz);", paramsAtBeat(c.beat), {{c.x, 0, 0, 0}});
        EXPECT_NEAR(c.expected, out[0][0], 0.01f) << "beat " << c.beat;
    }
}

TEST(Shading, HeadOnHighlightAndGrazingHit)
{
    const FrameParams at = paramsAtBeat(12);
    const auto out = evaluateShader("result=vec4(shade(vec4(1.,10.,0.,0.001),vec3(0.,0.,1.),p.xyz),0.);", at,
                                    {{0, 0, -1, 0}, {1, 0, 0, 0}});
    EXPECT_NEAR(6.61f, out[0][0], 1e-3f);
    EXPECT_NEAR(4.985f, out[0][1], 1e-3f);
    EXPECT_NEAR(3.36f, out[0][2], 1e-3f);
    for (int c = 0; c < 3; ++c) EXPECT_NEAR(0.01f, out[1][c], 1e-5f);
}
