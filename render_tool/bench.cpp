#include "render_tool/bench.h"

#include "cli/command_line.h"
#include "files/output_file.h"
#include "render/headless.h"
#include "render/renderer.h"
#include "render_tool/offline.h"
#include "shaders/baseline_sources.h"
#include "shaders/pack.h"
#include "shaders/shader_sources.h"
#include "timeline/schedule.h"
#include "timeline/timeline.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

static constexpr int WARM_UP_FRAMES = 2;
static constexpr uint32_t DEFAULT_FRAMES = 10;
static constexpr uint32_t MAX_FRAMES = 100000;
// One position in every part of the show: fade-in, thick intro bars, hits,
// flashes, warp dip, warp swell with glitch, finale, logo before the fade-out.

static const char* const BENCH_HELP =
    "Usage: vantrop-render bench [--size WxH] [--ms MS...] [--frames N] [--compare]\n"
    "                            [--shaders DIR | --shader FILE] [--schedule FILE]\n"
    "\n"
    "Draws each position N times (default 10) after two warm-up frames and prints\n"
    "the median frame time, its spread (fastest and slowest) and the frames per\n"
    "second the median gives, with the name of the renderer that drew them (a GPU,\n"
    "or Mesa's llvmpipe software renderer). --size defaults to 1280x720; the\n"
    "default positions sample every part of the show.\n"
    "\n"
    "--compare also times the straightforward baseline shader that the show's\n"
    "optimised one is built from, and the reference (the baseline with the march's\n"
    "exit, as any straightforward shader has it), in the same run, and prints the\n"
    "ratios and whether the pictures are identical to the baseline's. --shader FILE times a fragment\n"
    "shader of your own (GLSL 1.10, the show's uniforms, with this build's\n"
    "resolution literal %s) in place of the shipped one, as one\n"
    "program; --shaders DIR times a folder of readable sources as the show draws.\n";

// The processor's model name, as the system tells it.
static std::string processorName()
{
#ifdef _WIN32
    const char* identifier = std::getenv("PROCESSOR_IDENTIFIER");
    return identifier ? identifier : "unknown processor";
#else
    std::ifstream info("/proc/cpuinfo");
    std::string line;
    while (std::getline(info, line)) {
        const size_t colon = line.find(':');
        const size_t name = colon == std::string::npos ? colon : line.find_first_not_of(" \t", colon + 1);
        if (line.rfind("model name", 0) == 0 && name != std::string::npos) return line.substr(name);
    }
    return "unknown processor";
#endif
}

// Milliseconds one frame takes, drawn and finished.
static double timeFrame(uint32_t positionMs)
{
    const auto start = std::chrono::steady_clock::now();
    renderFrame(positionMs);
    glFinish();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

struct FrameTimes {
    double median, fastest, slowest; // milliseconds
};

static double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

static FrameTimes timePosition(uint32_t ms, uint32_t frames)
{
    for (int w = 0; w < WARM_UP_FRAMES; ++w) timeFrame(ms);
    std::vector<double> times;
    for (uint32_t f = 0; f < frames; ++f) times.push_back(timeFrame(ms));
    return {median(times), *std::min_element(times.begin(), times.end()),
            *std::max_element(times.begin(), times.end())};
}

int runBench(int argc, char** argv)
{
    bool compare = false;
    std::string shaderText, shaderFile;
    bool folderGiven = false, scheduleGiven = false;
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT;
    uint32_t frames = DEFAULT_FRAMES;
    std::vector<uint32_t> positions;
    std::string error;
    std::vector<std::string> seen;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::printf(BENCH_HELP, SHOW_RESOLUTION_LITERAL);
            std::fputs(SHADERS_OPTION_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
        if (optionRepeated("vantrop-render bench", seen, arg)) return EXIT_USAGE;
        if (arg == "--compare") {
            compare = true;
        } else if (arg == "--shader" && i + 1 < argc) {
            shaderFile = argv[++i];
            if (isReadableShaderPart(shaderFile))
                return usageError(
                    "vantrop-render bench",
                    shaderFile +
                        " is one of the show's readable shader files, not a whole fragment shader; "
                        "give its folder with --shaders DIR to time them packed as the studio packs them");
            if (!readShaderFile(shaderFile, shaderText, &error)) return usageError("vantrop-render bench", error);
            if (shaderText.empty())
                return usageError("vantrop-render bench", "the shader file " + shaderFile + " is empty");
        } else if (arg == "--shaders" && i + 1 < argc) {
            if (!useShaderFolder(argv[++i], &error)) return usageError("vantrop-render bench", error);
            folderGiven = true;
        } else if (arg == "--schedule" && i + 1 < argc) {
            if (!useScheduleFile(argv[++i], &error)) return usageError("vantrop-render bench", error);
            scheduleGiven = true;
        } else if (arg == "--ms") {
            uint32_t ms = 0;
            // Every argument that starts as a number is a position, and must be one.
            for (; i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9'; ++i) {
                if (!parsePosition(argv[i + 1], ms))
                    return usageError("vantrop-render bench", badPositionMessage("--ms position", argv[i + 1]));
                positions.push_back(ms);
            }
            if (positions.empty())
                return usageError("vantrop-render bench", "--ms needs positions in whole milliseconds");
        } else if (i + 1 >= argc) {
            return usageError("vantrop-render bench", "unknown argument or missing value: '" + arg + "'");
        } else if (arg == "--size") {
            if (!parseSize(argv[++i], width, height, &error)) return usageError("vantrop-render bench", error);
        } else if (arg == "--frames") {
            if (!parseUint32(argv[++i], frames) || frames == 0 || frames > MAX_FRAMES)
                return usageError("vantrop-render bench", "--frames needs a count from 1 to 100000");
        } else {
            return usageError("vantrop-render bench", "unknown argument '" + arg + "'");
        }
    }
    if (folderGiven && !shaderFile.empty())
        return usageError("vantrop-render bench", "give --shaders DIR or --shader FILE, not both");
    if (scheduleGiven && compare)
        return usageError("vantrop-render bench",
                          "--compare times against the baseline shader, which has the built-in schedule written "
                          "in; leave out --schedule");
    if (positions.empty()) positions.assign(std::begin(BENCH_POSITIONS_MS), std::end(BENCH_POSITIONS_MS));
    if (!openOfflineRenderer(width, height, &error)) {
        std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
        return 1;
    }
    // The show's own shader draws as the show does, with its set of programs; a user's shader alone.
    auto useMeasuredShader = [&] {
        return shaderFile.empty() ? useShowShader(width, height, &error)
                                  : useSingleShader(shaderText.c_str(), width, height, &error);
    };
    if (!useMeasuredShader()) {
        // The driver that compiled the show's own shader is fine: the fault is in the user's file.
        const size_t log = error.find(":\n");
        if (!shaderFile.empty())
            error = "the shader " + shaderFile + " does not compile" +
                (log == std::string::npos ? ": " + error : "; the driver's log follows:\n" + error.substr(log + 2));
        std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
        return 1;
    }
    // A software renderer's figures are the processor's: they say where they were taken.
    std::printf(
        "renderer: %s\nprocessor: %s, %u logical cores\nsize %dx%d, %u frames per position after %d warm-up "
        "frames\n",
        rendererName().c_str(), processorName().c_str(), std::thread::hardware_concurrency(), width, height, frames,
        WARM_UP_FRAMES);
    if (!compare) {
        std::printf("%8s %7s %10s %8s %8s %8s\n", "ms", "beat", "median ms", "min ms", "max ms", "fps");
        std::vector<double> medians;
        for (uint32_t ms : positions) {
            const FrameTimes t = timePosition(ms, frames);
            medians.push_back(t.median);
            std::printf("%8u %7.2f %10.2f %8.2f %8.2f %8.1f\n", ms, double(computeFrameParams(ms).beat), t.median,
                        t.fastest, t.slowest, 1000.0 / t.median);
            std::fflush(stdout);
        }
        const double overall = median(medians);
        std::printf("median over positions: %.2f ms per frame, %.1f frames per second\n", overall, 1000.0 / overall);
        return 0;
    }

    // The plain baseline (whose pictures the others must match), then the
    // reference with the march exit, then the shader being measured.
    std::vector<FrameTimes> baseline, reference;
    std::vector<std::vector<uint8_t>> baselineImages;
    for (const char* source : {BASELINE_FRAGMENT_SOURCE, REFERENCE_FRAGMENT_SOURCE}) {
        if (!useSingleShader(source, width, height, &error)) {
            std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
            return 1;
        }
        for (uint32_t ms : positions) {
            (source == BASELINE_FRAGMENT_SOURCE ? baseline : reference).push_back(timePosition(ms, frames));
            if (source == BASELINE_FRAGMENT_SOURCE) baselineImages.push_back(renderImage(ms, width, height));
        }
    }
    if (!useMeasuredShader()) {
        std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("%8s %7s %12s %13s %13s %9s %9s %10s\n", "ms", "beat", "baseline ms", "reference ms", "optimised ms",
                "/baseline", "/refer.", "picture");
    std::vector<double> ratios, referenceRatios;
    bool allIdentical = true;
    for (size_t i = 0; i < positions.size(); ++i) {
        const FrameTimes shipped = timePosition(positions[i], frames);
        const bool identical = renderImage(positions[i], width, height) == baselineImages[i];
        allIdentical = allIdentical && identical;
        ratios.push_back(shipped.median / baseline[i].median);
        referenceRatios.push_back(shipped.median / reference[i].median);
        std::printf("%8u %7.2f %12.2f %13.2f %13.2f %9.3f %9.3f %10s\n", positions[i],
                    double(computeFrameParams(positions[i]).beat), baseline[i].median, reference[i].median,
                    shipped.median, ratios.back(), referenceRatios.back(), identical ? "identical" : "DIFFERS");
        std::fflush(stdout);
    }
    std::printf(
        "median ratio optimised/baseline: %.3f, optimised/reference (baseline with the march exit): %.3f; "
        "pictures %s\n",
        median(ratios), median(referenceRatios), allIdentical ? "identical at every position" : "differ");
    return allIdentical ? 0 : 1;
}
