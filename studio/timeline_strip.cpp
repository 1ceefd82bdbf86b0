// The timeline strip along the bottom of the window: the waveform, the
// schedule's sections (each start a handle the mouse drags), bars and beats,
// the loop and the playhead; and the mouse on it (click to seek, drag to
// scrub, right-drag to loop, wheel to zoom).
#include "image/png_file.h"
#include "image/text.h"
#include "studio/studio.h"
#include "timeline/schedule.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <iterator>

// Rows of the strip at a text scale of 1, from its top, in pixels: the
// waveform, then the sections' boxes; each is `unit` times as many.
static constexpr int WAVE_TOP = 1, WAVE_BOTTOM = 22, SECTIONS_TOP = 23;
// The panel's rows at a text scale of 1: the strip, a lane, the chooser.
static constexpr int STRIP_ROWS = 32, LANE_ROWS = 20, CHOOSER_ROWS = 9;
// Text is drawn twice as large from this drawable height up.
static constexpr int LARGE_TEXT_HEIGHT = 540;
// Below this drawable size the panel hides: the picture alone.
static constexpr int PANEL_MIN_WIDTH = 160, PANEL_MIN_HEIGHT = 120;
// The panel takes at most this share of the window's height; lanes beyond it are not shown.
static constexpr double PANEL_MOST = 0.45;
// How near a section's start a press takes its handle, drawable pixels per unit.
static constexpr int HANDLE_REACH = 3;
// Grid lines are drawn only where they stand at least this many pixels apart.
static constexpr double MIN_GRID_PIXELS = 6.0;
// Colours, RGB.
static constexpr uint8_t BACKGROUND[3] = {18, 18, 22}, LOOP_TINT[3] = {24, 56, 34}, BAR_LINE[3] = {84, 84, 104},
                         BEAT_TICK[3] = {150, 150, 166}, WAVE[3] = {110, 150, 190}, PLAYHEAD[3] = {250, 250, 250},
                         FLASHES_FAIL[3] = {230, 40, 40}, SECTION_HANDLE[3] = {230, 190, 90};
static constexpr uint8_t SECTION_FILL[2][3] = {{38, 46, 66}, {52, 62, 88}};
static constexpr uint8_t LABEL_INK = 220;

void fillRect(Canvas& c, int x0, int y0, int x1, int y1, const uint8_t colour[3])
{
    x0 = std::max(x0, 0), y0 = std::max(y0, 0), x1 = std::min(x1, c.width), y1 = std::min(y1, c.height);
    for (int y = y0; y < y1; ++y)
        for (int x = x0; x < x1; ++x) std::copy(colour, colour + 3, &c.rgb[(size_t(y) * c.width + x) * 3]);
}

void drawCanvas(Studio& s, Canvas& c, int bottom)
{
    flipRows(c.rgb, c.width, c.height);
    s.gl.glUseProgram(0);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    s.gl.glWindowPos2i(0, bottom);
    glDrawPixels(c.width, c.height, GL_RGB, GL_UNSIGNED_BYTE, c.rgb.data());
}

double pixelsPerPoint(const Studio& s)
{
    int points = 0, h = 0, pixels = 0;
    SDL_GetWindowSize(s.window, &points, &h);
    SDL_GL_GetDrawableSize(s.window, &pixels, &h);
    return double(pixels) / double(std::max(points, 1));
}

PanelLayout panelLayout(const Studio& s)
{
    PanelLayout p;
    SDL_GL_GetDrawableSize(s.window, &p.width, &p.windowHeight);
    p.unit = p.windowHeight >= LARGE_TEXT_HEIGHT ? 2 : 1;
    p.stripHeight = STRIP_ROWS * p.unit;
    p.laneHeight = LANE_ROWS * p.unit;
    p.chooserHeight = s.edits.tracks.empty() ? 0 : CHOOSER_ROWS * p.unit;
    p.shown = s.overlay && p.width >= PANEL_MIN_WIDTH && p.windowHeight >= PANEL_MIN_HEIGHT;
    if (!p.shown) return p;
    const int room = int(p.windowHeight * PANEL_MOST) - p.stripHeight - p.chooserHeight;
    p.lanes = std::clamp(room / p.laneHeight, 0, int(s.edits.lanes.size()));
    p.stripBottom = p.chooserHeight + p.lanes * p.laneHeight;
    return p;
}

// The strip's row under window point y, or -1 off the strip.
static int stripRowAt(const Studio& s, int yPoints)
{
    const PanelLayout p = panelLayout(s);
    const int row = int(yPoints * pixelsPerPoint(s)) - (p.windowHeight - p.stripBottom - p.stripHeight);
    return p.shown && row >= 0 && row < p.stripHeight ? row : -1;
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
        fillRect(c, x, y0, x + 1, y1, colour);
    }
}

static void drawWaveform(Canvas& c, const StripView& v, const Waveform& w, int unit)
{
    if (!w.ready) return;
    const int top = WAVE_TOP * unit, bottom = WAVE_BOTTOM * unit;
    const int middle = (top + bottom) / 2, half = (bottom - top) / 2;
    for (int x = 0; x < c.width; ++x) {
        const size_t from = stripPositionAt(v, x, c.width, UINT32_MAX) / WAVEFORM_BUCKET_MS;
        const size_t to =
            std::max(from + 1, size_t(stripPositionAt(v, x + 1, c.width, UINT32_MAX) / WAVEFORM_BUCKET_MS));
        int low = 0, high = 0;
        for (size_t b = from; b < to && b < w.low.size(); ++b) {
            low = std::min<int>(low, w.low[b]);
            high = std::max<int>(high, w.high[b]);
        }
        fillRect(c, x, middle - high * half / 32768, x + 1, middle - low * half / 32768 + 1, WAVE);
    }
}

// The column of section i's start.
static int sectionColumn(const ScheduleValues& schedule, const StripView& v, int i, int width)
{
    return int(stripColumnOf(v, positionAtBeat(schedule, sectionStartBeat(schedule, i)), width));
}

// Each section's box with its name where the whole name fits (a cut name
// reads as another word), and a handle at each start the mouse may drag.
static void drawSections(Canvas& c, const ScheduleValues& schedule, const StripView& v, uint32_t lengthMs, int unit)
{
    for (int i = 0; i < SHOW_SECTION_COUNT; ++i) {
        const int x0 = sectionColumn(schedule, v, i, c.width);
        const int x1 = i + 1 < SHOW_SECTION_COUNT ? sectionColumn(schedule, v, i + 1, c.width)
                                                  : int(stripColumnOf(v, lengthMs, c.width));
        if (x1 <= 0 || x0 >= c.width) continue;
        fillRect(c, x0 + 1, SECTIONS_TOP * unit, x1, c.height - unit, SECTION_FILL[i % 2]);
        if (i > 0) fillRect(c, x0 - unit + 1, SECTIONS_TOP * unit, x0 + unit, c.height, SECTION_HANDLE);
        const std::string name = SHOW_SECTIONS[i].name;
        const int left = std::max(x0, 0) + 2 * unit + 1;
        if (int(name.size()) * GLYPH_ADVANCE * unit <= x1 - left - unit)
            drawText(c.rgb, c.width, c.height, left, SECTIONS_TOP * unit + 2 * unit, name, unit, LABEL_INK);
    }
}

void drawStrip(Studio& s, const Transport& t)
{
    const PanelLayout p = panelLayout(s);
    if (!p.shown) return;
    const int u = p.unit;
    Canvas c{{}, p.width, p.stripHeight};
    c.rgb.assign(size_t(c.width) * c.height * 3, 0);
    fillRect(c, 0, 0, c.width, c.height, BACKGROUND);
    const StripView& v = s.strip;
    const bool marking = s.drag == StripDrag::Loop;
    if (t.looping || marking) {
        const uint32_t in = marking ? std::min(s.dragFromMs, s.dragToMs) : t.loopInMs;
        const uint32_t out = marking ? std::max(s.dragFromMs, s.dragToMs) : t.loopOutMs;
        fillRect(c, int(stripColumnOf(v, in, c.width)), 0, int(stripColumnOf(v, out, c.width)) + 1, SECTIONS_TOP * u,
                 LOOP_TINT);
    }
    drawGrid(c, s.schedule, v, float(BEATS_PER_BAR), WAVE_TOP * u, WAVE_BOTTOM * u, BAR_LINE);
    drawWaveform(c, v, s.waveform, u);
    drawGrid(c, s.schedule, v, 1.0f, 0, (WAVE_TOP + 2) * u, BEAT_TICK);
    drawSections(c, s.schedule, v, t.lengthMs, u);
    // The stretches the flash check found failing: red along the strip's top.
    for (const auto& [from, to] : s.flashCheck.failing)
        fillRect(c, int(stripColumnOf(v, from, c.width)), 0, int(stripColumnOf(v, to, c.width)) + 1, 2 * u,
                 FLASHES_FAIL);
    const int playhead = int(stripColumnOf(v, t.positionMs, c.width));
    fillRect(c, playhead - 1, 0, playhead + 1, c.height, PLAYHEAD);
    drawCanvas(s, c, p.stripBottom);
}

uint32_t positionUnderColumn(const Studio& s, const Transport& t, double x, bool snap)
{
    const uint32_t ms = stripPositionAt(s.strip, x, panelLayout(s).width, t.lengthMs);
    return snap ? std::min(nearestBeatMs(s.schedule, ms), t.lengthMs) : ms;
}

// The millisecond under window point x, on a beat with Shift.
static uint32_t positionUnder(const Studio& s, const Transport& t, int xPoints, bool snap)
{
    return positionUnderColumn(s, t, xPoints * pixelsPerPoint(s), snap);
}

// The section whose start's handle is under window point (x, y), or -1.
static int handleAt(const Studio& s, int xPoints, int yPoints)
{
    const PanelLayout p = panelLayout(s);
    if (stripRowAt(s, yPoints) < SECTIONS_TOP * p.unit) return -1;
    const int x = int(xPoints * pixelsPerPoint(s));
    for (int i = 1; i < SHOW_SECTION_COUNT; ++i)
        if (std::abs(sectionColumn(s.schedule, s.strip, i, p.width) - x) <= HANDLE_REACH * p.unit) return i;
    return -1;
}

// Moves section `index`'s start to the whole beat under x, where it stays
// between its neighbours and the schedule stays sound; true when it moved.
static bool dragHandle(Studio& s, const Transport& t, int index, int xPoints)
{
    const float beat = std::round(computeFrameParams(s.schedule, positionUnder(s, t, xPoints, false)).beat);
    const float before = sectionStartBeat(s.schedule, index - 1);
    const float after = index + 1 < SHOW_SECTION_COUNT ? sectionStartBeat(s.schedule, index + 1) : 1e9f;
    if (beat <= before || beat >= after || beat == sectionStartBeat(s.schedule, index)) return false;
    ScheduleValues moved = s.schedule;
    moved.*SHOW_SECTIONS[index].start = beat;
    std::string fault;
    if (!parseSchedule(scheduleText(moved), "", moved, &fault)) return false;
    s.schedule = moved;
    return true;
}

// A press on a section's handle, its drag and its release: an edit of the schedule.
static bool handleMouse(Studio& s, StudioOptions& o, const Transport& t, const SDL_Event& e)
{
    StudioEdits& d = s.edits;
    if (e.type == SDL_MOUSEBUTTONDOWN && e.button.button == SDL_BUTTON_LEFT && s.drag == StripDrag::None &&
        d.drag == EditDrag::None) {
        d.handle = handleAt(s, e.button.x, e.button.y);
        if (d.handle < 0) return false;
        beginEdit(s);
        d.drag = EditDrag::Handle;
        return true;
    }
    if (d.drag != EditDrag::Handle) return false;
    if (e.type == SDL_MOUSEMOTION) dragHandle(s, t, d.handle, e.motion.x);
    if (e.type == SDL_MOUSEBUTTONUP) {
        d.drag = EditDrag::None;
        finishEdit(s, o,
                   std::string("section ") + SHOW_SECTIONS[d.handle].name + " now starts at beat " +
                       exactDecimal(sectionStartBeat(s.schedule, d.handle)));
    }
    return true;
}

bool stripMouse(Studio& s, StudioOptions& o, Transport& t, const SDL_Event& e, MusicCommand& command)
{
    // The modifiers as the events before this one left them: SDL's own
    // state already holds the keys of events still in the queue.
    if ((e.type == SDL_KEYDOWN || e.type == SDL_KEYUP) && !e.key.repeat) {
        const SDL_Keycode key = e.key.keysym.sym;
        if (key == SDLK_LSHIFT || key == SDLK_RSHIFT) s.shiftHeld = e.type == SDL_KEYDOWN;
        if (key == SDLK_LCTRL || key == SDLK_RCTRL) s.ctrlHeld = e.type == SDL_KEYDOWN;
        return false;
    }
    if (handleMouse(s, o, t, e)) return true;
    const bool shift = s.shiftHeld, ctrl = s.ctrlHeld;
    switch (e.type) {
    case SDL_MOUSEBUTTONDOWN: {
        if (s.drag != StripDrag::None || s.edits.drag != EditDrag::None || stripRowAt(s, e.button.y) < 0) return false;
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
        if (stripRowAt(s, y) < 0 || e.wheel.y == 0) return false;
        // Each notch up halves the stretch shown, around the millisecond under the mouse.
        s.strip = zoomStrip(s.strip, std::pow(0.5, e.wheel.y), positionUnder(s, t, x, false), t.lengthMs);
        return true;
    }
    default: return false;
    }
}
