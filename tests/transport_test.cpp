// The studio's transport as a state machine: keys and time in, position and
// what the music must do out.
#include "studio/transport.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <gtest/gtest.h>

static Transport pausedAt(uint32_t ms)
{
    Transport t;
    t.lengthMs = 70000;
    t.positionMs = ms;
    t.paused = true;
    return t;
}

TEST(Transport, SeeksByBeatBarAndPhraseRoundedAsTheClockCounts)
{
    Transport t = pausedAt(10000);
    MusicCommand c = pressKey(t, TransportKey::BarAhead);
    EXPECT_TRUE(c.seek);
    EXPECT_FALSE(c.sound) << "paused: a seek shows the frame but plays nothing";
    EXPECT_EQ(10000u + 2727u, t.positionMs); // 4 x 681.82 ms
    pressKey(t, TransportKey::BarBack);
    EXPECT_EQ(10000u, t.positionMs);
    pressKey(t, TransportKey::BeatAhead);
    EXPECT_EQ(10682u, t.positionMs);
    pressKey(t, TransportKey::PhraseAhead);
    EXPECT_EQ(10682u + 21818u, t.positionMs); // 32 beats
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
    pressKey(t, TransportKey::BarAhead);
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

TEST(Transport, SectionsStartOnTheirScheduledBeats)
{
    Transport t = pausedAt(50000);
    for (size_t i = 0; i < std::size(SHOW_SECTIONS); ++i) {
        EXPECT_TRUE(jumpToSection(t, int(i)).seek);
        EXPECT_EQ(positionAtBeat(SHOW_SECTIONS[i].beat), t.positionMs) << SHOW_SECTIONS[i].name;
    }
    const uint32_t last = t.positionMs;
    EXPECT_FALSE(jumpToSection(t, int(std::size(SHOW_SECTIONS))).seek);
    EXPECT_EQ(last, t.positionMs);
    Transport end = pausedAt(0);
    end.paused = false;
    tick(end, 70000, 16);
    EXPECT_TRUE(end.paused) << "the music has played out";
}
