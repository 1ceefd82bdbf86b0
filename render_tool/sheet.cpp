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

// The stills' size unless told, pixels, and the least step between them, beats.
static constexpr int DEFAULT_STILL_WIDTH = 320, DEFAULT_STILL_HEIGHT = 180;
static constexpr double MIN_EVERY_BEATS = 0.25;

struct SheetOptions {
    std::string out;
    PictureSize size{DEFAULT_STILL_WIDTH, DEFAULT_STILL_HEIGHT}; // one still
    double every = 4.0;                                          // beats between stills
    bool force = false;
};

// Draws the stills into a sheet with their labels; *count is how many.
static std::vector<uint8_t> drawSheet(const SheetOptions& o, Offline& offline, int& sheetWidth, int& sheetHeight,
                                      size_t* count)
{
    const float last = lastPictureBeat(offline.schedule);
    const float every = float(o.every);
    std::vector<float> beats;
    std::vector<std::string> labels;
    size_t longestLabel = 0;
    for (int k = 0; float(k) * every <= last; ++k) {
        beats.push_back(float(k) * every);
        char label[64];
        std::snprintf(label, sizeof label, "beat %g  %.2f s", double(beats.back()),
                      positionAtBeat(offline.schedule, beats.back()) / 1000.0);
        labels.push_back(label);
        longestLabel = std::max(longestLabel, labels.back().size());
    }
    const int width = o.size.width, height = o.size.height;
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
    SheetOptions o;
    DrawingSources sources;
    const CommandLine line{
        "vantrop-render sheet",
        "--out FILE.png [--size WxH] [--every BEATS] [--shaders DIR] [--schedule FILE] [--tracks FILE] [--force]",
        "Draws a contact sheet: one still of the show every BEATS beats from the first\n"
        "beat to the last with a picture, six to a row, each labelled with its beat and\n"
        "its time in seconds.\n",
        {required(textOption("--out", "FILE.png", &o.out, "the sheet's file")),
         sizeOption("--size", &o.size, "the size of one still, 16:9"),
         numberOption("--every", "BEATS", &o.every, MIN_EVERY_BEATS, 0, "beats from one still to the next"),
         shadersOption(&sources.shaders), scheduleOption(&sources.schedule), tracksOption(&sources.tracks),
         forceOption(&o.force)},
        "",
        ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    std::string error;
    // Known once any schedule file has been read.
    const float last = lastPictureBeat(offline.schedule);
    if (o.every > double(last))
        return usageError(line.command,
                          "bad --every: give 0.25 to " + std::to_string(int(last)) + " beats, the last with a picture");
    if (!checkOutputPath(o.out, {".png"}, {}, &error) || !checkNameFree(o.out, o.force, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    int sheetWidth = 0, sheetHeight = 0;
    size_t stills = 0;
    std::vector<uint8_t> sheet;
    if (openOfflineRenderer(offline, o.size.width, o.size.height, &error))
        sheet = drawSheet(o, offline, sheetWidth, sheetHeight, &stills);
    closeOffline(offline);
    if (sheet.empty() || !writePngFileSafely(o.out, sheetWidth, sheetHeight, sheet, o.force, &error)) {
        std::fprintf(stderr, "vantrop-render sheet: %s\n", error.c_str());
        return EXIT_FAILED;
    }
    std::fprintf(stderr, "vantrop-render sheet: wrote %s (%zu stills, %dx%d, %s)\n", o.out.c_str(), stills, sheetWidth,
                 sheetHeight, fileSizeText(o.out).c_str());
    return EXIT_DONE;
}
