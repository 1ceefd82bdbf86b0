#include "render_tool/flash_plot.h"

#include "image/png_file.h"
#include "image/text.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cmath>
#include <string>

// The plot's size and margins, pixels.
static constexpr int PLOT_WIDTH = 1200, PLOT_HEIGHT = 360;
static constexpr int LEFT = 44, RIGHT = 12, TOP = 28, BOTTOM = 44;
// The flashes a second the vertical axis shows at least, and the threshold.
static constexpr float LEAST_TOP_FLASHES = 6, MOST_FLASHES = 3;
// Seconds between the labels along the bottom.
static constexpr int LABEL_EVERY_S = 5;
static constexpr int TEXT_SCALE = 2;

struct Rgb {
    uint8_t r, g, b;
};
static constexpr Rgb SECTION_SHADES[] = {{24, 24, 28}, {36, 36, 42}};
static constexpr Rgb FAILING{110, 20, 20}, THRESHOLD{230, 60, 60}, FLASHES{255, 170, 40}, LUMINANCE{150, 150, 150},
    AXIS{90, 90, 90};

struct Canvas {
    std::vector<uint8_t> rgb = std::vector<uint8_t>(size_t(PLOT_WIDTH) * PLOT_HEIGHT * 3);
};

static void fill(Canvas& c, int x0, int y0, int x1, int y1, Rgb colour)
{
    for (int y = std::max(y0, 0); y < std::min(y1, PLOT_HEIGHT); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, PLOT_WIDTH); ++x) {
            uint8_t* p = &c.rgb[(size_t(y) * PLOT_WIDTH + x) * 3];
            p[0] = colour.r, p[1] = colour.g, p[2] = colour.b;
        }
}

// A line of a plot from column to column: joined vertically so that no step leaves a gap.
static void plotLine(Canvas& c, const std::vector<int>& rows, Rgb colour)
{
    for (size_t x = 0; x < rows.size(); ++x) {
        const int previous = x > 0 ? rows[x - 1] : rows[x];
        fill(c, LEFT + int(x), std::min(previous, rows[x]), LEFT + int(x) + 1, std::max(previous, rows[x]) + 1, colour);
    }
}

bool writeFlashPlot(const std::string& path, const std::vector<FlashSecond>& seconds, uint32_t fromMs, uint32_t fps,
                    const ScheduleValues& schedule, bool force, std::string* error)
{
    Canvas c;
    const int plotWidth = PLOT_WIDTH - LEFT - RIGHT, bottom = PLOT_HEIGHT - BOTTOM, height = bottom - TOP;
    const double firstS = fromMs / 1000.0, lengthS = std::max(double(seconds.size()) / fps, 1e-3);
    const auto column = [&](double s) { return LEFT + int(std::lround((s - firstS) / lengthS * plotWidth)); };
    // The sections, shaded in turn and named.
    for (int i = 0; i < SHOW_SECTION_COUNT; ++i) {
        const double start = positionAtBeat(schedule, sectionStartBeat(schedule, i)) / 1000.0;
        const double end = i + 1 < SHOW_SECTION_COUNT
            ? positionAtBeat(schedule, sectionStartBeat(schedule, i + 1)) / 1000.0
            : firstS + lengthS;
        const int x0 = std::max(column(start), LEFT), x1 = std::min(column(end), LEFT + plotWidth);
        if (x1 <= x0) continue;
        fill(c, x0, TOP, x1, bottom, SECTION_SHADES[i % 2]);
        drawText(c.rgb, PLOT_WIDTH, PLOT_HEIGHT, x0 + 3, TOP + 4, SHOW_SECTIONS[i].name, TEXT_SCALE, 190);
    }
    float top = LEAST_TOP_FLASHES;
    for (const FlashSecond& s : seconds) top = std::max({top, s.generalAreaFlashes + 1, s.redAreaFlashes + 1});
    const auto row = [&](double value, double most) {
        return bottom - 1 - int(std::lround(value / most * (height - 1)));
    };
    std::vector<int> flashes = std::vector<int>(size_t(plotWidth)), luminance = flashes;
    for (int x = 0; x < plotWidth; ++x) {
        const size_t n = std::min(seconds.size() - 1, size_t(double(x) / plotWidth * seconds.size()));
        const FlashSecond& s = seconds[n];
        if (generalFails(s) || redFails(s)) fill(c, LEFT + x, TOP, LEFT + x + 1, bottom, FAILING);
        flashes[size_t(x)] = row(std::max(s.generalAreaFlashes, s.redAreaFlashes), top);
        luminance[size_t(x)] = row(s.meanLuminance, 1.0);
    }
    fill(c, LEFT, row(MOST_FLASHES, top), LEFT + plotWidth, row(MOST_FLASHES, top) + 1, THRESHOLD);
    plotLine(c, luminance, LUMINANCE);
    plotLine(c, flashes, FLASHES);
    fill(c, LEFT - 1, TOP, LEFT, bottom + 1, AXIS);
    fill(c, LEFT - 1, bottom, LEFT + plotWidth, bottom + 1, AXIS);
    for (int f = 0; f <= int(top); ++f)
        drawText(c.rgb, PLOT_WIDTH, PLOT_HEIGHT, 8, row(f, top) - GLYPH_HEIGHT, std::to_string(f), TEXT_SCALE, 170);
    for (int s = int(std::ceil(firstS / LABEL_EVERY_S)) * LABEL_EVERY_S; s <= firstS + lengthS; s += LABEL_EVERY_S)
        drawText(c.rgb, PLOT_WIDTH, PLOT_HEIGHT, column(s) - 6, bottom + 6, std::to_string(s) + "s", TEXT_SCALE, 170);
    drawText(c.rgb, PLOT_WIDTH, PLOT_HEIGHT, LEFT, PLOT_HEIGHT - 16,
             "orange: flashes a second over a quarter of a 10-degree field   grey: mean luminance (0 to 1)   "
             "red line: 3 a second   red: failing",
             TEXT_SCALE, 200);
    return writePngFileSafely(path, PLOT_WIDTH, PLOT_HEIGHT, c.rgb, force, error);
}
