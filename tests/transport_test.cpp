// The studio's transport as a state machine: keys and time in, position and
// what the music must do out.
#include "studio/keys.h"
#include "studio/strip.h"
#include "studio/transport.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"
#include "view/view.h"

#include <gtest/gtest.h>

#include <cmath>

static Transport pausedAt(uint32_t ms)
{
    Transport t;
    t.lengthMs = 70000;
    t.positionMs = ms;
    t.paused = true;
    return t;
}

// The first millisecond whose frame is on `beat`: on it, and the one before is not.
static void expectOnBeat(const Transport& t, float beat)
{
    EXPECT_GE(computeFrameParams(BUILT_IN_SCHEDULE, t.positionMs).beat, beat) << t.positionMs << " ms";
    EXPECT_LT(computeFrameParams(BUILT_IN_SCHEDULE, t.positionMs - 1).beat, beat) << t.positionMs << " ms";
}

TEST(Transport, StepsLandOnTheGridOfBeatsBarsAndPhrases)
{
    Transport t = pausedAt(10000); // beat 14.67
    MusicCommand c = pressKey(t, TransportKey::BarAhead);
    EXPECT_TRUE(c.seek);
    EXPECT_FALSE(c.sound) << "paused: a seek shows the frame but plays nothing";
    expectOnBeat(t, 16.0f);
    pressKey(t, TransportKey::BarBack);
    expectOnBeat(t, 12.0f);
    pressKey(t, TransportKey::BeatAhead);
    expectOnBeat(t, 13.0f);
    pressKey(t, TransportKey::BeatBack);
    expectOnBeat(t, 12.0f);
    pressKey(t, TransportKey::PhraseAhead);
    expectOnBeat(t, 32.0f);
    t.positionMs = 10636; // beat 15.60: the fraction goes, the next whole beat comes
    pressKey(t, TransportKey::BeatAhead);
    expectOnBeat(t, 16.0f);
    t.positionMs = 10636;
    pressKey(t, TransportKey::BeatBack);
    expectOnBeat(t, 15.0f);
    // One frame of 60 a second: 16 or 17 ms, never drifting from the frames' grid.
    t.positionMs = 1000;
    pressKey(t, TransportKey::FrameAhead);
    EXPECT_EQ(1017u, t.positionMs);
    pressKey(t, TransportKey::FrameAhead);
    EXPECT_EQ(1034u, t.positionMs);
    pressKey(t, TransportKey::FrameBack);
    pressKey(t, TransportKey::FrameBack);
    EXPECT_EQ(1000u, t.positionMs);
    pressKey(t, TransportKey::Home);
    EXPECT_EQ(0u, t.positionMs);
    pressKey(t, TransportKey::BeatBack);
    EXPECT_EQ(0u, t.positionMs) << "never before the start";
    t.positionMs = 69900;
    pressKey(t, TransportKey::BarAhead);
    EXPECT_EQ(70000u, t.positionMs) << "never past the music's end";
}

TEST(Transport, PauseResumesAtTheSamePositionWithSound)
{
    Transport t = pausedAt(0);
    t.paused = false;
    tick(t, 5123, 16);
    MusicCommand c = pressKey(t, TransportKey::PlayPause);
    EXPECT_TRUE(t.paused);
    EXPECT_FALSE(c.sound);
    tick(t, 9999, 500); // the clock may run on, the paused transport does not
    EXPECT_EQ(5123u, t.positionMs);
    c = pressKey(t, TransportKey::PlayPause);
    EXPECT_TRUE(c.seek);
    EXPECT_TRUE(c.sound);
    EXPECT_EQ(5123u, t.positionMs);
}

TEST(Transport, ShuttleDoublesUpToEightAndIsSilent)
{
    Transport t = pausedAt(20000);
    EXPECT_TRUE(pressKey(t, TransportKey::ShuttleAhead).sound);
    EXPECT_STREQ("PLAYING", transportStateText(t));
    for (int expected : {2, 4, 8, 8}) {
        EXPECT_FALSE(pressKey(t, TransportKey::ShuttleAhead).sound);
        EXPECT_EQ(expected, t.speed);
    }
    tick(t, 0, 100.25);
    tick(t, 0, 100.25);
    EXPECT_EQ(20000u + 1604u, t.positionMs) << "8 x 200.5 ms, fractions kept";
    pressKey(t, TransportKey::ShuttleBack);
    EXPECT_EQ(-1, t.speed);
    tick(t, 0, 1000);
    EXPECT_EQ(20604u, t.positionMs);
    pressKey(t, TransportKey::ShuttleStop);
    EXPECT_STREQ("PAUSED", transportStateText(t));
}

TEST(Transport, LoopWrapsWithTheSoundAndClears)
{
    Transport t = pausedAt(30000);
    pressKey(t, TransportKey::LoopIn);
    t.positionMs = 32727;
    pressKey(t, TransportKey::LoopOut);
    EXPECT_TRUE(t.looping);
    pressKey(t, TransportKey::Home);
    pressKey(t, TransportKey::PlayPause);
    EXPECT_FALSE(tick(t, 31000, 16).seek);
    MusicCommand c = tick(t, 32727, 16);
    EXPECT_TRUE(c.seek);
    EXPECT_TRUE(c.sound);
    EXPECT_EQ(30000u, t.positionMs);
    pressKey(t, TransportKey::ClearLoop);
    EXPECT_FALSE(tick(t, 33000, 16).seek);
    // An out point before the in point is no loop.
    pressKey(t, TransportKey::LoopIn);
    t.positionMs = 1000;
    pressKey(t, TransportKey::LoopOut);
    EXPECT_FALSE(t.looping);
}

// A section key lands on the first millisecond whose frame is in the
// section: its beat there has reached the section's, one millisecond earlier
// it had not, and sections come in the order of the keys.
TEST(Transport, SectionKeysLandOnEachSectionsFirstFrame)
{
    Transport t = pausedAt(50000);
    uint32_t previous = 0;
    for (size_t i = 0; i < std::size(SHOW_SECTIONS); ++i) {
        EXPECT_TRUE(jumpToSection(t, int(i)).seek);
        const float sectionBeat = sectionStartBeat(BUILT_IN_SCHEDULE, int(i));
        EXPECT_GE(computeFrameParams(BUILT_IN_SCHEDULE, t.positionMs).beat, sectionBeat) << SHOW_SECTIONS[i].name;
        if (t.positionMs > 0) {
            EXPECT_LT(computeFrameParams(BUILT_IN_SCHEDULE, t.positionMs - 1).beat, sectionBeat)
                << SHOW_SECTIONS[i].name;
        }
        if (i > 0) {
            EXPECT_GT(t.positionMs, previous) << SHOW_SECTIONS[i].name;
        }
        previous = t.positionMs;
    }
    EXPECT_FALSE(jumpToSection(t, int(std::size(SHOW_SECTIONS))).seek);
    EXPECT_FALSE(jumpToSection(t, -1).seek);
    EXPECT_EQ(previous, t.positionMs) << "a key past the last section moves nothing";
    Transport end = pausedAt(0);
    end.paused = false;
    tick(end, 70000, 16);
    EXPECT_TRUE(end.paused) << "the music has played out";
}

// The strip's arithmetic: a column and its millisecond map both ways, the
// wheel zooms around the millisecond under the mouse within the track's
// bounds, and a zoomed strip pages on to keep the playhead in view.
TEST(Strip, ColumnsZoomAndFollow)
{
    const uint32_t length = 60000;
    StripView v = wholeTrack(length);
    EXPECT_EQ(30000u, stripPositionAt(v, 300, 600, length));
    EXPECT_DOUBLE_EQ(300.0, stripColumnOf(v, 30000, 600));
    EXPECT_EQ(length, stripPositionAt(v, 900, 600, length)) << "past the end is the end";

    v = zoomStrip(v, 0.5, 45000, length);
    EXPECT_EQ(30000u, v.spanMs);
    EXPECT_NEAR(450.0, stripColumnOf(v, 45000, 600), 0.5) << "the anchor stays under the mouse";
    for (int i = 0; i < 20; ++i) v = zoomStrip(v, 0.5, 45000, length);
    EXPECT_EQ(MIN_STRIP_SPAN_MS, v.spanMs);
    EXPECT_LE(v.startMs, 45000u);
    EXPECT_GE(v.startMs + v.spanMs, 45000u);
    for (int i = 0; i < 20; ++i) v = zoomStrip(v, 2.0, 100, length);
    EXPECT_EQ(0u, v.startMs);
    EXPECT_EQ(length, v.spanMs) << "zoomed out as far as it goes: the whole track";
    EXPECT_EQ(0u, zoomStrip(v, 0.25, 0, length).startMs) << "zooming at the start keeps the start";

    const StripView zoomed{10000, 5000};
    EXPECT_EQ(10000u, followPlayhead(zoomed, 11000, 12000, length).startMs) << "in view: unchanged";
    EXPECT_EQ(19500u, followPlayhead(zoomed, 14900, 20000, length).startMs) << "a tenth of the way in";
    EXPECT_EQ(55000u, followPlayhead(zoomed, 14900, 59900, length).startMs) << "never past the end";
    EXPECT_EQ(0u, followPlayhead(zoomed, 10000, 100, length).startMs);
    EXPECT_EQ(10000u, followPlayhead(zoomed, 40000, 40100, length).startMs)
        << "zoomed around the mouse away from the playhead: the strip stays where the mouse put it";
}

// Shift+click lands on the first millisecond of the nearest whole beat.
TEST(Strip, SnapsToTheNearestBeat)
{
    const double beatMs = 1000.0 * double(SECONDS_PER_BEAT);
    for (uint32_t ms : {0u, 1u, 340u, 341u, 342u, 10000u, 30680u, 45500u, 68999u}) {
        const uint32_t snapped = nearestBeatMs(BUILT_IN_SCHEDULE, ms);
        const float beat = computeFrameParams(BUILT_IN_SCHEDULE, snapped).beat;
        EXPECT_EQ(std::floor(beat), std::round(beat)) << ms;
        if (snapped > 0) {
            EXPECT_LT(computeFrameParams(BUILT_IN_SCHEDULE, snapped - 1).beat, std::floor(beat))
                << ms << ": the beat's first millisecond";
        }
        EXPECT_LE(std::abs(double(snapped) - double(ms)), beatMs / 2 + 1.0) << ms;
    }
}

// A loop set by dragging either way runs from the earlier to the later
// millisecond; a drag of nothing clears it.
TEST(Strip, DraggedLoopsRunForwardAndEmptyOnesClear)
{
    Transport t = pausedAt(10000);
    setLoop(t, 8000, 3000);
    EXPECT_TRUE(t.looping);
    EXPECT_EQ(3000u, t.loopInMs);
    EXPECT_EQ(8000u, t.loopOutMs);
    setLoop(t, 5000, 5000);
    EXPECT_FALSE(t.looping);
    EXPECT_TRUE(seekTransport(t, 999999).seek);
    EXPECT_EQ(t.lengthMs, t.positionMs) << "a seek stops at the end";
}

// The picture keeps 16:9 in any window, drawn at 16:9 multiples at each
// preview scale; the preview setting cycles 1, 2, 4, auto.
TEST(View, BoxesAndDrawnSizesKeepSixteenByNine)
{
    const ViewBox wide = pictureBoxIn(1000, 300), tall = pictureBoxIn(320, 1000), tiny = pictureBoxIn(3, 3);
    EXPECT_EQ(533, wide.width);
    EXPECT_EQ(233, wide.x);
    EXPECT_EQ(320, tall.width);
    EXPECT_EQ(180, tall.height);
    EXPECT_EQ(410, tall.y);
    EXPECT_EQ(16, tiny.width);
    for (const int scale : PREVIEW_SCALES) {
        const ViewBox drawn = drawnSize(1278, scale);
        EXPECT_EQ(0, drawn.width % ASPECT_W) << scale;
        EXPECT_EQ(drawn.width * ASPECT_H, drawn.height * ASPECT_W) << scale;
        EXPECT_NEAR(1278.0 / scale, drawn.width, 8.0) << scale;
    }
    EXPECT_TRUE(isShowSize(7680, 4320));
    EXPECT_FALSE(isShowSize(7696, 4329));
    EXPECT_FALSE(isShowSize(100, 100));
    int setting = AUTO_PREVIEW;
    for (const int next : {1, 2, 4, AUTO_PREVIEW}) EXPECT_EQ(next, setting = nextPreviewSetting(setting));
}

// Auto preview: one slow frame of a moving picture coarsens it at once; fast
// frames refine it only on their average, so one late frame does not; a
// picture that stands still is drawn at full size again.
TEST(View, AutoPreviewFollowsTheFrameTimes)
{
    AutoPreview p;
    EXPECT_EQ(2, autoPreviewScale(p, 900.0, true));
    EXPECT_EQ(4, autoPreviewScale(p, 300.0, true));
    EXPECT_EQ(4, autoPreviewScale(p, 900.0, true)) << "no coarser scale than the last";
    int scale = 4;
    for (int frame = 0; frame < 7; ++frame) scale = autoPreviewScale(p, frame == 3 ? 40.0 : 5.0, true);
    EXPECT_EQ(4, scale) << "seven frames decide nothing yet";
    EXPECT_EQ(2, autoPreviewScale(p, 5.0, true)) << "eight fast frames, one of them late, average under 12.5 ms";
    EXPECT_EQ(1, autoPreviewScale(p, 0.0, false));
    EXPECT_EQ(1, autoPreviewScale(p, 30.0, true)) << "frames under 50 ms keep the full size";
}

// Every key the studio's help names asks for what it says.
TEST(Keys, EachKeyAsksForItsCommand)
{
    EXPECT_EQ(StudioCommand::Quit, commandForKey(SDLK_ESCAPE, false).command);
    EXPECT_EQ(StudioCommand::NextPreview, commandForKey(SDLK_p, false).command);
    EXPECT_EQ(TransportKey::BarBack, commandForKey(SDLK_LEFT, true).move);
    EXPECT_EQ(TransportKey::BeatBack, commandForKey(SDLK_LEFT, false).move);
    const KeyCommand last = commandForKey(SDLK_8, false);
    EXPECT_EQ(StudioCommand::Section, last.command);
    EXPECT_EQ(SHOW_SECTION_COUNT - 1, last.section);
    EXPECT_EQ(StudioCommand::None, commandForKey(SDLK_9, false).command);
    EXPECT_EQ(StudioCommand::None, commandForKey(SDLK_q, false).command);
}
