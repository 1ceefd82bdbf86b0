#include "render_tool/flashes.h"

#include "cli/command_line.h"
#include "cli/options.h"
#include "files/output_file.h"
#include "flashes/flashes.h"
#include "render_tool/flash_plot.h"
#include "render_tool/offline.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

static constexpr const char* COMMAND = "vantrop-render flashes";
// The exit status of a show that fails the thresholds.
static constexpr int EXIT_FLASHES_FAIL = 3;
static constexpr uint32_t DEFAULT_FPS = 60, MAX_FPS = 240;
// Analysed at this size unless told: the rule is scaled to the picture, and
// a 10-degree field is still 80x60 pixels here.
static constexpr int DEFAULT_WIDTH = 320, DEFAULT_HEIGHT = 180;

struct FlashOptions {
    uint32_t fps = DEFAULT_FPS, from = 0, to = 0;
    bool toGiven = false, force = false;
    PictureSize size{DEFAULT_WIDTH, DEFAULT_HEIGHT};
    std::string plot, marks;
};

// The section of the show playing at ms.
static const char* sectionAt(const ScheduleValues& schedule, uint32_t ms)
{
    const char* name = SHOW_SECTIONS[0].name;
    for (int i = 0; i < SHOW_SECTION_COUNT; ++i)
        if (positionAtBeat(schedule, sectionStartBeat(schedule, i)) <= ms) name = SHOW_SECTIONS[i].name;
    return name;
}

// One stretch of failing seconds, said: from the start of its first second
// to its last frame; returned as "FROM_MS TO_MS\n".
static std::string sayStretch(const std::vector<FlashSecond>& seconds, size_t first, size_t last, const FlashOptions& o,
                              const ScheduleValues& schedule)
{
    float general = 0, red = 0, generalShare = 0, redShare = 0;
    for (size_t n = first; n <= last; ++n) {
        general = std::max(general, seconds[n].generalAreaFlashes);
        red = std::max(red, seconds[n].redAreaFlashes);
        generalShare = std::max(generalShare, seconds[n].generalShare);
        redShare = std::max(redShare, seconds[n].redShare);
    }
    const auto at = [&](size_t n) { return o.from + uint32_t(uint64_t(n) * 1000 / o.fps); };
    const uint32_t start = at(first + 1 >= o.fps ? first + 1 - o.fps : 0), end = at(last);
    std::printf("%7.2f to %7.2f s  %-9s", start / 1000.0, end / 1000.0, sectionAt(schedule, start));
    if (generalShare > FAILING_SHARE)
        std::printf("  general: up to %.1f flashes a second over %.0f%% of a field", double(general),
                    100.0 * double(generalShare));
    if (redShare > FAILING_SHARE)
        std::printf("  red: up to %.1f flashes a second over %.0f%% of a field", double(red), 100.0 * double(redShare));
    std::printf("\n");
    return std::to_string(start) + " " + std::to_string(end) + "\n";
}

// Says every failing stretch and the summary; the exit status.
static int report(const std::vector<FlashSecond>& seconds, const FlashOptions& o, const ScheduleValues& schedule,
                  std::string& marks)
{
    size_t failing = 0, stretches = 0;
    float most = 0, area = 0;
    for (size_t n = 0; n < seconds.size(); ++n) {
        most = std::max({most, seconds[n].generalFlashes, seconds[n].redFlashes});
        area = std::max({area, seconds[n].generalAreaFlashes, seconds[n].redAreaFlashes});
        if (!generalFails(seconds[n]) && !redFails(seconds[n])) continue;
        size_t last = n;
        while (last + 1 < seconds.size() && (generalFails(seconds[last + 1]) || redFails(seconds[last + 1]))) ++last;
        marks += sayStretch(seconds, n, last, o, schedule);
        failing += last - n + 1;
        ++stretches;
        n = last;
    }
    if (stretches == 0) {
        std::printf(
            "%s: passes: at most %.1f flashes a second over a quarter of a 10-degree field (%.1f in "
            "one small place)\n",
            COMMAND, double(area), double(most));
        return EXIT_DONE;
    }
    std::printf(
        "%s: FAILS in %zu stretch%s (%.1f s in all): more than three flashes in a second over more "
        "than a quarter of a 10-degree field\n",
        COMMAND, stretches, stretches == 1 ? "" : "es", double(failing) / o.fps);
    return EXIT_FLASHES_FAIL;
}

// Writes the marks beside their name and moves them into place; false with *error.
static bool writeMarks(const std::string& path, const std::string& marks, bool force, std::string* error)
{
    const std::string temporary = makeTemporaryBeside(path, ".txt", error);
    if (temporary.empty()) return false;
    FILE* file = std::fopen(temporary.c_str(), "wb");
    bool written = file && std::fwrite(marks.data(), 1, marks.size(), file) == marks.size();
    written = file && std::fclose(file) == 0 && written;
    if (!written) {
        std::remove(temporary.c_str());
        *error = "cannot write the marks beside " + path + "; check the folder and the free space";
        return false;
    }
    return finishOutput(temporary, path, force, error);
}

int runFlashes(int argc, char** argv)
{
    FlashOptions o;
    DrawingSources sources;
    const CommandLine line{
        COMMAND,
        "[--from MS] [--to MS] [--fps N] [--size WxH] [--plot FILE.png] [--marks FILE] [--shaders DIR]\n"
        "                              [--schedule FILE] [--tracks FILE] [--force]",
        "Draws the show (or the edited show) frame by frame and measures its flashes\n"
        "against the general flash and red flash thresholds of photosensitivity\n"
        "guidelines (WCAG 2.3.1; broadcasters use the same idea): no more than three\n"
        "flashes in any one second over more than a quarter of a 10-degree field of\n"
        "view (341x256 pixels of a 1024x768 screen, scaled to the picture's height).\n"
        "A general flash is a pair of opposing changes of relative luminance by 0.1\n"
        "or more, the darker state below 0.8; a red flash, a pair of opposing changes\n"
        "of (R - G - B) x 320 by more than 20, one state a saturated red. Prints each\n"
        "stretch that fails (its time, section, flashes and share of a field) and a\n"
        "summary; exits 0 when the show passes and 3 when it fails.\n",
        {positionOption("--from", &o.from, "first position in milliseconds"),
         noticed(defaultSaid(positionOption("--to", &o.to, "end position, not included"), "the end of the picture"),
                 &o.toGiven),
         countOption("--fps", "N", &o.fps, 1, MAX_FPS, "frames per second, as the show is watched"),
         sizeOption("--size", &o.size, "the size analysed, 16:9"),
         textOption("--plot", "FILE.png", &o.plot,
                    "also draw the run as a picture: flashes a second and the mean luminance over "
                    "time, the threshold, the failing seconds and the sections"),
         textOption("--marks", "FILE", &o.marks,
                    "also write each failing stretch as a line \"FROM_MS TO_MS\" (none: an empty file), "
                    "for programs that mark them (the studio does)"),
         shadersOption(&sources.shaders), scheduleOption(&sources.schedule), tracksOption(&sources.tracks),
         forceOption(&o.force)},
        "",
        ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    if (!o.toGiven) o.to = showEndMs(offline.schedule);
    if (o.from >= o.to) return usageError(COMMAND, "--from must lie before --to (" + std::to_string(o.to) + " ms)");
    std::string error;
    if ((!o.plot.empty() &&
         (!checkOutputPath(o.plot, {".png"}, {}, &error) || !checkNameFree(o.plot, o.force, &error))) ||
        (!o.marks.empty() &&
         (!checkOutputPath(o.marks, {".txt"}, {}, &error) || !checkNameFree(o.marks, o.force, &error)))) {
        std::fprintf(stderr, "%s: %s\n", COMMAND, error.c_str());
        return EXIT_FAILED;
    }
    if (!openOfflineRenderer(offline, o.size.width, o.size.height, &error)) {
        std::fprintf(stderr, "%s: %s\n", COMMAND, error.c_str());
        closeOffline(offline);
        return EXIT_FAILED;
    }
    const uint32_t frames = uint32_t((uint64_t(o.to - o.from) * o.fps + 999) / 1000);
    std::printf("%s: %dx%d at %u fps, %u to %u ms (%u frames)\n", COMMAND, o.size.width, o.size.height, o.fps, o.from,
                o.to, frames);
    std::fflush(stdout);
    FlashAnalysis* analysis = createFlashAnalysis(o.size.width, o.size.height, o.fps);
    uint32_t nextTenth = 1;
    for (uint32_t n = 0; n < frames; ++n) {
        const std::vector<uint8_t> rgb =
            renderImage(offline, o.from + uint32_t(uint64_t(n) * 1000 / o.fps), o.size.width, o.size.height);
        addFlashFrame(*analysis, rgb.data());
        logProgressTenth(COMMAND, "frame", n + 1, frames, nextTenth);
    }
    closeOffline(offline);
    std::string marks;
    int status = report(flashSeconds(*analysis), o, offline.schedule, marks);
    if (!o.marks.empty() && !writeMarks(o.marks, marks, o.force, &error)) {
        std::fprintf(stderr, "%s: %s\n", COMMAND, error.c_str());
        status = EXIT_FAILED;
    }
    if (!o.plot.empty() &&
        !writeFlashPlot(o.plot, flashSeconds(*analysis), o.from, o.fps, offline.schedule, o.force, &error)) {
        std::fprintf(stderr, "%s: %s\n", COMMAND, error.c_str());
        status = EXIT_FAILED;
    }
    destroyFlashAnalysis(analysis);
    return status;
}
