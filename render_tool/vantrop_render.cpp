// vantrop-render: the show's companion program. It draws any moment of the
// show without a display, with the show's own renderer.
#include "cli/command_line.h"
#include "cli/options.h"
#include "files/output_file.h"
#include "image/png_file.h"
#include "render_tool/bench.h"
#include "render_tool/export_video.h"
#include "render_tool/flashes.h"
#include "render_tool/join.h"
#include "render_tool/offline.h"
#include "render_tool/sheet.h"
#include "render_tool/site.h"
#include "render_tool/tracks.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static int failed(const char* command, const std::string& error)
{
    std::fprintf(stderr, "%s: %s\n", command, error.c_str());
    return EXIT_FAILED;
}

static int runSchedule(int argc, char** argv)
{
    DrawingSources sources;
    const CommandLine line{"vantrop-render schedule",
                           "[--schedule FILE]",
                           "Prints the show's schedule in the form that --schedule FILE reads (every\n"
                           "command here, vantrop and vantrop-studio take it): one NAME = value a line for\n"
                           "every beat at which something starts or ends, the fades' rates and the beat's\n"
                           "length in seconds, with # comments. Save it, change a value, and give the file\n"
                           "with --schedule: the curves, the shader and the sections all follow it. Each\n"
                           "value is written so that it reads back exactly: the printed built-in schedule\n"
                           "draws every frame bit for bit as the show does. With --schedule FILE it prints\n"
                           "that file's values instead, once they are checked.\n",
                           {textOption("--schedule", "FILE", &sources.schedule, "print this schedule file's values")},
                           "",
                           ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    std::fputs(scheduleText(offline.schedule).c_str(), stdout);
    return EXIT_DONE;
}

static uint32_t bits(float value)
{
    uint32_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

static int runParams(int argc, char** argv)
{
    bool hex = false;
    std::vector<uint32_t> positions;
    DrawingSources sources;
    const CommandLine line{"vantrop-render params",
                           "[--hex] [--schedule FILE] MS...",
                           "Prints the eight frame parameters that the show uploads at each music position\n"
                           "MS (whole milliseconds): a header line, then one line per position with the\n"
                           "position and the slots time finale glitch spare beat hit warp pulseGain.\n"
                           "Values print with 9 significant digits, enough to read back every float\n"
                           "exactly.\n",
                           {flagOption("--hex", &hex, "print the values' IEEE-754 bit patterns instead"),
                            scheduleOption(&sources.schedule), required(positionsOption("", "MS", &positions, ""))},
                           "",
                           ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    std::puts("ms time finale glitch spare beat hit warp pulseGain");
    for (uint32_t ms : positions) {
        const FrameParams p = computeFrameParams(offline.schedule, ms);
        const float slots[] = {p.time, p.finale, p.glitch, p.spare, p.beat, p.hit, p.warp, p.pulseGain};
        std::printf("%u", ms);
        for (float s : slots) {
            if (hex)
                std::printf(" 0x%08X", bits(s));
            else
                std::printf(" %.9g", double(s));
        }
        std::putchar('\n');
    }
    return EXIT_DONE;
}

// Draws the frame at ms at width x height; false with *error.
static bool drawFrame(Offline& offline, int width, int height, uint32_t ms, std::vector<uint8_t>& rgb,
                      std::string* error)
{
    const bool drawn = openOfflineRendererForFrame(offline, width, height, ms, error);
    if (drawn) rgb = renderImage(offline, ms, width, height);
    closeOffline(offline);
    return drawn;
}

static int runFrame(int argc, char** argv)
{
    uint32_t ms = 0;
    PictureSize size;
    std::string out;
    bool force = false;
    DrawingSources sources;
    const CommandLine line{
        "vantrop-render frame",
        "--ms MS [--size WxH] [--shaders DIR] [--schedule FILE] [--tracks FILE] [--force] --out FILE.png",
        "Renders the frame that the show draws at music position MS (milliseconds) and\n"
        "writes it as an 8-bit RGB PNG.\n",
        {required(defaultSaid(positionOption("--ms", &ms, "the music position, milliseconds"), "")),
         sizeOption("--size", &size, "any 16:9 size"),
         required(textOption("--out", "FILE.png", &out, "the picture's file")), shadersOption(&sources.shaders),
         scheduleOption(&sources.schedule), tracksOption(&sources.tracks), forceOption(&force)},
        "",
        ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    std::string error;
    std::vector<uint8_t> frame;
    if (!checkOutputPath(out, {".png"}, {}, &error) || !checkNameFree(out, force, &error) ||
        !drawFrame(offline, size.width, size.height, ms, frame, &error) ||
        !writePngFileSafely(out, size.width, size.height, frame, force, &error))
        return failed(line.command, error);
    return EXIT_DONE;
}

// The icon's frame and its sizes, pixels.
static constexpr uint32_t ICON_DEFAULT_MS = 41500;
static constexpr int ICON_MIN_SIZE = 16, ICON_MAX_SIZE = 1024;

static int runIcon(int argc, char** argv)
{
    uint32_t ms = ICON_DEFAULT_MS, size = 0;
    std::string out;
    bool force = false;
    DrawingSources sources;
    const CommandLine line{
        "vantrop-render icon",
        "--size N --out FILE.png [--ms MS] [--shaders DIR] [--schedule FILE] [--tracks FILE] [--force]",
        "Draws the frame at MS at N pixels high, cut to its middle N x N square: the\n"
        "programs' icon (the build makes it at the sizes the desktop's icon theme\n"
        "expects).\n",
        {required(defaultSaid(
             countOption("--size", "N", &size, ICON_MIN_SIZE, ICON_MAX_SIZE, "the icon's side, pixels"), "")),
         required(textOption("--out", "FILE.png", &out, "the icon's file")),
         positionOption("--ms", &ms, "the music position, milliseconds"), shadersOption(&sources.shaders),
         scheduleOption(&sources.schedule), tracksOption(&sources.tracks), forceOption(&force)},
        "",
        ""};
    Offline offline;
    if (const int status = parseDrawingCommand(line, argc, argv, sources, offline); status >= 0) return status;
    // The show's framing at N pixels high, its middle square kept.
    const int height = int(size), width = (height * 16 + 8) / 9, left = (width - height) / 2;
    std::string error;
    std::vector<uint8_t> frame;
    if (!checkOutputPath(out, {".png"}, {}, &error) || !checkNameFree(out, force, &error) ||
        !drawFrame(offline, width, height, ms, frame, &error))
        return failed(line.command, error);
    std::vector<uint8_t> square(size_t(height) * height * 3);
    for (int y = 0; y < height; ++y)
        std::copy_n(&frame[(size_t(y) * width + left) * 3], size_t(height) * 3, &square[size_t(y) * height * 3]);
    if (!writePngFileSafely(out, height, height, square, force, &error)) return failed(line.command, error);
    return EXIT_DONE;
}

struct RenderCommand {
    const char* name;
    const char* usage; // its usage in short, for the list
    const char* what;  // what it does, in a line
    int (*run)(int argc, char** argv);
};

static const RenderCommand COMMANDS[] = {
    {"params", "[--hex] MS...", "print the frame parameters at music positions (milliseconds)", runParams},
    {"schedule", "", "print the built-in schedule as a file to edit (--schedule FILE)", runSchedule},
    {"tracks", "", "print the shader's tracks as a file to edit (--tracks FILE)", runTracks},
    {"frame", "--ms MS ...", "render the frame at a music position to a PNG file", runFrame},
    {"video", "--out FILE.mp4", "export the show, with its music, as a video (needs ffmpeg)", runVideo},
    {"join", "PART... --out FILE", "join the parts of an export (video --part K/N) into its video", runJoin},
    {"sheet", "--out FILE.png", "a contact sheet: a labelled still every few beats", runSheet},
    {"icon", "--size N ...", "a square icon cut from a frame of the show", runIcon},
    {"flashes", "", "measure the show's flashes against the photosensitivity thresholds", runFlashes},
    {"site", "--out DIR", "publish the show, edited or not, as a static web site", runSite},
    {"bench", "", "time the show's frames on this machine's renderer", runBench},
};

static std::string mainHelp()
{
    std::string text =
        "Usage: vantrop-render COMMAND [OPTIONS]\n"
        "\n"
        "Draws the vantrop show without a display, with the show's own renderer.\n"
        "\n"
        "commands:\n";
    for (const RenderCommand& c : COMMANDS) {
        std::string label = std::string(c.name) + (*c.usage ? " " : "") + c.usage;
        label.resize(std::max<size_t>(label.size() + 1, 22), ' ');
        text += "  " + label + " " + c.what + "\n";
    }
    return text +
        "\n"
        "'vantrop-render COMMAND --help' explains each command; --version prints the\n"
        "version. Outputs are written to a temporary file beside them and moved into\n"
        "place when complete, so a failed run leaves nothing behind; an existing file\n"
        "is replaced only with --force.\n";
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(mainHelp().c_str(), stderr);
        return EXIT_USAGE;
    }
    const std::string command = argv[1];
    if (isHelp(argv[1])) {
        std::fputs(mainHelp().c_str(), stdout);
        return EXIT_DONE;
    }
    if (isVersion(argv[1])) {
        std::printf("vantrop-render %s\n", VANTROP_VERSION);
        return EXIT_DONE;
    }
    for (const RenderCommand& c : COMMANDS)
        if (command == c.name) return c.run(argc - 2, argv + 2);
    std::fprintf(stderr, "vantrop-render: unknown command '%s' (see 'vantrop-render --help')\n", command.c_str());
    return EXIT_USAGE;
}
