// The tracks' lanes under the strip: each track's curve over the strip's
// span, its keys as dots and its value at the playhead; the chooser below
// them names the tracks without a lane, a click giving one its lane. The
// mouse adds, drags and removes keys.
#include "image/text.h"
#include "studio/studio.h"
#include "timeline/schedule_file.h"
#include "timeline/text_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

static constexpr uint8_t LANE_FILL[2][3] = {{26, 26, 32}, {32, 32, 40}}, CHOOSER_FILL[3] = {12, 12, 16},
                         CURVE[3] = {120, 210, 150}, KEY_DOT[3] = {235, 235, 235}, SELECTED_DOT[3] = {250, 180, 60},
                         PLAYHEAD[3] = {250, 250, 250};
static constexpr uint8_t NAME_INK = 200, CHOOSER_INK = 170;
// How near a key a press takes it, drawable pixels per unit of the text's scale.
static constexpr int KEY_REACH = 4;
// Beats snap to whole beats, or with Shift to quarters.
static constexpr float QUARTERS = 4.0f;
// With Ctrl a vertical drag changes the value this much more finely.
static constexpr float FINE = 0.1f;
// The margin a lane leaves around its values, as a share of their span.
static constexpr float LANE_MARGIN = 0.15f;

// The values a lane shows: its keys' and its default, with a margin (a flat track gets one around its value).
static void laneRange(const Track& track, float& low, float& high)
{
    low = high = track.defaultValue;
    for (const TrackKey& key : track.keys) low = std::min(low, key.value), high = std::max(high, key.value);
    const float span = high - low;
    const float margin = span > 0.0f ? span * LANE_MARGIN : std::max(std::fabs(high), 1.0f) * 0.5f;
    low -= margin, high += margin;
}

// The canvas row of a value in lane `lane` (rows from the panel's top).
static int rowOf(const PanelLayout& p, int lane, float value, float low, float high)
{
    const double share = (double(high) - double(value)) / (double(high) - double(low));
    return lane * p.laneHeight + p.unit + int(std::lround(share * (p.laneHeight - 3 * p.unit)));
}

// The beat at a column of the strip's span, and the column of a beat.
static float beatAtColumn(const Studio& s, const PanelLayout& p, int x)
{
    return computeFrameParams(s.schedule, stripPositionAt(s.strip, x, p.width, UINT32_MAX)).beat;
}

static int columnOfBeat(const Studio& s, const PanelLayout& p, float beat)
{
    return int(stripColumnOf(s.strip, positionAtBeat(s.schedule, beat), p.width));
}

// One entry of the chooser: a track without a lane and its columns.
struct ChooserEntry {
    int track, x0, x1;
};

static std::vector<ChooserEntry> chooserEntries(const Studio& s, const PanelLayout& p)
{
    std::vector<ChooserEntry> entries;
    int x = (GLYPH_ADVANCE * 9 + 2) * p.unit; // after "+ lane: "
    for (size_t i = 0; i < s.edits.tracks.size(); ++i) {
        const std::string& name = s.edits.tracks[i].name;
        if (std::find(s.edits.lanes.begin(), s.edits.lanes.end(), name) != s.edits.lanes.end()) continue;
        const int width = int(name.size()) * GLYPH_ADVANCE * p.unit;
        if (x + width > p.width) break;
        entries.push_back({int(i), x, x + width});
        x += width + 2 * GLYPH_ADVANCE * p.unit;
    }
    return entries;
}

static void drawLane(Canvas& c, const Studio& s, const PanelLayout& p, int lane, const Track& track, float beat)
{
    const StudioEdits& d = s.edits;
    const bool held = d.drag == EditDrag::Key && d.track == trackIndex(d.tracks, track.name);
    float low = d.low, high = d.high;
    if (!held) laneRange(track, low, high);
    fillRect(c, 0, lane * p.laneHeight, c.width, (lane + 1) * p.laneHeight, LANE_FILL[lane % 2]);
    int last = rowOf(p, lane, trackValueAt(track, beatAtColumn(s, p, 0)), low, high);
    for (int x = 0; x < c.width; ++x) {
        const int row = rowOf(p, lane, trackValueAt(track, beatAtColumn(s, p, x)), low, high);
        fillRect(c, x, std::min(row, last), x + 1, std::max(row, last) + p.unit, CURVE);
        last = row;
    }
    const int index = trackIndex(d.tracks, track.name);
    for (size_t k = 0; k < track.keys.size(); ++k) {
        const int x = columnOfBeat(s, p, track.keys[k].beat), y = rowOf(p, lane, track.keys[k].value, low, high);
        const bool selected = index == d.track && int(k) == d.key;
        fillRect(c, x - p.unit, y - p.unit, x + 2 * p.unit, y + 2 * p.unit, selected ? SELECTED_DOT : KEY_DOT);
    }
    char label[96];
    std::snprintf(label, sizeof label, "%s %.3g", track.name.c_str(), double(trackValueAt(track, beat)));
    drawText(c.rgb, c.width, c.height, 2 * p.unit, lane * p.laneHeight + p.unit, label, p.unit, NAME_INK);
}

void drawLanes(Studio& s, const Transport& t)
{
    const PanelLayout p = panelLayout(s);
    if (!p.shown || p.stripBottom == 0) return;
    Canvas c{{}, p.width, p.stripBottom};
    c.rgb.assign(size_t(c.width) * c.height * 3, 0);
    const float beat = computeFrameParams(s.schedule, t.positionMs).beat;
    for (int lane = 0; lane < p.lanes; ++lane)
        if (const int i = trackIndex(s.edits.tracks, s.edits.lanes[size_t(lane)]); i >= 0)
            drawLane(c, s, p, lane, s.edits.tracks[size_t(i)], beat);
    const int playhead = int(stripColumnOf(s.strip, t.positionMs, c.width));
    fillRect(c, playhead, 0, playhead + 1, p.lanes * p.laneHeight, PLAYHEAD);
    const int chooserTop = p.lanes * p.laneHeight;
    fillRect(c, 0, chooserTop, c.width, c.height, CHOOSER_FILL);
    drawText(c.rgb, c.width, c.height, 2 * p.unit, chooserTop + 2 * p.unit, "+ lane:", p.unit, CHOOSER_INK);
    for (const ChooserEntry& e : chooserEntries(s, p))
        drawText(c.rgb, c.width, c.height, e.x0, chooserTop + 2 * p.unit, s.edits.tracks[size_t(e.track)].name, p.unit,
                 CHOOSER_INK);
    drawCanvas(s, c, 0);
}

// The panel row (from the lanes' top) under window point y; negative above the lanes.
static int panelRowAt(const Studio& s, const PanelLayout& p, int yPoints)
{
    return int(yPoints * pixelsPerPoint(s)) - (p.windowHeight - p.stripBottom);
}

// The key of the lane's track near column x and row y, or -1.
static int keyNear(const Studio& s, const PanelLayout& p, int lane, const Track& track, int x, int y)
{
    float low = 0, high = 1;
    laneRange(track, low, high);
    for (size_t k = 0; k < track.keys.size(); ++k)
        if (std::abs(columnOfBeat(s, p, track.keys[k].beat) - x) <= KEY_REACH * p.unit &&
            std::abs(rowOf(p, lane, track.keys[k].value, low, high) - y) <= KEY_REACH * p.unit)
            return int(k);
    return -1;
}

// The beat under column x, snapped to whole beats or with Shift to quarters.
static float snappedBeat(const Studio& s, const PanelLayout& p, int x)
{
    const float steps = s.shiftHeld ? QUARTERS : 1.0f;
    return std::clamp(std::round(beatAtColumn(s, p, x) * steps) / steps, 0.0f, LATEST_BEAT);
}

// A press on a lane: the key under it taken (right: removed), or a new one
// at the beat under it holding the curve's value there, taken to drag.
static bool pressLane(Studio& s, StudioOptions& o, const PanelLayout& p, int lane, int x, int y, Uint8 button)
{
    StudioEdits& d = s.edits;
    d.track = trackIndex(d.tracks, d.lanes[size_t(lane)]);
    Track& track = d.tracks[size_t(d.track)];
    d.key = keyNear(s, p, lane, track, x, y);
    beginEdit(s);
    if (button == SDL_BUTTON_RIGHT) {
        if (d.key < 0) return false;
        const float beat = track.keys[size_t(d.key)].beat;
        track.keys.erase(track.keys.begin() + d.key);
        d.key = -1;
        finishEdit(s, o, "the key of " + track.name + " at beat " + exactDecimal(beat) + " is removed");
        return true;
    }
    if (d.key < 0) {
        // A new key leads on as the key before it does (linear when it is the first).
        const float beat = snappedBeat(s, p, x);
        const auto after = std::upper_bound(track.keys.begin(), track.keys.end(), beat,
                                            [](float b, const TrackKey& k) { return b < k.beat; });
        const Interpolation kind =
            after == track.keys.begin() ? Interpolation::Linear : std::prev(after)->interpolation;
        d.key = insertKey(track, TrackKey{beat, trackValueAt(track, beat), kind});
    }
    laneRange(track, d.low, d.high);
    d.pressY = y;
    d.pressValue = track.keys[size_t(d.key)].value;
    d.drag = EditDrag::Key;
    setRendererTracks(*s.renderer, d.tracks);
    return true;
}

// The held key to the snapped beat under x (where no other key is) and the value the drag gives.
static void dragKey(Studio& s, const PanelLayout& p, int x, int y)
{
    StudioEdits& d = s.edits;
    Track& track = d.tracks[size_t(d.track)];
    TrackKey key = track.keys[size_t(d.key)];
    const float perRow = (d.high - d.low) / float(p.laneHeight - 3 * p.unit) * (s.ctrlHeld ? FINE : 1.0f);
    key.value = d.pressValue + float(d.pressY - y) * perRow;
    const float beat = snappedBeat(s, p, x);
    if (keyAt(track, beat) < 0) key.beat = beat;
    track.keys.erase(track.keys.begin() + d.key);
    d.key = insertKey(track, key);
    setRendererTracks(*s.renderer, d.tracks);
}

bool lanesMouse(Studio& s, StudioOptions& o, const SDL_Event& e)
{
    StudioEdits& d = s.edits;
    const PanelLayout p = panelLayout(s);
    if (e.type == SDL_MOUSEMOTION && d.drag == EditDrag::Key) {
        dragKey(s, p, int(e.motion.x * pixelsPerPoint(s)), panelRowAt(s, p, e.motion.y));
        return true;
    }
    if (e.type == SDL_MOUSEBUTTONUP && d.drag == EditDrag::Key) {
        d.drag = EditDrag::None;
        const Track& track = d.tracks[size_t(d.track)];
        const TrackKey& key = track.keys[size_t(d.key)];
        finishEdit(s, o,
                   track.name + " is " + exactDecimal(key.value) + " at beat " + exactDecimal(key.beat) + " (" +
                       interpolationName(key.interpolation) + ")");
        return true;
    }
    if (e.type != SDL_MOUSEBUTTONDOWN || !p.shown || d.drag != EditDrag::None || s.drag != StripDrag::None)
        return false;
    const int x = int(e.button.x * pixelsPerPoint(s)), row = panelRowAt(s, p, e.button.y);
    if (row < 0) return false;
    if (row < p.lanes * p.laneHeight) return pressLane(s, o, p, row / p.laneHeight, x, row, e.button.button);
    for (const ChooserEntry& entry : chooserEntries(s, p))
        if (x >= entry.x0 && x < entry.x1) {
            d.lanes.push_back(d.tracks[size_t(entry.track)].name);
            return true;
        }
    return false;
}
