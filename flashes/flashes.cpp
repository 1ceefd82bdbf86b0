#include "flashes/flashes.h"

#include <algorithm>
#include <cmath>
#include <deque>
#include <functional>

// The 10-degree field of view: 341x256 pixels of a 1024x768 screen.
static constexpr double FIELD_WIDTH_PX = 341, FIELD_HEIGHT_PX = 256, FIELD_SCREEN_HEIGHT_PX = 768;
// A field is measured as CELLS_PER_FIELD x CELLS_PER_FIELD cells, each the
// mean of its pixels (so a fine balanced pattern evens out, as the rule allows).
static constexpr int CELLS_PER_FIELD = 16;
// A general transition: relative luminance changes by at least this much...
static constexpr double LUMINANCE_STEP = 0.1;
// ... and the darker of its two states is below this.
static constexpr double DARKER_BELOW = 0.8;
// A red transition: (R - G - B) x RED_SCALE changes by more than RED_STEP,
// one of its states a saturated red (R / (R + G + B) at least SATURATED_RED).
static constexpr double RED_SCALE = 320, RED_STEP = 20, SATURATED_RED = 0.8;
// The flashes allowed in one second.
static constexpr float MOST_FLASHES = 3;

// The turning points of one measure in one cell: a transition is complete
// when the measure turns back from its extreme by a step.
struct Zigzag {
    bool started = false;
    int trend = 0;                 // +1 rising, -1 falling, 0 not known yet
    double pivot = 0, extreme = 0; // the last turning point, and the extreme since
    double low = 0, high = 0;      // while the trend is not known: the range so far
    bool pivotRed = false, extremeRed = false, lowRed = false, highRed = false;
    uint32_t extremeFrame = 0;
    std::deque<uint32_t> ends; // frames at which transitions that count ended, within the last second
};

struct Cell {
    Zigzag general, red;
};

struct FlashAnalysis {
    int width = 0, height = 0;
    uint32_t fps = 0;
    int cellWidth = 0, cellHeight = 0, columns = 0, rows = 0;
    std::vector<Cell> cells;
    std::vector<double> sums; // linear R, G, B and the pixel count of each cell
    std::vector<FlashSecond> seconds;
    double linear[256] = {};
};

FlashAnalysis* createFlashAnalysis(int width, int height, uint32_t fps)
{
    auto* a = new FlashAnalysis;
    a->width = width;
    a->height = height;
    a->fps = fps;
    const double scale = height / FIELD_SCREEN_HEIGHT_PX;
    a->cellWidth = std::max(1, int(std::lround(FIELD_WIDTH_PX * scale / CELLS_PER_FIELD)));
    a->cellHeight = std::max(1, int(std::lround(FIELD_HEIGHT_PX * scale / CELLS_PER_FIELD)));
    a->columns = (width + a->cellWidth - 1) / a->cellWidth;
    a->rows = (height + a->cellHeight - 1) / a->cellHeight;
    a->cells.resize(size_t(a->columns) * a->rows);
    a->sums.resize(a->cells.size() * 4);
    // sRGB to linear, as the relative luminance is defined.
    for (int i = 0; i < 256; ++i) {
        const double c = i / 255.0;
        a->linear[i] = c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    }
    return a;
}

void destroyFlashAnalysis(FlashAnalysis* analysis)
{
    delete analysis;
}

// Takes the measure's next value; a transition that ends at a turn and that
// `counts` (its two states' values and redness) is kept.
template <typename Big, typename Counts>
static void follow(Zigzag& z, double v, bool red, uint32_t frame, Big big, Counts counts)
{
    if (!z.started) {
        z = Zigzag{true, 0, v, v, v, v, red, red, red, red, frame, {}};
        return;
    }
    if (z.trend == 0) {
        if (v < z.low) z.low = v, z.lowRed = red;
        if (v > z.high) z.high = v, z.highRed = red;
        if (!big(z.high - z.low)) return;
        // Known now: from the range's other end towards this value.
        const bool rising = v == z.high;
        z.trend = rising ? 1 : -1;
        z.pivot = rising ? z.low : z.high;
        z.pivotRed = rising ? z.lowRed : z.highRed;
        z.extreme = v, z.extremeRed = red, z.extremeFrame = frame;
        return;
    }
    if ((z.trend > 0 && v >= z.extreme) || (z.trend < 0 && v <= z.extreme)) {
        z.extreme = v, z.extremeRed = red, z.extremeFrame = frame;
        return;
    }
    if (!big(std::abs(z.extreme - v))) return;
    if (counts(z.pivot, z.extreme, z.pivotRed || z.extremeRed)) z.ends.push_back(z.extremeFrame);
    z.pivot = z.extreme, z.pivotRed = z.extremeRed;
    z.extreme = v, z.extremeRed = red, z.extremeFrame = frame;
    z.trend = -z.trend;
}

// The flashes within the second up to `frame`: two transitions make one.
static float flashesWithin(Zigzag& z, uint32_t frame, uint32_t fps)
{
    while (!z.ends.empty() && z.ends.front() + fps <= frame) z.ends.pop_front();
    return float(z.ends.size()) / 2.0f;
}

// The largest share of a field whose cells flash at least `least` times, by
// `flashes` of each cell: counted over every field's place at once, through
// the running sums of the cells that do.
static float shareFlashing(const FlashAnalysis& a, const std::vector<float>& flashes, float least)
{
    const int across = std::min(CELLS_PER_FIELD, a.columns), down = std::min(CELLS_PER_FIELD, a.rows);
    const size_t stride = size_t(a.columns) + 1;
    std::vector<int> sums(stride * (size_t(a.rows) + 1));
    for (int y = 0; y < a.rows; ++y)
        for (int x = 0; x < a.columns; ++x)
            sums[(y + 1) * stride + x + 1] = (flashes[size_t(y) * a.columns + x] >= least) + sums[y * stride + x + 1] +
                sums[(y + 1) * stride + x] - sums[y * stride + x];
    int most = 0;
    for (int y = 0; y + down <= a.rows; ++y)
        for (int x = 0; x + across <= a.columns; ++x)
            most = std::max(most,
                            sums[(y + down) * stride + x + across] - sums[y * stride + x + across] -
                                sums[(y + down) * stride + x] + sums[y * stride + x]);
    return float(most) / float(across * down);
}

// The most flashes a second that more than a quarter of some field reaches
// (flashes come in halves), and the largest share flashing more than allowed.
static void measureArea(const FlashAnalysis& a, const std::vector<float>& flashes, float& areaFlashes, float& share)
{
    std::vector<float> levels(flashes);
    std::sort(levels.begin(), levels.end(), std::greater<>());
    levels.erase(std::unique(levels.begin(), levels.end()), levels.end());
    areaFlashes = 0;
    for (float level : levels)
        if (level > 0 && shareFlashing(a, flashes, level) > FAILING_SHARE) {
            areaFlashes = level;
            break;
        }
    share = shareFlashing(a, flashes, MOST_FLASHES + 0.5f);
}

void addFlashFrame(FlashAnalysis& a, const uint8_t* rgb)
{
    std::fill(a.sums.begin(), a.sums.end(), 0.0);
    for (int y = 0; y < a.height; ++y) {
        const size_t rowCells = size_t(y / a.cellHeight) * a.columns;
        for (int x = 0; x < a.width; ++x) {
            const uint8_t* p = rgb + (size_t(y) * a.width + x) * 3;
            double* s = &a.sums[(rowCells + size_t(x / a.cellWidth)) * 4];
            s[0] += a.linear[p[0]], s[1] += a.linear[p[1]], s[2] += a.linear[p[2]], s[3] += 1;
        }
    }
    const uint32_t frame = uint32_t(a.seconds.size());
    std::vector<float> general(a.cells.size()), red(a.cells.size());
    FlashSecond second{};
    for (size_t c = 0; c < a.cells.size(); ++c) {
        const double* s = &a.sums[c * 4];
        const double r = s[0] / s[3], g = s[1] / s[3], b = s[2] / s[3];
        const double luminance = 0.2126 * r + 0.7152 * g + 0.0722 * b;
        const bool saturated = r + g + b > 0 && r / (r + g + b) >= SATURATED_RED;
        follow(
            a.cells[c].general, luminance, false, frame, [](double d) { return d >= LUMINANCE_STEP; },
            [](double p, double e, bool) { return std::min(p, e) < DARKER_BELOW; });
        follow(
            a.cells[c].red, std::max(0.0, (r - g - b) * RED_SCALE), saturated, frame,
            [](double d) { return d > RED_STEP; }, [](double, double, bool anyRed) { return anyRed; });
        general[c] = flashesWithin(a.cells[c].general, frame, a.fps);
        red[c] = flashesWithin(a.cells[c].red, frame, a.fps);
        second.generalFlashes = std::max(second.generalFlashes, general[c]);
        second.redFlashes = std::max(second.redFlashes, red[c]);
        second.meanLuminance += float(luminance * s[3] / (double(a.width) * a.height));
    }
    measureArea(a, general, second.generalAreaFlashes, second.generalShare);
    measureArea(a, red, second.redAreaFlashes, second.redShare);
    a.seconds.push_back(second);
}

const std::vector<FlashSecond>& flashSeconds(const FlashAnalysis& analysis)
{
    return analysis.seconds;
}

bool generalFails(const FlashSecond& second)
{
    return second.generalShare > FAILING_SHARE;
}

bool redFails(const FlashSecond& second)
{
    return second.redShare > FAILING_SHARE;
}
