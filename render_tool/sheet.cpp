#include "render_tool/sheet.h"

#include "cli/command_line.h"
#include "files/output_file.h"
#include "image/png_file.h"
#include "image/text.h"
#include "render_tool/offline.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

static constexpr int COLUMNS = 6;
static constexpr int GAP = 4;         // pixels between stills
static constexpr int GLYPH_SCALE = 2; // label pixels per font pixel
static constexpr int LABEL_HEIGHT = GLYPH_HEIGHT * GLYPH_SCALE + 6;
static constexpr uint8_t BACKGROUND = 24, INK = 230;

static const char* const SHEET_HELP =
    "Usage: vantrop-render sheet --out FILE.png [--size WxH] [--every BEATS] [--shaders DIR]\n"
    "                            [--schedule FILE]\n"
    "\n"
    "Draws a contact sheet: one still of the show every BEATS beats (default 4)\n"
    "from the first beat to the last with a picture, six to a row, each labelled\n"
    "with its beat and its time in seconds. --size is the size of one still\n"
    "(default 320x180).\n";

int runSheet(int argc, char** argv)
{
    std::string out, error;
    int width = 320, height = 180; // one still, pixels
    float every = 4.0f;
    std::vector<std::string> seen;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(SHEET_HELP, stdout);
            std::fputs(SHADERS_OPTION_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
        if (optionRepeated("vantrop-render sheet", seen, arg)) return EXIT_USAGE;
        if (i + 1 >= argc)
            return usageError("vantrop-render sheet", "unknown argument or missing value: '" + arg + "'");
        const char* value = argv[++i];
        if (arg == "--out") {
            out = value;
        } else if (arg == "--size") {
            if (!parseSize(value, width, height, &error)) return usageError("vantrop-render sheet", error);
        } else if (arg == "--shaders") {
            if (!useShaderFolder(value, &error)) return usageError("vantrop-render sheet", error);
        } else if (arg == "--schedule") {
            if (!useScheduleFile(value, &error)) return usageError("vantrop-render sheet", error);
        } else if (arg == "--every") {
            char* end = nullptr;
            every = std::strtof(value, &end);
            if (!end || *end || !(every >= 0.25f))
                return usageError("vantrop-render sheet",
                                  std::string("bad --every '") + value + "': give 0.25 beats or more");
        } else {
            return usageError("vantrop-render sheet", "unknown argument '" + arg + "'");
        }
    }
    if (out.empty()) return usageError("vantrop-render sheet", "--out FILE.png is required");
    // Known once any schedule file has been read.
    const float last = lastPictureBeat();
    if (every > last)
        return usageError("vantrop-render sheet",
                          "bad --every: give 0.25 to " + std::to_string(int(last)) + " beats, the last with a picture");
    if (!checkOutputPath(out, {".png"}, {}, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return 1;
    }
    if (!openOfflineRenderer(width, height, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return 1;
    }

    std::vector<float> beats;
    std::vector<std::string> labels;
    size_t longestLabel = 0;
    for (int k = 0; float(k) * every <= last; ++k) {
        beats.push_back(float(k) * every);
        char label[64];
        std::snprintf(label, sizeof label, "beat %g  %.2f s", double(beats.back()),
                      positionAtBeat(beats.back()) / 1000.0);
        labels.push_back(label);
        longestLabel = std::max(longestLabel, labels.back().size());
    }
    const int columns = std::min<int>(COLUMNS, int(beats.size()));
    const int rows = (int(beats.size()) + columns - 1) / columns;
    // Small stills get cells as wide as their labels, so that every label stays readable under its own still.
    const int cellWidth = std::max(width, int(longestLabel) * GLYPH_ADVANCE * GLYPH_SCALE + 2) + GAP;
    const int cellHeight = height + LABEL_HEIGHT + GAP;
    const int sheetWidth = columns * cellWidth + GAP, sheetHeight = rows * cellHeight + GAP;
    std::vector<uint8_t> sheet(size_t(sheetWidth) * sheetHeight * 3, BACKGROUND);
    // On a terminal one line kept current; in a log, a line every tenth.
    const bool showProgress = stderrIsTerminal();
    uint32_t nextTenth = 1;

    for (size_t i = 0; i < beats.size(); ++i) {
        const uint32_t ms = positionAtBeat(beats[i]);
        const std::vector<uint8_t> still = renderImage(ms, width, height);
        const int x0 = GAP + int(i % columns) * cellWidth, y0 = GAP + int(i / columns) * cellHeight;
        for (int y = 0; y < height; ++y)
            std::copy_n(&still[size_t(y) * width * 3], size_t(width) * 3,
                        &sheet[(size_t(y0 + y) * sheetWidth + x0) * 3]);
        drawText(sheet, sheetWidth, sheetHeight, x0 + 2, y0 + height + 3, labels[i], GLYPH_SCALE, INK);
        if (showProgress)
            std::fprintf(stderr, "\rstill %zu of %zu", i + 1, beats.size());
        else
            logProgressTenth("vantrop-render sheet", "still", uint32_t(i + 1), uint32_t(beats.size()), nextTenth);
    }
    if (showProgress) std::fputc('\n', stderr);
    if (!writePngFileSafely(out, sheetWidth, sheetHeight, sheet, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "vantrop-render sheet: wrote %s (%zu stills, %dx%d, %s)\n", out.c_str(), beats.size(),
                 sheetWidth, sheetHeight, fileSizeText(out).c_str());
    return 0;
}
