#include "studio/transport.h"

#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <iterator>

static constexpr float BEATS_PER_BAR = 4.0f;
static constexpr float BARS_PER_PHRASE = 8.0f;
static constexpr int MAX_SHUTTLE_SPEED = 8;

static bool soundOn(const Transport& t)
{
    return !t.paused && t.speed == 1;
}

static MusicCommand seekTo(Transport& t, int64_t ms)
{
    t.positionMs = uint32_t(std::clamp<int64_t>(ms, 0, t.lengthMs));
    t.fractionMs = 0;
    return {true, soundOn(t)};
}

// Whole beats from here, in milliseconds rounded as the clock counts them.
static MusicCommand seekBeats(Transport& t, float beats)
{
    const double ms = double(beats) * double(SECONDS_PER_BEAT) * 1000.0;
    return seekTo(t, int64_t(t.positionMs) + std::llround(ms));
}

MusicCommand pressKey(Transport& t, TransportKey key)
{
    switch (key) {
    case TransportKey::PlayPause:
        t.paused = !t.paused;
        if (!t.paused) t.speed = 1;
        return {!t.paused, soundOn(t)};
    case TransportKey::BeatBack: return seekBeats(t, -1.0f);
    case TransportKey::BeatAhead: return seekBeats(t, 1.0f);
    case TransportKey::BarBack: return seekBeats(t, -BEATS_PER_BAR);
    case TransportKey::BarAhead: return seekBeats(t, BEATS_PER_BAR);
    case TransportKey::PhraseBack: return seekBeats(t, -BEATS_PER_BAR * BARS_PER_PHRASE);
    case TransportKey::PhraseAhead: return seekBeats(t, BEATS_PER_BAR * BARS_PER_PHRASE);
    case TransportKey::Home: return seekTo(t, 0);
    case TransportKey::ShuttleStop: t.paused = true; return {false, false};
    case TransportKey::ShuttleAhead:
        // Stopped or going back: play; playing: twice as fast, up to 8x.
        t.speed = t.paused || t.speed < 1 ? 1 : std::min(t.speed * 2, MAX_SHUTTLE_SPEED);
        t.paused = false;
        return {t.speed == 1, soundOn(t)};
    case TransportKey::ShuttleBack:
        t.speed = t.paused || t.speed > -1 ? -1 : std::max(t.speed * 2, -MAX_SHUTTLE_SPEED);
        t.paused = false;
        return {false, false};
    case TransportKey::LoopIn:
        t.loopInMs = t.positionMs;
        t.looping = t.looping && t.loopOutMs > t.loopInMs;
        return {false, soundOn(t)};
    case TransportKey::LoopOut:
        t.loopOutMs = t.positionMs;
        t.looping = t.loopOutMs > t.loopInMs;
        return {false, soundOn(t)};
    case TransportKey::ClearLoop: t.looping = false; return {false, soundOn(t)};
    }
    return {false, soundOn(t)};
}

MusicCommand jumpToSection(Transport& t, int index)
{
    if (index < 0 || index >= int(std::size(SHOW_SECTIONS))) return {false, soundOn(t)};
    return seekTo(t, positionAtBeat(SHOW_SECTIONS[index].beat));
}

MusicCommand tick(Transport& t, uint32_t heardMs, double elapsedMs)
{
    if (t.paused) return {false, false};
    if (t.speed == 1) {
        t.positionMs = std::min(heardMs, t.lengthMs);
    } else {
        t.fractionMs += elapsedMs * double(t.speed);
        const double whole = std::trunc(t.fractionMs);
        t.fractionMs -= whole;
        t.positionMs = uint32_t(std::clamp<double>(double(t.positionMs) + whole, 0.0, double(t.lengthMs)));
    }
    if (t.looping && t.positionMs >= t.loopOutMs) return seekTo(t, t.loopInMs);
    if (t.positionMs >= t.lengthMs || (t.speed < 0 && t.positionMs == 0)) {
        t.paused = true;
        return {false, false};
    }
    return {false, soundOn(t)};
}

const char* transportStateText(const Transport& t)
{
    if (t.paused) return "PAUSED";
    switch (t.speed) {
    case 1: return "PLAYING";
    case 2: return "2x";
    case 4: return "4x";
    case 8: return "8x";
    case -1: return "-1x";
    case -2: return "-2x";
    case -4: return "-4x";
    default: return "-8x";
    }
}
