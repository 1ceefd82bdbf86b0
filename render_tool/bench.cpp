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
static double timeFrame(Offline& offline, uint32_t positionMs)
{
    const auto start = std::chrono::steady_clock::now();
    renderFrame(*offline.renderer, offline.schedule, positionMs);
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

static FrameTimes timePosition(Offline& offline, uint32_t ms, uint32_t frames)
{
    for (int w = 0; w < WARM_UP_FRAMES; ++w) timeFrame(offline, ms);
    std::vector<double> times;
    for (uint32_t f = 0; f < frames; ++f) times.push_back(timeFrame(offline, ms));
    return {median(times), *std::min_element(times.begin(), times.end()),
            *std::max_element(times.begin(), times.end())};
}

struct BenchOptions {
    bool compare = false;
    std::string shaderText, shaderFile;
    PictureSize size;
    uint32_t frames = DEFAULT_FRAMES;
    std::vector<uint32_t> positions;
};

// The shader file of --shader, read: a whole fragment shader, not one of the readable parts.
static bool readOwnShader(BenchOptions& o, std::string* error)
{
    if (isReadableShaderPart(o.shaderFile)) {
        *error = o.shaderFile +
            " is one of the show's readable shader files, not a whole fragment shader; "
            "give its folder with --shaders DIR to time them packed as the studio packs them";
        return false;
    }
    if (!readShaderFile(o.shaderFile, o.shaderText, error)) return false;
    if (o.shaderText.empty()) *error = "the shader file " + o.shaderFile + " is empty";
    return !o.shaderText.empty();
}

// Reads the command line into `o` and `offline`: -1 to go on, else the exit status.
static int parseBench(int argc, char** argv, BenchOptions& o, Offline& offline)
{
    DrawingSources sources;
    const std::string ownShaderHelp = std::string(
                                          "time a fragment shader of your own (GLSL 1.10, the show's uniforms, "
                                          "with this build's resolution literal ") +
        SHOW_RESOLUTION_LITERAL + ") in place of the shipped one, as one program";
    const CommandLine line{"vantrop-render bench",
                           "[--size WxH] [--ms MS...] [--frames N] [--compare] [--shaders DIR | --shader FILE] "
                           "[--schedule FILE] [--tracks FILE]",
                           "Draws each position N times after two warm-up frames and prints the median\n"
                           "frame time, its spread (fastest and slowest) and the frames per second the\n"
                           "median gives, with the name of the renderer that drew them (a GPU, or Mesa's\n"
                           "llvmpipe software renderer).\n",
                           {sizeOption("--size", &o.size, "any 16:9 size"),
                            defaultSaid(positionsOption("--ms", "MS...", &o.positions, "the positions, milliseconds"),
                                        "one in every part of the show"),
                            countOption("--frames", "N", &o.frames, 1, MAX_FRAMES, "frames timed at each position"),
                            flagOption("--compare", &o.compare,
                                       "also time the straightforward baseline shader that the show's optimised "
                                       "one is built from, and the reference (the baseline with the march's exit, "
                                       "as any straightforward shader has it), in the same run, and print the "
                                       "ratios and whether the pictures are identical to the baseline's"),
                            textOption("--shader", "FILE", &o.shaderFile, ownShaderHelp.c_str()),
                            shadersOption(&sources.shaders), scheduleOption(&sources.schedule),
                            tracksOption(&sources.tracks)},
                           "",
                           ""};
    if (const int status = parseCommandLine(line, argc, argv); status >= 0) return status;
    std::string error;
    if (!sources.shaders.empty() && !o.shaderFile.empty()) error = "give --shaders DIR or --shader FILE, not both";
    if (error.empty() && !o.shaderFile.empty()) readOwnShader(o, &error);
    if (error.empty()) useDrawingSources(offline, sources, &error);
    if (error.empty() && (offline.scheduleGiven || offline.tracksGiven) && o.compare)
        error =
            "--compare times against the baseline shader, which has the built-in schedule and the tracks' "
            "defaults written in; leave out --schedule and --tracks";
    if (!error.empty()) return usageError(line.command, error);
    if (o.positions.empty()) o.positions.assign(std::begin(BENCH_POSITIONS_MS), std::end(BENCH_POSITIONS_MS));
    return -1;
}

// The show's own shader draws as the show does, with its set of programs; a user's shader alone.
static bool useMeasuredShader(const BenchOptions& o, Offline& offline, std::string* error)
{
    return o.shaderFile.empty() ? useShowShader(offline, o.size.width, o.size.height, error)
                                : useSingleShader(offline, o.shaderText.c_str(), o.size.width, o.size.height, error);
}

static int timeEachPosition(const BenchOptions& o, Offline& offline)
{
    std::printf("%8s %7s %10s %8s %8s %8s\n", "ms", "beat", "median ms", "min ms", "max ms", "fps");
    std::vector<double> medians;
    for (uint32_t ms : o.positions) {
        const FrameTimes t = timePosition(offline, ms, o.frames);
        medians.push_back(t.median);
        std::printf("%8u %7.2f %10.2f %8.2f %8.2f %8.1f\n", ms, double(computeFrameParams(offline.schedule, ms).beat),
                    t.median, t.fastest, t.slowest, 1000.0 / t.median);
        std::fflush(stdout);
    }
    const double overall = median(medians);
    std::printf("median over positions: %.2f ms per frame, %.1f frames per second\n", overall, 1000.0 / overall);
    return 0;
}

// The plain baseline (whose pictures the others must match), then the
// reference with the march exit, then the shader being measured.
static int compareWithBaseline(const BenchOptions& o, Offline& offline)
{
    std::string error;
    std::vector<FrameTimes> baseline, reference;
    std::vector<std::vector<uint8_t>> baselineImages;
    for (const char* source : {BASELINE_FRAGMENT_SOURCE, REFERENCE_FRAGMENT_SOURCE}) {
        if (!useSingleShader(offline, source, o.size.width, o.size.height, &error)) {
            std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
            return 1;
        }
        for (uint32_t ms : o.positions) {
            (source == BASELINE_FRAGMENT_SOURCE ? baseline : reference).push_back(timePosition(offline, ms, o.frames));
            if (source == BASELINE_FRAGMENT_SOURCE)
                baselineImages.push_back(renderImage(offline, ms, o.size.width, o.size.height));
        }
    }
    if (!useMeasuredShader(o, offline, &error)) {
        std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
        return 1;
    }
    std::printf("%8s %7s %12s %13s %13s %9s %9s %10s\n", "ms", "beat", "baseline ms", "reference ms", "optimised ms",
                "/baseline", "/refer.", "picture");
    std::vector<double> ratios, referenceRatios;
    bool allIdentical = true;
    for (size_t i = 0; i < o.positions.size(); ++i) {
        const FrameTimes shipped = timePosition(offline, o.positions[i], o.frames);
        const bool identical = renderImage(offline, o.positions[i], o.size.width, o.size.height) == baselineImages[i];
        allIdentical = allIdentical && identical;
        ratios.push_back(shipped.median / baseline[i].median);
        referenceRatios.push_back(shipped.median / reference[i].median);
        std::printf("%8u %7.2f %12.2f %13.2f %13.2f %9.3f %9.3f %10s\n", o.positions[i],
                    double(computeFrameParams(offline.schedule, o.positions[i]).beat), baseline[i].median,
                    reference[i].median, shipped.median, ratios.back(), referenceRatios.back(),
                    identical ? "identical" : "DIFFERS");
        std::fflush(stdout);
    }
    std::printf(
        "median ratio optimised/baseline: %.3f, optimised/reference (baseline with the march exit): %.3f; "
        "pictures %s\n",
        median(ratios), median(referenceRatios), allIdentical ? "identical at every position" : "differ");
    return allIdentical ? 0 : 1;
}

// Opens the renderer with the shader measured; 0 when it draws, else the exit status.
static int openMeasured(const BenchOptions& o, Offline& offline)
{
    std::string error;
    if (!openOfflineRenderer(offline, o.size.width, o.size.height, &error)) {
        std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
        return 1;
    }
    if (useMeasuredShader(o, offline, &error)) return 0;
    // The driver that compiled the show's own shader is fine: the fault is in the user's file.
    const size_t log = error.find(":\n");
    if (!o.shaderFile.empty())
        error = "the shader " + o.shaderFile + " does not compile" +
            (log == std::string::npos ? ": " + error : "; the driver's log follows:\n" + error.substr(log + 2));
    std::fprintf(stderr, "vantrop-render bench: %s\n", error.c_str());
    return 1;
}

int runBench(int argc, char** argv)
{
    BenchOptions o;
    Offline offline;
    if (const int status = parseBench(argc, argv, o, offline); status >= 0) return status;
    int status = openMeasured(o, offline);
    if (status == 0) {
        // A software renderer's figures are the processor's: they say where they were taken.
        std::printf(
            "renderer: %s\nprocessor: %s, %u logical cores\nsize %dx%d, %u frames per position after %d warm-up "
            "frames\n",
            rendererName().c_str(), processorName().c_str(), std::thread::hardware_concurrency(), o.size.width,
            o.size.height, o.frames, WARM_UP_FRAMES);
        status = o.compare ? compareWithBaseline(o, offline) : timeEachPosition(o, offline);
    }
    closeOffline(offline);
    return status;
}
