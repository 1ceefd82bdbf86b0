// vantrop-studio's command line.
#include "cli/command_line.h"
#include "render/from_readable.h"
#include "studio/studio.h"

#include <cstdio>
#include <cstdlib>

static const char* const PROGRAM = "vantrop-studio";

// Where the music and the shaders are found unless named, in each system's layout.
#ifdef _WIN32
#define DEFAULT_MUSIC "in the working folder)\n"
#define DEFAULT_SHADERS                                                        \
    "the shaders folder beside\n"                                              \
    "                 the program, else those the build used; the last line\n" \
    "                 below says which)\n"
#else
#define DEFAULT_MUSIC               \
    "in the working folder, else\n" \
    "                 in $XDG_DATA_HOME/vantrop, ~/.local/share/vantrop)\n"
#define DEFAULT_SHADERS                                                              \
    "the installed ones in\n"                                                        \
    "                 share/vantrop/shaders beside the program's bin/, else those\n" \
    "                 the build used; the last line below says which)\n"
#endif

static const char* const HELP =
    "Usage: vantrop-studio [OPTION]...\n"
    "\n"
    "Plays the vantrop show in a resizable window (no display mode change), with\n"
    "the music, for editing it: the shader is repacked and rebuilt whenever a file\n"
    "in its folder changes; a broken edit keeps the last good picture and names\n"
    "the readable file and line. The picture is always the one the show draws at\n"
    "the music's position.\n"
    "\n"
    "  --size WxH     the window's size at start, 16:9 (default 1280x720)\n"
    "  --music FILE   the music (default lomu_hmm.mp3 " DEFAULT_MUSIC
    "  --from MS      start at this position, milliseconds\n"
    "  --loop A B     loop from A to B milliseconds\n"
    "  --paused       start paused\n"
    "  --message-box  also tell a failure to start in a message box (the menu's\n"
    "                 entry starts it so, where nobody reads the terminal)\n"
    "  --shaders DIR  the readable shader sources (default: " DEFAULT_SHADERS
    "  --schedule FILE  time the show by this schedule ('vantrop-render schedule'\n"
    "                 prints the built-in one to start from), watched like the\n"
    "                 shaders: an edit is on screen at once, the music where it was\n"
    "  --preview S    draw at 1/S of the window's size and scale up; auto keeps\n"
    "                 moving frames under 50 ms and draws full size when paused\n"
    "\n"
    "mouse, on the timeline strip along the bottom (shown with the overlay):\n"
    "  click: seek there; with Shift to the nearest beat; drag: scrub (the sound\n"
    "  comes back on release); right-drag or Ctrl+drag: set the loop; wheel: zoom\n"
    "  around the mouse (a zoomed strip follows the playhead)\n"
    "\n"
    "keys:\n"
    "  Space          pause / play (the sound resumes at the same sample)\n"
    "  Left, Right    to the whole beat before / the next one; with Shift to the\n"
    "                 bar line (4 beats) before / the next\n"
    "  PgUp, PgDn     to the 8-bar line before / the next\n"
    "  , .            one frame (of 60 a second) back / ahead\n"
    "  Home           the start\n"
    "  J, K, L        back / stop / ahead; each further L doubles the speed up to\n"
    "                 8x (sound only at 1x)\n"
    "  [, ]           loop in / out at the current position\n"
    "  Backspace      clear the loop\n"
    "  1 to 8         the start of the show's sections, in order\n"
    "  P              cycle the preview scale (1, 2, 4, auto)\n"
    "  Tab            show / hide the overlay\n"
    "  M              show / hide the eight frame parameters (the uniform m) on it\n"
    "  F11            full screen / window\n"
    "  F12            save the frame as drawn to a new vantrop-studio-MS.png here\n"
    "                 (MS-2, MS-3... when taken)\n"
    "  E              export the loop (or the whole show) as a video, at the\n"
    "                 picture's size, to a new vantrop-studio-FROM-TO.mp4 here\n"
    "                 (vantrop-render video draws it; the window goes on)\n"
    "  Esc            quit\n";

int parseStudioOptions(int argc, char** argv, StudioOptions& o)
{
    std::vector<std::string> seen;
    std::string error;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (optionRepeated(PROGRAM, seen, arg)) return EXIT_USAGE;
        if (isHelp(argv[i])) {
            std::fputs(HELP, stdout);
            std::string looked;
            const std::string folder = defaultShaderFolder(&looked);
            std::printf("\nshaders without --shaders: %s\n",
                        folder.empty() ? ("none found (looked in " + looked + ")").c_str() : folder.c_str());
            return 0;
        }
        if (isVersion(argv[i])) {
            std::printf("vantrop-studio %s\n", VANTROP_VERSION);
            return 0;
        }
        if (arg == "--paused") {
            o.paused = true;
        } else if (arg == "--message-box") {
            o.messageBox = true;
        } else if (arg == "--size" && hasValue) {
            if (!parseSize(argv[++i], o.width, o.height, &error)) return usageError(PROGRAM, error);
        } else if (arg == "--music" && hasValue) {
            o.music = argv[++i];
        } else if (arg == "--shaders" && hasValue) {
            o.shaders = argv[++i];
        } else if (arg == "--schedule" && hasValue) {
            o.schedule = argv[++i];
        } else if (arg == "--from" && hasValue) {
            if (!parsePosition(argv[++i], o.from)) return usageError(PROGRAM, badPositionMessage("--from", argv[i]));
        } else if (arg == "--loop" && i + 2 < argc) {
            if (!parsePosition(argv[i + 1], o.loopIn) || !parsePosition(argv[i + 2], o.loopOut) ||
                o.loopOut <= o.loopIn)
                return usageError(PROGRAM,
                                  "bad --loop: give two positions in milliseconds, the first before the second");
            o.loop = true;
            i += 2;
        } else if (arg == "--preview" && hasValue) {
            const std::string s = argv[++i];
            if (s == "auto")
                o.preview = AUTO_PREVIEW;
            else if (s == "1" || s == "2" || s == "4")
                o.preview = std::atoi(s.c_str());
            else
                return usageError(PROGRAM, "bad --preview '" + s + "': give 1, 2, 4 or auto");
        } else {
            return usageError(PROGRAM, "unknown argument or missing value: '" + arg + "'");
        }
    }
    return -1;
}
