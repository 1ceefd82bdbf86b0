// vantrop-render: the show's companion program. It draws any moment of the
// show without a display, with the show's own renderer.
#include "cli/command_line.h"
#include "files/output_file.h"
#include "image/png_file.h"
#include "render_tool/bench.h"
#include "render_tool/export_video.h"
#include "render_tool/offline.h"
#include "render_tool/sheet.h"
#include "timeline/schedule_file.h"
#include "timeline/timeline.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

static const char* const MAIN_HELP =
    "Usage: vantrop-render COMMAND [OPTIONS]\n"
    "\n"
    "Draws the vantrop show without a display, with the show's own renderer.\n"
    "\n"
    "commands:\n"
    "  params [--hex] MS...   print the frame parameters at music positions (milliseconds)\n"
    "  schedule               print the built-in schedule as a file to edit (--schedule FILE)\n"
    "  frame --ms MS ...      render the frame at a music position to a PNG file\n"
    "  video --out FILE.mp4   export the show, with its music, as a video (needs ffmpeg)\n"
    "  sheet --out FILE.png   a contact sheet: a labelled still every few beats\n"
    "  icon --size N ...      a square icon cut from a frame of the show\n"
    "  bench                  time the show's frames on this machine's renderer\n"
    "\n"
    "'vantrop-render COMMAND --help' explains each command; --version prints the\n"
    "version. Outputs are written to a temporary file beside them and moved into\n"
    "place when complete, so a failed run leaves nothing behind.\n";

static const char* const PARAMS_HELP =
    "Usage: vantrop-render params [--hex] [--schedule FILE] MS...\n"
    "\n"
    "Prints the eight frame parameters that the show uploads at each music position\n"
    "MS (an unsigned 32-bit count of milliseconds): a header line, then one line per\n"
    "position with the position and the slots time finale glitch spare beat hit warp\n"
    "pulseGain. Values print with 9 significant digits, enough to read back every\n"
    "float exactly; --hex prints their IEEE-754 bit patterns instead.\n";

static const char* const FRAME_HELP =
    "Usage: vantrop-render frame --ms MS [--size WxH] [--shaders DIR] [--schedule FILE] --out FILE.png\n"
    "\n"
    "Renders the frame that the show draws at music position MS (milliseconds) and\n"
    "writes it as an 8-bit RGB PNG. --size takes any 16:9 size (default 1280x720).\n";

static const char* const SCHEDULE_HELP =
    "Usage: vantrop-render schedule [--schedule FILE]\n"
    "\n"
    "Prints the show's schedule in the form that --schedule FILE reads (every\n"
    "command here, vantrop and vantrop-studio take it): one NAME = value a line for\n"
    "every beat at which something starts or ends, the fades' rates and the beat's\n"
    "length in seconds, with # comments. Save it, change a value, and give the file\n"
    "with --schedule: the curves, the shader and the sections all follow it. Each\n"
    "value is written so that it reads back exactly: the printed built-in schedule\n"
    "draws every frame bit for bit as the show does. With --schedule FILE it prints\n"
    "that file's values instead, once they are checked.\n";

static int runSchedule(int argc, char** argv)
{
    std::string error;
    Offline offline;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(SCHEDULE_HELP, stdout);
            return 0;
        }
        if (arg == "--schedule" && i + 1 < argc && i == 0 && argc == 2) {
            if (!useScheduleFile(offline, argv[++i], &error)) return usageError("vantrop-render schedule", error);
        } else {
            return usageError("vantrop-render schedule", "unknown argument '" + arg + "'");
        }
    }
    std::fputs(scheduleText(offline.schedule).c_str(), stdout);
    return 0;
}

static const char* const ICON_HELP =
    "Usage: vantrop-render icon --size N --out FILE.png [--ms MS]\n"
    "\n"
    "Draws the frame at MS (default 41500) at N pixels high, cut to its middle N x N\n"
    "square: the programs' icon (the build makes it at the sizes the desktop's icon\n"
    "theme expects). N is 16 to 1024.\n";

static constexpr uint32_t ICON_DEFAULT_MS = 41500;
static constexpr int ICON_MIN_SIZE = 16, ICON_MAX_SIZE = 1024;

static int runIcon(int argc, char** argv)
{
    uint32_t ms = ICON_DEFAULT_MS, size = 0;
    std::string out, error;
    std::vector<std::string> seen;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(ICON_HELP, stdout);
            return 0;
        }
        if (optionRepeated("vantrop-render icon", seen, arg)) return EXIT_USAGE;
        if (i + 1 >= argc) return usageError("vantrop-render icon", "unknown argument or missing value: '" + arg + "'");
        const char* value = argv[++i];
        if (arg == "--ms" && !parsePosition(value, ms))
            return usageError("vantrop-render icon", badPositionMessage("--ms", value));
        if (arg == "--size" && (!parseUint32(value, size) || size < ICON_MIN_SIZE || size > ICON_MAX_SIZE))
            return usageError("vantrop-render icon", std::string("bad --size '") + value + "': give 16 to 1024 pixels");
        if (arg == "--out") out = value;
        if (arg != "--ms" && arg != "--size" && arg != "--out")
            return usageError("vantrop-render icon", "unknown argument '" + arg + "'");
    }
    if (size == 0 || out.empty()) return usageError("vantrop-render icon", "--size N and --out FILE.png are required");
    if (!checkOutputPath(out, {".png"}, {}, &error)) {
        std::fprintf(stderr, "vantrop-render icon: %s\n", error.c_str());
        return 1;
    }
    // The show's framing at N pixels high, its middle square kept.
    const int height = int(size), width = (height * 16 + 8) / 9, left = (width - height) / 2;
    Offline offline;
    const bool drawn = openOfflineRendererForFrame(offline, width, height, ms, &error);
    const std::vector<uint8_t> frame = drawn ? renderImage(offline, ms, width, height) : std::vector<uint8_t>();
    closeOffline(offline);
    if (!drawn) {
        std::fprintf(stderr, "vantrop-render icon: %s\n", error.c_str());
        return 1;
    }
    std::vector<uint8_t> square(size_t(height) * height * 3);
    for (int y = 0; y < height; ++y)
        std::copy_n(&frame[(size_t(y) * width + left) * 3], size_t(height) * 3, &square[size_t(y) * height * 3]);
    if (!writePngFileSafely(out, height, height, square, &error)) {
        std::fprintf(stderr, "vantrop-render icon: %s\n", error.c_str());
        return 1;
    }
    return 0;
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
    Offline offline;
    for (int i = 0; i < argc; ++i) {
        if (isHelp(argv[i])) {
            std::fputs(PARAMS_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--hex") == 0) {
            hex = true;
            continue;
        }
        if (std::strcmp(argv[i], "--schedule") == 0) {
            std::string error;
            if (i + 1 >= argc) return usageError("vantrop-render params", "--schedule needs a file");
            if (!useScheduleFile(offline, argv[++i], &error)) return usageError("vantrop-render params", error);
            continue;
        }
        uint32_t ms = 0;
        if (!parsePosition(argv[i], ms))
            return usageError("vantrop-render params", badPositionMessage("position", argv[i]));
        positions.push_back(ms);
    }
    if (positions.empty()) return usageError("vantrop-render params", "give at least one position in milliseconds");
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
    return 0;
}

static int runFrame(int argc, char** argv)
{
    bool haveMs = false;
    uint32_t ms = 0;
    int width = DEFAULT_PICTURE_WIDTH, height = DEFAULT_PICTURE_HEIGHT;
    std::string out, error;
    std::vector<std::string> seen;
    Offline offline;
    for (int i = 0; i < argc; ++i) {
        const std::string arg = argv[i];
        if (isHelp(argv[i])) {
            std::fputs(FRAME_HELP, stdout);
            std::fputs(SHADERS_OPTION_HELP, stdout);
            std::fputs(SCHEDULE_OPTION_HELP, stdout);
            return 0;
        }
        if (optionRepeated("vantrop-render frame", seen, arg)) return EXIT_USAGE;
        if (i + 1 >= argc &&
            (arg == "--ms" || arg == "--size" || arg == "--out" || arg == "--shaders" || arg == "--schedule"))
            return usageError("vantrop-render frame", arg + " needs a value");
        if (arg == "--ms") {
            if (!parsePosition(argv[++i], ms))
                return usageError("vantrop-render frame", badPositionMessage("--ms", argv[i]));
            haveMs = true;
        } else if (arg == "--size") {
            if (!parseSize(argv[++i], width, height, &error)) return usageError("vantrop-render frame", error);
        } else if (arg == "--out") {
            out = argv[++i];
        } else if (arg == "--shaders") {
            if (!useShaderFolder(offline, argv[++i], &error)) return usageError("vantrop-render frame", error);
        } else if (arg == "--schedule") {
            if (!useScheduleFile(offline, argv[++i], &error)) return usageError("vantrop-render frame", error);
        } else {
            return usageError("vantrop-render frame", "unknown argument '" + arg + "'");
        }
    }
    if (!haveMs) return usageError("vantrop-render frame", "--ms is required");
    if (out.empty()) return usageError("vantrop-render frame", "--out is required");
    if (!checkOutputPath(out, {".png"}, {}, &error)) {
        std::fprintf(stderr, "vantrop-render frame: %s\n", error.c_str());
        return 1;
    }
    const bool drawn = openOfflineRendererForFrame(offline, width, height, ms, &error);
    const std::vector<uint8_t> frame = drawn ? renderImage(offline, ms, width, height) : std::vector<uint8_t>();
    closeOffline(offline);
    if (!drawn || !writePngFileSafely(out, width, height, frame, &error)) {
        std::fprintf(stderr, "vantrop-render frame: %s\n", error.c_str());
        return 1;
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fputs(MAIN_HELP, stderr);
        return EXIT_USAGE;
    }
    const std::string command = argv[1];
    if (isHelp(argv[1])) {
        std::fputs(MAIN_HELP, stdout);
        return 0;
    }
    if (command == "--version") {
        std::printf("vantrop-render %s\n", VANTROP_VERSION);
        return 0;
    }
    if (command == "params") return runParams(argc - 2, argv + 2);
    if (command == "schedule") return runSchedule(argc - 2, argv + 2);
    if (command == "frame") return runFrame(argc - 2, argv + 2);
    if (command == "video") return runVideo(argc - 2, argv + 2);
    if (command == "sheet") return runSheet(argc - 2, argv + 2);
    if (command == "bench") return runBench(argc - 2, argv + 2);
    if (command == "icon") return runIcon(argc - 2, argv + 2);
    std::fprintf(stderr, "vantrop-render: unknown command '%s' (see 'vantrop-render --help')\n", command.c_str());
    return EXIT_USAGE;
}
