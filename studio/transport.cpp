#include "studio/transport.h"

#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <iterator>

static constexpr float BARS_PER_PHRASE = 8.0f;
static constexpr int MAX_SHUTTLE_SPEED = 8;
static constexpr int64_t FRAMES_PER_SECOND = 60; // of a frame step

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

static MusicCommand seekGrid(Transport& t, float beats, bool back)
{
    return seekTo(t, gridLineMs(*t.schedule, t.positionMs, beats, back));
}

// One frame of the studio's 60 frames a second back or ahead: to the first
// millisecond of the frame before or after the one shown.
static MusicCommand seekFrame(Transport& t, bool back)
{
    const int64_t frame = int64_t(t.positionMs) * FRAMES_PER_SECOND / 1000 + (back ? -1 : 1);
    return seekTo(t, (std::max<int64_t>(frame, 0) * 1000 + FRAMES_PER_SECOND - 1) / FRAMES_PER_SECOND);
}

MusicCommand pressKey(Transport& t, TransportKey key)
{
    switch (key) {
    case TransportKey::PlayPause:
        t.paused = !t.paused;
        if (!t.paused) t.speed = 1;
        return {!t.paused, soundOn(t)};
    case TransportKey::BeatBack: return seekGrid(t, 1.0f, true);
    case TransportKey::BeatAhead: return seekGrid(t, 1.0f, false);
    case TransportKey::BarBack: return seekGrid(t, float(BEATS_PER_BAR), true);
    case TransportKey::BarAhead: return seekGrid(t, float(BEATS_PER_BAR), false);
    case TransportKey::PhraseBack: return seekGrid(t, float(BEATS_PER_BAR) * BARS_PER_PHRASE, true);
    case TransportKey::PhraseAhead: return seekGrid(t, float(BEATS_PER_BAR) * BARS_PER_PHRASE, false);
    case TransportKey::FrameBack: return seekFrame(t, true);
    case TransportKey::FrameAhead: return seekFrame(t, false);
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

MusicCommand seekTransport(Transport& t, uint32_t ms)
{
    return seekTo(t, ms);
}

MusicCommand setLoop(Transport& t, uint32_t fromMs, uint32_t toMs)
{
    t.loopInMs = std::min({fromMs, toMs, t.lengthMs});
    t.loopOutMs = std::min(std::max(fromMs, toMs), t.lengthMs);
    t.looping = t.loopOutMs > t.loopInMs;
    return {false, soundOn(t)};
}

MusicCommand jumpToSection(Transport& t, int index)
{
    if (index < 0 || index >= int(std::size(SHOW_SECTIONS))) return {false, soundOn(t)};
    return seekTo(t, positionAtBeat(*t.schedule, sectionStartBeat(*t.schedule, index)));
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
