// The timeline strip along the bottom of the window: the waveform, the
// schedule's sections, bars and beats, the loop and the playhead; and the
// mouse on it (click to seek, drag to scrub, right-drag to loop, wheel to zoom).
#include "image/png_file.h"
#include "image/text.h"
#include "studio/studio.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// Rows of the strip, from its top, in pixels: the waveform, then the sections' boxes.
static constexpr int WAVE_TOP = 2, WAVE_BOTTOM = 44, SECTIONS_TOP = 46;
// Grid lines are drawn only where they stand at least this many pixels apart.
static constexpr double MIN_GRID_PIXELS = 6.0;
// Colours, RGB.
static constexpr uint8_t BACKGROUND[3] = {18, 18, 22}, LOOP_TINT[3] = {24, 56, 34}, BAR_LINE[3] = {84, 84, 104},
                         BEAT_TICK[3] = {150, 150, 166}, WAVE[3] = {110, 150, 190}, PLAYHEAD[3] = {250, 250, 250};
static constexpr uint8_t SECTION_FILL[2][3] = {{38, 46, 66}, {52, 62, 88}};
static constexpr uint8_t LABEL_INK = 220;

struct Canvas {
    std::vector<uint8_t> rgb;
    int width, height;
};

static void fill(Canvas& c, int x0, int y0, int x1, int y1, const uint8_t colour[3])
{
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, c.width), y1 = std::min(y1, c.height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) std::copy(colour, colour + 3, &c.rgb[(size_t(y) * c.width + x) * 3]);
}

// The strip's columns in drawable pixels, and window points to pixels.
static int stripWidth(const Studio& s)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    return w;
}

static double pixelsPerPoint(const Studio& s)
{
    int points = 0, h = 0;
    SDL_GetWindowSize(s.window, &points, &h);
    return double(stripWidth(s)) / double(std::max(points, 1));
}

bool stripShown(const Studio& s)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    return s.overlay && h >= 2 * STRIP_HEIGHT && w >= STRIP_HEIGHT;
}

static bool onStrip(const Studio& s, int yPoints)
{
    int w = 0, h = 0;
    SDL_GL_GetDrawableSize(s.window, &w, &h);
    return stripShown(s) && yPoints * pixelsPerPoint(s) >= h - STRIP_HEIGHT;
}

// The grid of `beats` beats: a line at each column where one falls, where they stand far enough apart.
static void drawGrid(Canvas& c, const ScheduleValues& schedule, const StripView& v, float beats, int y0, int y1,
                     const uint8_t colour[3])
{
    const double msPerLine = 1000.0 * double(schedule.SECONDS_PER_BEAT) * double(beats);
    const double pixelsPerLine = double(c.width) * msPerLine / double(v.spanMs);
    if (pixelsPerLine < MIN_GRID_PIXELS) return;
    // Lines far enough apart fit the strip's width this many times at most.
    const int most = int(c.width / MIN_GRID_PIXELS) + 2;
    const float first = std::ceil(computeFrameParams(schedule, v.startMs).beat / beats);
    for (int line = 0; line < most; ++line) {
        const uint32_t ms = positionAtBeat(schedule, (first + float(line)) * beats);
        if (ms > v.startMs + v.spanMs) break;
        const int x = int(stripColumnOf(v, ms, c.width));
        fill(c, x, y0, x + 1, y1, colour);
    }
}

static void drawWaveform(Canvas& c, const StripView& v, const Waveform& w)
{
    if (!w.ready) return;
    const int middle = (WAVE_TOP + WAVE_BOTTOM) / 2, half = (WAVE_BOTTOM - WAVE_TOP) / 2;
    for (int x = 0; x < c.width; ++x) {
        const size_t from = stripPositionAt(v, x, c.width, UINT32_MAX) / WAVEFORM_BUCKET_MS;
        const size_t to =
            std::max(from + 1, size_t(stripPositionAt(v, x + 1, c.width, UINT32_MAX) / WAVEFORM_BUCKET_MS));
        int low = 0, high = 0;
        for (size_t b = from; b < to && b < w.low.size(); ++b) {
            low = std::min<int>(low, w.low[b]);
            high = std::max<int>(high, w.high[b]);
        }
        const int top = middle - high * half / 32768, bottom = middle - low * half / 32768;
        fill(c, x, top, x + 1, bottom + 1, WAVE);
    }
}

static void drawSections(Canvas& c, const ScheduleValues& schedule, const StripView& v, uint32_t lengthMs)
{
    for (size_t i = 0; i < std::size(SHOW_SECTIONS); ++i) {
        const uint32_t start = positionAtBeat(schedule, sectionStartBeat(schedule, int(i)));
        const uint32_t end = i + 1 < std::size(SHOW_SECTIONS)
            ? positionAtBeat(schedule, sectionStartBeat(schedule, int(i) + 1))
            : lengthMs;
        const int x0 = int(stripColumnOf(v, start, c.width)), x1 = int(stripColumnOf(v, end, c.width));
        if (x1 <= 0 || x0 >= c.width) continue;
        fill(c, x0 + 1, SECTIONS_TOP, x1, c.height - 2, SECTION_FILL[i % 2]);
        // The name where it fits, clipped to its box.
        const int left = std::max(x0, 0) + 3;
        const int room = (x1 - left - 2) / GLYPH_ADVANCE;
        if (room <= 0) continue;
        drawText(c.rgb, c.width, c.height, left, SECTIONS_TOP + 4,
                 std::string(SHOW_SECTIONS[i].name).substr(0, size_t(room)), 1, LABEL_INK);
    }
}

void drawStrip(Studio& s, const Transport& t)
{
    if (!stripShown(s)) return;
    Canvas c{{}, stripWidth(s), STRIP_HEIGHT};
    c.rgb.assign(size_t(c.width) * c.height * 3, 0);
    fill(c, 0, 0, c.width, c.height, BACKGROUND);
    const StripView& v = s.strip;
    const bool marking = s.drag == StripDrag::Loop;
    if (t.looping || marking) {
        const uint32_t in = marking ? std::min(s.dragFromMs, s.dragToMs) : t.loopInMs;
        const uint32_t out = marking ? std::max(s.dragFromMs, s.dragToMs) : t.loopOutMs;
        fill(c, int(stripColumnOf(v, in, c.width)), 0, int(stripColumnOf(v, out, c.width)) + 1, SECTIONS_TOP,
             LOOP_TINT);
    }
    drawGrid(c, s.schedule, v, float(BEATS_PER_BAR), WAVE_TOP, WAVE_BOTTOM, BAR_LINE);
    drawWaveform(c, v, s.waveform);
    drawGrid(c, s.schedule, v, 1.0f, 0, WAVE_TOP + 4, BEAT_TICK);
    drawSections(c, s.schedule, v, t.lengthMs);
    const int playhead = int(stripColumnOf(v, t.positionMs, c.width));
    fill(c, playhead - 1, 0, playhead + 1, c.height, PLAYHEAD);
    flipRows(c.rgb, c.width, c.height);
    s.gl.glUseProgram(0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    s.gl.glWindowPos2i(0, 0);
    glDrawPixels(c.width, c.height, GL_RGB, GL_UNSIGNED_BYTE, c.rgb.data());
}

// The millisecond under window point x, on a beat with Shift.
static uint32_t positionUnder(const Studio& s, const Transport& t, int xPoints, bool snap)
{
    const uint32_t ms = stripPositionAt(s.strip, xPoints * pixelsPerPoint(s), stripWidth(s), t.lengthMs);
    return snap ? std::min(nearestBeatMs(s.schedule, ms), t.lengthMs) : ms;
}

bool stripMouse(Studio& s, Transport& t, const SDL_Event& e, MusicCommand& command)
{
    // The modifiers as the events before this one left them: SDL's own
    // state already holds the keys of events still in the queue.
    if ((e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) && !e.key.repeat) {
        const SDL_Keycode key = e.key.keysym.sym;
        if (key == SDLK_LSHIFT || key == SDLK_RSHIFT) s.shiftHeld = e.type == SDL_KEYDOWN;
        if (key == SDLK_LCTRL || key == SDLK_RCTRL) s.ctrlHeld = e.type == SDL_KEYDOWN;
        return false;
    }
    const bool shift = s.shiftHeld, ctrl = s.ctrlHeld;
    switch (e.type) {
    case SDL_MOUSEBUTTONDOWN: {
        if (s.drag != StripDrag::None || !onStrip(s, e.button.y)) return false;
        const uint32_t ms = positionUnder(s, t, e.button.x, shift);
        if (e.button.button == SDL_BUTTON_RIGHT || (e.button.button == SDL_BUTTON_LEFT && ctrl)) {
            s.drag = StripDrag::Loop;
            s.dragFromMs = s.dragToMs = ms;
            return true;
        }
        if (e.button.button != SDL_BUTTON_LEFT) return false;
        // Scrubbing: the picture follows the mouse in silence; the sound comes back on release.
        s.drag = StripDrag::Scrub;
        s.resumeAfterScrub = !t.paused;
        t.paused = true;
        command = seekTransport(t, ms);
        return true;
    }
    case SDL_MOUSEMOTION:
        if (s.drag == StripDrag::Scrub) command = seekTransport(t, positionUnder(s, t, e.motion.x, shift));
        if (s.drag == StripDrag::Loop) s.dragToMs = positionUnder(s, t, e.motion.x, shift);
        return s.drag != StripDrag::None;
    case SDL_MOUSEBUTTONUP:
        if (s.drag == StripDrag::Loop) command = setLoop(t, s.dragFromMs, s.dragToMs);
        if (s.drag == StripDrag::Scrub && s.resumeAfterScrub) {
            t.paused = false;
            t.speed = 1;
            command = {true, true};
        }
        if (s.drag == StripDrag::None) return false;
        s.drag = StripDrag::None;
        return true;
    case SDL_MOUSEWHEEL: {
        int x = 0, y = 0;
        SDL_GetMouseState(&x, &y);
        if (!onStrip(s, y) || e.wheel.y == 0) return false;
        // Each notch up halves the stretch shown, around the millisecond under the mouse.
        s.strip = zoomStrip(s.strip, std::pow(0.5, e.wheel.y), positionUnder(s, t, x, false), t.lengthMs);
        return true;
    }
    default: return false;
    }
}
