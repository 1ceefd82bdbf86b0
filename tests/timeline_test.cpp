// The choreography is defined to the bit: these compare bit patterns, not
// values within a tolerance.
#include "timeline/for_tests.h"
#include "timeline/rocket.h"
#include "timeline/schedule.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"
#include "timeline/track_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

static uint32_t bits(float value)
{
    uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

#define EXPECT_BITS(expected, actual) EXPECT_EQ(bits(float(expected)), bits(actual)) << #actual << " = " << (actual)

TEST(Curves, EaseInEdgesAndMiddle)
{
    EXPECT_BITS(0.0f, easeIn(80, 80, 4));
    EXPECT_BITS(1.0f, easeIn(84, 80, 4));
    EXPECT_BITS(0.125f, easeIn(82, 80, 4));
    EXPECT_BITS(1.0f, easeIn(1000, 80, 4));
}

TEST(Curves, TrapezoidOverlappingRampsAndPlateaus)
{
    EXPECT_NEAR(0.75f, trapezoid(59.99f, 54, 8, 8, 60), 0.0015f);
    EXPECT_BITS(0.0f, trapezoid(60, 54, 8, 8, 60));
    // Rise shorter than the span: the falling edge takes over after start + rise.
    EXPECT_NEAR(0.98333f, trapezoid(5.9f, 0, 6, 6, 10), 1e-5f);
    EXPECT_BITS(1.0f, trapezoid(6, 0, 6, 6, 10));
    EXPECT_NEAR(0.65f, trapezoid(6.1f, 0, 6, 6, 10), 1e-6f);
    EXPECT_BITS(0.0f, trapezoid(10, 0, 6, 6, 10));
    EXPECT_BITS(1.0f, trapezoid(72, 64, 8, 8, 80));
    EXPECT_BITS(1.0f, trapezoid(75, 66, 8, 8, 84));
    EXPECT_BITS(0.0f, trapezoid(54, 54, 8, 8, 60));
}

TEST(Curves, SineHumpStartsAtOneAndPeaksExactly)
{
    EXPECT_BITS(1.0f, sineHump(33.5f, 33.5f, 0.5f));
    EXPECT_NEAR(0.063f, sineHump(33.51f, 33.5f, 0.5f), 0.0005f);
    EXPECT_BITS(1.0f, sineHump(33.75f, 33.5f, 0.5f));
    EXPECT_BITS(0.0f, sineHump(34.0f, 33.5f, 0.5f));
}

TEST(Curves, StepAboveIsStrict)
{
    EXPECT_BITS(0.0f, stepAbove(52, 52));
    EXPECT_BITS(1.0f, stepAbove(52, 52.001f));
}

TEST(Curves, HitPulseTrain)
{
    EXPECT_BITS(0.0f, hitPulse(BUILT_IN_SCHEDULE, 20.99f));
    EXPECT_BITS(0.150146484375f, hitPulse(BUILT_IN_SCHEDULE, 21));
    EXPECT_BITS(0.150146484375f, hitPulse(BUILT_IN_SCHEDULE, 33.5f));
    EXPECT_BITS(0.0f, hitPulse(BUILT_IN_SCHEDULE, 27));
    EXPECT_BITS(0.0f, hitPulse(BUILT_IN_SCHEDULE, 34.5f));
    EXPECT_BITS(0.0f, hitPulse(BUILT_IN_SCHEDULE, 500));
    // The peak of the main hump sits on the echo's raised floor; the sum is
    // exact only with the shortened-mantissa weights, not 0.1 and 0.05.
    EXPECT_BITS(0.150146484375f, hitPulse(BUILT_IN_SCHEDULE, 25.75f));
}

struct Expected {
    uint32_t ms;
    uint32_t slots[8]; // bit patterns: time finale glitch spare beat hit warp pulseGain
};

TEST(FrameParams, ScheduleEdgesBitExact)
{
    const uint32_t ONE = 0x3F800000, ZERO = 0, GAIN_LOW = 0x3E4CCCCD, GAIN_HIGH = 0x3ECCCCCD;
    const Expected cases[] = {
        {0, {ZERO, ZERO, ZERO, ZERO, ZERO, ZERO, ONE, GAIN_LOW}},
        {41500, {0x42260001, ZERO, ZERO, ZERO, 0x4273774F, ZERO, ONE, GAIN_HIGH}},
    };
    for (const Expected& c : cases) {
        const FrameParams p = computeFrameParams(BUILT_IN_SCHEDULE, c.ms);
        const float got[] = {p.time, p.finale, p.glitch, p.spare, p.beat, p.hit, p.warp, p.pulseGain};
        for (int s = 0; s < 8; ++s) EXPECT_EQ(c.slots[s], bits(got[s])) << "ms " << c.ms << " slot " << s;
    }
}

TEST(FrameParams, BeatAndGainAroundBeat52)
{
    const FrameParams before = computeFrameParams(BUILT_IN_SCHEDULE, 35454);
    const FrameParams after = computeFrameParams(BUILT_IN_SCHEDULE, 35455);
    EXPECT_FLOAT_EQ(51.99907f, before.beat);
    EXPECT_BITS(0.2f, before.pulseGain);
    EXPECT_FLOAT_EQ(52.00053f, after.beat);
    EXPECT_BITS(0.4f, after.pulseGain);
}

TEST(FrameParams, WarpDipSnapsBackAtBeat60)
{
    const FrameParams dip = computeFrameParams(BUILT_IN_SCHEDULE, 40909);
    EXPECT_FLOAT_EQ(59.99971f, dip.beat);
    EXPECT_NEAR(0.55f, dip.warp, 1e-4f);
    const FrameParams snap = computeFrameParams(BUILT_IN_SCHEDULE, 40910);
    EXPECT_FLOAT_EQ(60.00118f, snap.beat);
    EXPECT_BITS(1.0f, snap.warp);
    EXPECT_EQ("60.8665123", [] {
        char text[32];
        std::snprintf(text, sizeof text, "%.9g", double(computeFrameParams(BUILT_IN_SCHEDULE, 41500).beat));
        return std::string(text);
    }());
}

TEST(FrameParams, WarpPeakGlitchAndFinale)
{
    // The swell's peak: 1 + 0.8, the dip long over.
    EXPECT_NEAR(1.8f, computeFrameParams(BUILT_IN_SCHEDULE, positionAtBeat(BUILT_IN_SCHEDULE, 72)).warp, 1e-3f);
    EXPECT_BITS(0.2f, computeFrameParams(BUILT_IN_SCHEDULE, positionAtBeat(BUILT_IN_SCHEDULE, 75)).glitch);
    for (uint32_t ms :
         {positionAtBeat(BUILT_IN_SCHEDULE, 84), positionAtBeat(BUILT_IN_SCHEDULE, 84) + 1, 100000u, 2000000u}) {
        const FrameParams p = computeFrameParams(BUILT_IN_SCHEDULE, ms);
        EXPECT_BITS(1.0f, p.finale) << ms;
        EXPECT_BITS(0.0f, p.glitch) << ms;
    }
}

TEST(FrameParams, TimeUsesSinglePrecisionMillisecondFactor)
{
    // The show's time at 123457 ms is 0x42F6E9FD, one unit above the float
    // nearest 123.457 (0x42F6E9FC): its factor is 0.001 as a float.
    EXPECT_EQ(0x42F6E9FDu, bits(computeFrameParams(BUILT_IN_SCHEDULE, 123457).time));
    // Positions are read as signed 32-bit counts; nothing clamps them.
    EXPECT_LT(computeFrameParams(BUILT_IN_SCHEDULE, 0xFFFFFFFFu).time, 0.0f);
    EXPECT_GT(computeFrameParams(BUILT_IN_SCHEDULE, 1000000u).beat,
              computeFrameParams(BUILT_IN_SCHEDULE, 999999u).beat);
}

TEST(FrameParams, WholeShowIsWellBehaved)
{
    float lastBeat = -1.0f;
    for (uint32_t ms = 0; ms <= 120000; ++ms) {
        const FrameParams p = computeFrameParams(BUILT_IN_SCHEDULE, ms);
        ASSERT_GE(p.beat, lastBeat) << ms;
        lastBeat = p.beat;
        const bool inPulse = (p.beat >= 21 && p.beat < 22.5f) || (p.beat >= 25 && p.beat < 26.5f) ||
            (p.beat >= 29 && p.beat < 30.5f) || (p.beat >= 33 && p.beat < 34.5f);
        if (!inPulse) {
            ASSERT_EQ(0.0f, p.hit) << ms;
        }
        ASSERT_GE(p.hit, 0.0f) << ms;
        ASSERT_LE(p.hit, 0.150146484375f) << ms;
        ASSERT_GE(p.glitch, 0.0f) << ms;
        ASSERT_LE(p.glitch, 0.2f) << ms;
        ASSERT_GT(p.warp, 0.0f) << ms;
        ASSERT_EQ(0u, bits(p.spare)) << ms;
    }
}

// The schedule's names and the curves agree: each curve changes exactly at
// its named beats, and the tools' end of the show is where the picture is black.
TEST(Schedule, CurvesChangeAtTheirNamedBeats)
{
    // `at` is the first position that has reached a beat, `before` the last that has not.
    auto at = [](float beat) { return computeFrameParams(BUILT_IN_SCHEDULE, positionAtBeat(BUILT_IN_SCHEDULE, beat)); };
    auto before = [](float beat) {
        return computeFrameParams(BUILT_IN_SCHEDULE, positionAtBeat(BUILT_IN_SCHEDULE, beat) - 1);
    };
    EXPECT_EQ(0.0f, before(FINALE_START_BEAT).finale);
    EXPECT_GT(at(FINALE_START_BEAT + 0.1f).finale, 0.0f);
    EXPECT_LT(before(FINALE_FULL_BEAT).finale, 1.0f);
    EXPECT_EQ(1.0f, at(FINALE_FULL_BEAT).finale);
    EXPECT_EQ(0.0f, before(GLITCH_START_BEAT).glitch);
    EXPECT_GT(at(GLITCH_START_BEAT + 0.1f).glitch, 0.0f);
    EXPECT_GT(before(GLITCH_END_BEAT).glitch, 0.0f);
    EXPECT_EQ(0.0f, at(GLITCH_END_BEAT).glitch);
    EXPECT_EQ(0.0f, before(FIRST_HIT_BEAT).hit);
    for (float hit : HIT_BEATS) EXPECT_GT(at(hit + 0.75f).hit, 0.1f) << hit;
    EXPECT_EQ(0.0f, at(LAST_HIT_BEAT + 2.0f).hit);
    EXPECT_EQ(1.0f, before(WARP_DIP_START_BEAT).warp);
    EXPECT_LT(at(WARP_DIP_START_BEAT + 1.0f).warp, 1.0f);
    EXPECT_EQ(1.0f, at(WARP_DIP_END_BEAT).warp);
    EXPECT_EQ(1.0f, before(WARP_SWELL_START_BEAT).warp);
    EXPECT_GT(at(WARP_SWELL_START_BEAT + 1.0f).warp, 1.0f);
    EXPECT_EQ(1.0f, at(WARP_SWELL_END_BEAT).warp);
    EXPECT_FLOAT_EQ(0.2f, before(PULSE_GAIN_STEP_BEAT).pulseGain);
    EXPECT_FLOAT_EQ(0.4f, at(PULSE_GAIN_STEP_BEAT + 0.01f).pulseGain);
    EXPECT_EQ(69000u, showEndMs(BUILT_IN_SCHEDULE)) << "the built-in show's picture has faded out by 69 s";
    EXPECT_GE(computeFrameParams(BUILT_IN_SCHEDULE, showEndMs(BUILT_IN_SCHEDULE)).beat, FADE_OUT_END_BEAT);
    EXPECT_LT(computeFrameParams(BUILT_IN_SCHEDULE, showEndMs(BUILT_IN_SCHEDULE) - 1000).beat, FADE_OUT_END_BEAT);
    EXPECT_EQ(uint32_t(INT32_MAX), positionAtBeat(BUILT_IN_SCHEDULE, 1e12f));
}

// The printed built-in schedule reads back as exactly the built-in one, and
// timing by it gives every parameter bit for bit; a value changed in the
// file moves the curve it names.
TEST(ScheduleFile, PrintedScheduleReadsBackExactlyAndMovesWhatItNames)
{
    const ScheduleValues builtIn;
    const std::string text = scheduleText(builtIn);
    ScheduleValues read;
    read.GLITCH_START_BEAT = 1.0f;
    std::string error;
    ASSERT_TRUE(parseSchedule(text, "built-in.txt", read, &error)) << error;
    EXPECT_EQ(0, std::memcmp(&builtIn, &read, sizeof read)) << text;

    std::vector<FrameParams> before;
    for (uint32_t ms = 0; ms < 70000; ms += 250) before.push_back(computeFrameParams(BUILT_IN_SCHEDULE, ms));
    for (uint32_t ms = 0, i = 0; ms < 70000; ms += 250, ++i) {
        const FrameParams after = computeFrameParams(read, ms);
        ASSERT_EQ(0, std::memcmp(&before[i], &after, sizeof after)) << ms;
    }

    std::string moved = text;
    moved.replace(moved.find("GLITCH_START_BEAT = 66"), 22, "GLITCH_START_BEAT = 70  # later");
    ASSERT_TRUE(parseSchedule(moved, "moved.txt", read, &error)) << error;
    EXPECT_EQ(0.0f, computeFrameParams(read, positionAtBeat(read, 69.5f)).glitch) << "the glitch starts at beat 70 now";
    EXPECT_GT(computeFrameParams(read, positionAtBeat(read, 70.5f)).glitch, 0.0f);
    EXPECT_EQ(positionAtBeat(read, 70.0f), positionAtBeat(read, sectionStartBeat(read, 5)))
        << "the glitch section moves with it";
}

// Every way a schedule file can be wrong is refused with its file, its line
// and what is wrong, and the values given are left as they were.
TEST(ScheduleFile, MistakesNameTheFileTheLineAndTheFault)
{
    const std::string good = scheduleText(ScheduleValues{});
    auto replaced = [&](const std::string& from, const std::string& to) {
        std::string text = good;
        text.replace(text.find(from), from.size(), to);
        return text;
    };
    const std::string glitchLine =
        std::to_string(std::count(good.begin(), good.begin() + std::ptrdiff_t(good.find("GLITCH_END_BEAT")), '\n') + 1);
    const struct {
        std::string text, expected;
    } cases[] = {
        {replaced("FLASHES_END_BEAT", "FLASHES_ENDS_BEAT"), "unknown name 'FLASHES_ENDS_BEAT'"},
        {replaced("GLITCH_END_BEAT = 84", "GLITCH_END_BEAT = 8y4"), "s.txt:" + glitchLine + ": the value of"},
        {replaced("GLITCH_END_BEAT = 84", "GLITCH_END_BEAT = 60"),
         "s.txt:" + glitchLine + ": GLITCH_END_BEAT (60) must come after GLITCH_START_BEAT (66)"},
        {replaced("SECONDS_PER_BEAT = 0.68182", "SECONDS_PER_BEAT = 0"), "SECONDS_PER_BEAT must be from 0.05 to 5"},
        {replaced("SECONDS_PER_BEAT = 0.68182", "SECONDS_PER_BEAT = -1"), "SECONDS_PER_BEAT must be from 0.05 to 5"},
        // A beat so short that drawing its grid never ended.
        {replaced("SECONDS_PER_BEAT = 0.68182", "SECONDS_PER_BEAT = 0.000003"), "not 0.000003"},
        {replaced("FINALE_START_BEAT = 80", "FINALE_START_BEAT = 1e308"), "must be a beat from 0 to 24000, not 1e308"},
        {replaced("FADE_OUT_RATE = 0.25", "FADE_OUT_RATE = 1e-50"), "FADE_OUT_RATE must be above 0"},
        {"X\x1b[31mRED = 1\n", "unknown name 'X\\x1B[31mRED'"},
        {replaced("FADE_IN_START_BEAT = 0", "FADE_IN_START_BEAT = -2"), "must be a beat from 0"},
        {replaced("FINALE_START_BEAT = 80", "# FINALE_START_BEAT = 80"), "s.txt: FINALE_START_BEAT is missing"},
        {good + "FINALE_START_BEAT = 81\n", "FINALE_START_BEAT is given twice"},
        {good + "FINALE_START_BEAT 81\n", "expected NAME = value"},
        {replaced("FADE_OUT_RATE = 0.25", "FADE_OUT_RATE = inf"), "the value of FADE_OUT_RATE is not a number"},
        {replaced("FADE_OUT_RATE = 0.25", "FADE_OUT_RATE ="), "the value of FADE_OUT_RATE is not a number"},
        {"", "SECONDS_PER_BEAT is missing"},
    };
    for (const auto& c : cases) {
        ScheduleValues values;
        values.GLITCH_START_BEAT = 1.0f;
        std::string error;
        EXPECT_FALSE(parseSchedule(c.text, "s.txt", values, &error)) << c.expected;
        EXPECT_NE(std::string::npos, error.find(c.expected)) << error;
        EXPECT_EQ(1.0f, values.GLITCH_START_BEAT) << "a refused file changes nothing";
    }
    ScheduleValues values;
    std::string error;
    EXPECT_TRUE(parseSchedule("\xEF\xBB\xBF" + good, "s.txt", values, &error)) << "a byte-order mark: " << error;
    EXPECT_FALSE(readScheduleFile("/nonexistent/s.txt", values, &error));
    EXPECT_NE(std::string::npos, error.find("cannot read the schedule file /nonexistent/s.txt")) << error;
    EXPECT_FALSE(readScheduleFile("/tmp", values, &error));
    EXPECT_NE(std::string::npos, error.find("not a regular file")) << error;
}

TEST(Tracks, EachInterpolationAtItsKeysAndBetweenThem)
{
    Track track{"t", 7.0f, {}};
    EXPECT_EQ(7.0f, trackValueAt(track, 3.0f)) << "no key: the default";
    track.keys = {{4.0f, 1.0f, Interpolation::Step},
                  {8.0f, 3.0f, Interpolation::Linear},
                  {12.0f, 5.0f, Interpolation::Smooth},
                  {16.0f, 1.0f, Interpolation::Ramp},
                  {20.0f, 2.0f}};
    EXPECT_EQ(1.0f, trackValueAt(track, 0.0f)) << "before the first key, the first holds";
    EXPECT_EQ(1.0f, trackValueAt(track, 4.0f));
    EXPECT_EQ(1.0f, trackValueAt(track, 7.999f)) << "step holds to the next key";
    EXPECT_EQ(3.0f, trackValueAt(track, 8.0f));
    EXPECT_EQ(3.5f, trackValueAt(track, 9.0f)) << "linear: a quarter of the way";
    EXPECT_EQ(5.0f, trackValueAt(track, 12.0f));
    EXPECT_EQ(float(5.0 - 4.0 * 0.15625), trackValueAt(track, 13.0f)) << "smooth: 3t^2 - 2t^3 at t = 1/4";
    EXPECT_EQ(float(1.0 + 1.0 * 0.0625), trackValueAt(track, 17.0f)) << "ramp: t^2 at t = 1/4";
    EXPECT_EQ(2.0f, trackValueAt(track, 20.0f));
    EXPECT_EQ(2.0f, trackValueAt(track, 24000.0f)) << "the last key holds";
}

// The shader's two tracks as the tools declare them.
static const Tracks DECLARED = {{"tintRed", 1.1f, {}}, {"flashStrength", 2.0f, {}}};

TEST(TrackFile, PrintedTracksReadBackExactlyAndMistakesAreNamedByLine)
{
    Tracks read;
    std::string error;
    const std::string printed = tracksText(defaultKeyed(DECLARED));
    ASSERT_TRUE(parseTracks(printed, "t.txt", DECLARED, read, &error)) << error;
    EXPECT_EQ(1.1f, trackValueAt(read[0], 50.0f));
    const std::string keyed =
        "# a drift\ntrack tintRed\n8 0.2 smooth\n 16.5 1.3 linear # the peak\n\n"
        "track flashStrength\n0 -4.75 ramp\n";
    ASSERT_TRUE(parseTracks(keyed, "t.txt", DECLARED, read, &error)) << error;
    Tracks again;
    ASSERT_TRUE(parseTracks(tracksText(read), "t.txt", DECLARED, again, &error)) << error;
    ASSERT_EQ(2u, again[0].keys.size());
    EXPECT_EQ(16.5f, again[0].keys[1].beat);
    EXPECT_EQ(-4.75f, again[1].keys[0].value);
    EXPECT_EQ(Interpolation::Ramp, again[1].keys[0].interpolation);

    const std::pair<const char*, const char*> mistakes[] = {
        {"track tintRed\n0 1 step\ntrack tintBlue\n", "t.txt:3: unknown track 'tintBlue'"},
        {"track tintRed\ntrack tintRed\n", "t.txt:2: track tintRed is given twice (first on line 1)"},
        {"0 1 step\n", "t.txt:1: a key before any track"},
        {"track tintRed\n4 1 step\n2 1 step\n", "t.txt:3: beat 2 comes before beat 4"},
        {"track tintRed\n4 1 step\n4 2 step\n", "t.txt:3: track tintRed has two keys at beat 4"},
        {"track tintRed\n0 nan step\n", "t.txt:2: the value must be a finite number"},
        {"track tintRed\n0 1e39 step\n", "t.txt:2: the value must be a finite number"},
        {"track tintRed\n0 1 bounce\n", "t.txt:2: unknown interpolation 'bounce'"},
        {"track tintRed\n24001 1 step\n", "t.txt:2: the beat must be a number from 0 to 24000"},
        {"track tintRed\n-1 1 step\n", "t.txt:2: the beat must be a number from 0 to 24000"},
        {"track tintRed\n0 1\n", "t.txt:2: expected BEAT VALUE INTERPOLATION"},
    };
    for (const auto& [text, expected] : mistakes) {
        error.clear();
        EXPECT_FALSE(parseTracks(text, "t.txt", DECLARED, read, &error)) << text;
        EXPECT_NE(std::string::npos, error.find(expected)) << error;
    }
    EXPECT_FALSE(readTrackFile("/", DECLARED, read, &error));
    EXPECT_NE(std::string::npos, error.find("not a regular file")) << error;
}

TEST(TrackFile, SyncTrackerXmlRoundTripKeepsEveryKey)
{
    Tracks tracks = DECLARED, read;
    tracks[0].keys = {{0.0f, 1.1f, Interpolation::Step},
                      {2.125f, -0.3f, Interpolation::Smooth},
                      {100.0f, 123.456f, Interpolation::Ramp}};
    tracks[1].keys = {{3.5f, 0.1f, Interpolation::Linear}};
    std::string xml, error;
    ASSERT_TRUE(rocketXml(tracks, 8, 800, xml, &error)) << error;
    EXPECT_NE(std::string::npos, xml.find("<key row=\"17\" value=\"-0.3\" interpolation=\"2\"/>")) << xml;
    ASSERT_TRUE(parseRocketXml(xml, "t.rocket", 8, DECLARED, read, &error)) << error;
    ASSERT_EQ(3u, read[0].keys.size());
    for (size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(tracks[0].keys[i].beat, read[0].keys[i].beat);
        EXPECT_EQ(tracks[0].keys[i].value, read[0].keys[i].value);
        EXPECT_EQ(tracks[0].keys[i].interpolation, read[0].keys[i].interpolation);
    }
    EXPECT_EQ(tracks[1].keys[0].value, read[1].keys[0].value);
    EXPECT_FALSE(rocketXml(tracks, 4, 800, xml, &error)) << "beat 2.125 lies between rows at 4 a beat";
    EXPECT_NE(std::string::npos, error.find("tintRed has a key at beat 2.125")) << error;
    EXPECT_FALSE(parseRocketXml("<tracks>\n<track name=\"camera:rot\">\n", "t.rocket", 8, DECLARED, read, &error));
    EXPECT_NE(std::string::npos, error.find("t.rocket:2: track 'camera:rot' is not declared")) << error;
    EXPECT_FALSE(parseRocketXml("<track name=\"tintRed\"><key row=\"1\" value=\"2\" interpolation=\"4\"/>", "t.rocket",
                                8, DECLARED, read, &error));
    EXPECT_NE(std::string::npos, error.find("interpolation must be 0")) << error;
}
