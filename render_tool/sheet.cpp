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

struct SheetOptions {
    std::string out;
    int width = 320, height = 180; // one still, pixels
    float every = 4.0f;            // beats between stills
};

// Reads the command line into `o` and `offline`; false with *error for the usage message.
static bool parseSheet(int argc, char** argv, SheetOptions& o, Offline& offline, std::string* error)
{
    std::vector<std::string> seen;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (optionRepeated("vantrop-render sheet", seen, arg)) return false;
        if (i + 1 >= argc) {
            *error = "unknown argument or missing value: '" + arg + "'";
            return false;
        }
        const char* value = argv[++i];
        bool ok = true;
        if (arg == "--out") {
            o.out = value;
        } else if (arg == "--size") {
            ok = parseSize(value, o.width, o.height, error);
        } else if (arg == "--shaders") {
            ok = useShaderFolder(offline, value, error);
        } else if (arg == "--schedule") {
            ok = useScheduleFile(offline, value, error);
        } else if (arg == "--every") {
            char* end = nullptr;
            o.every = std::strtof(value, &end);
            ok = end && !*end && o.every >= 0.25f;
            if (!ok) *error = std::string("bad --every '") + value + "': give 0.25 beats or more";
        } else {
            *error = "unknown argument '" + arg + "'";
            ok = false;
        }
        if (!ok) return false;
    }
    if (o.out.empty()) *error = "--out FILE.png is required";
    // Known once any schedule file has been read.
    const float last = lastPictureBeat(offline.schedule);
    if (error->empty() && o.every > last)
        *error = "bad --every: give 0.25 to " + std::to_string(int(last)) + " beats, the last with a picture";
    return error->empty();
}

// Draws the stills into a sheet with their labels; *count is how many.
static std::vector<uint8_t> drawSheet(const SheetOptions& o, Offline& offline, int& sheetWidth, int& sheetHeight,
                                      size_t* count)
{
    const float last = lastPictureBeat(offline.schedule);
    std::vector<float> beats;
    std::vector<std::string> labels;
    size_t longestLabel = 0;
    for (int k = 0; float(k) * o.every <= last; ++k) {
        beats.push_back(float(k) * o.every);
        char label[64];
        std::snprintf(label, sizeof label, "beat %g  %.2f s", double(beats.back()),
                      positionAtBeat(offline.schedule, beats.back()) / 1000.0);
        labels.push_back(label);
        longestLabel = std::max(longestLabel, labels.back().size());
    }
    const int width = o.width, height = o.height;
    const int columns = std::min<int>(COLUMNS, int(beats.size()));
    const int rows = (int(beats.size()) + columns - 1) / columns;
    // Small stills get cells as wide as their labels, so that every label stays readable under its own still.
    const int cellWidth = std::max(width, int(longestLabel) * GLYPH_ADVANCE * GLYPH_SCALE + 2) + GAP;
    const int cellHeight = height + LABEL_HEIGHT + GAP;
    sheetWidth = columns * cellWidth + GAP;
    sheetHeight = rows * cellHeight + GAP;
    std::vector<uint8_t> sheet(size_t(sheetWidth) * sheetHeight * 3, BACKGROUND);
    // On a terminal one line kept current; in a log, a line every tenth.
    const bool showProgress = stderrIsTerminal();
    uint32_t nextTenth = 1;
    for (size_t i = 0; i < beats.size(); ++i) {
        const uint32_t ms = positionAtBeat(offline.schedule, beats[i]);
        const std::vector<uint8_t> still = renderImage(offline, ms, width, height);
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
    *count = beats.size();
    return sheet;
}

int runSheet(int argc, char** argv)
{
    for (int i = 0; i < argc; ++i)
        if (isHelp(argv[i])) {
            std::fputs(SHEET_HELP, stdout);
            std::fputs(SHADERS_OPTION_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
    SheetOptions o;
    Offline offline;
    std::string error;
    if (!parseSheet(argc, argv, o, offline, &error))
        return error.empty() ? EXIT_USAGE : usageError("vantrop-render sheet", error);
    if (!checkOutputPath(o.out, {".png"}, {}, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return 1;
    }
    int sheetWidth = 0, sheetHeight = 0;
    size_t stills = 0;
    std::vector<uint8_t> sheet;
    if (openOfflineRenderer(offline, o.width, o.height, &error))
        sheet = drawSheet(o, offline, sheetWidth, sheetHeight, &stills);
    closeOffline(offline);
    if (sheet.empty() || !writePngFileSafely(o.out, sheetWidth, sheetHeight, sheet, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return 1;
    }
    std::fprintf(stderr, "vantrop-render sheet: wrote %s (%zu stills, %dx%d, %s)\n", o.out.c_str(), stills, sheetWidth,
                 sheetHeight, fileSizeText(o.out).c_str());
    return 0;
}
